// The system's ICMP sockets on Linux: a raw socket, or the unprivileged
// ping socket.

#include <arpa/inet.h>
#include <linux/errqueue.h>
#include <linux/filter.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "net/echo_probe.h"
#include "platform/unique_fd.h"

namespace vorpane {

namespace {

bool IsTimeout(int error) {
    return error == EAGAIN || error == EWOULDBLOCK;
}

int SetTimeout(int fd, int option, int32_t milliseconds) {
    timeval tv{};
    tv.tv_sec = milliseconds / 1000;
    tv.tv_usec = static_cast<suseconds_t>(milliseconds % 1000) * 1000;
    return setsockopt(fd, SOL_SOCKET, option, &tv, sizeof tv) == 0 ? 0 : errno;
}

// A raw ICMP socket hands over whole IPv4 datagrams; the ping socket hands
// over the ICMP message alone, only echo replies to its own identifier, and
// (with IP_RECVERR) reports ICMP errors about its requests as a failed
// receive plus an entry in the error queue. Such an entry is turned back into
// the datagram a raw socket would have seen, so that a destination-unreachable
// from the target counts the same on both kinds of socket.
class SystemIcmpSocket final : public IcmpSocket {
public:
    SystemIcmpSocket(UniqueFd fd, bool datagram) : m_fd(std::move(fd)), m_datagram(datagram) {}

    int SetIpOptions(std::span<const uint8_t> options) override {
        return setsockopt(m_fd.get(), IPPROTO_IP, IP_OPTIONS, options.data(),
                          static_cast<socklen_t>(options.size())) == 0
                   ? 0
                   : errno;
    }
    int KeepOnlyFrom(Ipv4Address source) override {
        // A raw socket sees every ICMP datagram reaching the host: the
        // replies meant for the other probes of a scan and the storm of
        // host-unreachables the kernel sends for dead neighbours. Each would
        // restart this probe's wait. The ping socket is already filtered by
        // the kernel to our own identifier.
        if (m_datagram) {
            return 0;
        }
        sock_filter code[] = {
            // A = source address, bytes 12..15 of the IPv4 header, loaded
            // most significant byte first.
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, 12),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, source.HostOrder(), 0, 1),
            BPF_STMT(BPF_RET | BPF_K, 0xFFFFFFFFu),
            BPF_STMT(BPF_RET | BPF_K, 0),
        };
        sock_fprog program{static_cast<unsigned short>(std::size(code)), code};
        return setsockopt(m_fd.get(), SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) == 0
                   ? 0
                   : errno;
    }
    int SetReceiveTimeout(int32_t milliseconds) override {
        m_receiveTimeoutMs = milliseconds;
        return SetTimeout(m_fd.get(), SO_RCVTIMEO, milliseconds);
    }
    int SetSendTimeout(int32_t milliseconds) override {
        return SetTimeout(m_fd.get(), SO_SNDTIMEO, milliseconds);
    }

    IcmpIoResult SendTo(std::span<const uint8_t> datagram, Ipv4Address to) override {
        sockaddr_in destination{};
        destination.sin_family = AF_INET;
        destination.sin_addr.s_addr = to.NetworkOrder();
        const ssize_t sent =
            sendto(m_fd.get(), datagram.data(), datagram.size(), 0,
                   reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
        if (sent < 0) {
            return {0, errno};
        }
        return {static_cast<int32_t>(sent), 0};
    }

    IcmpIoResult ReceiveFrom(std::span<uint8_t> buffer, Ipv4Address& from) override {
        // The wait itself is a poll: the kernel rounds a socket time-out of
        // half a second up by as much as 32 ms (its coarse timer wheel), and
        // a scan waits out fifteen of them in a row. The socket time-out
        // stays set behind it.
        pollfd ready{m_fd.get(), POLLIN, 0};
        const int polled = poll(&ready, 1, m_receiveTimeoutMs);
        if (polled <= 0) {
            return {0, polled == 0 ? EAGAIN : errno};
        }
        sockaddr_in source{};
        socklen_t length = sizeof source;
        const ssize_t got = recvfrom(m_fd.get(), buffer.data(), buffer.size(), 0,
                                     reinterpret_cast<sockaddr*>(&source), &length);
        if (got >= 0) {
            from = Ipv4Address::FromNetworkOrder(source.sin_addr.s_addr);
            return {static_cast<int32_t>(got), 0};
        }
        const int error = errno;
        if (m_datagram && error != EINTR && !IsTimeout(error)) {
            IcmpIoResult queued{};
            if (ReadErrorQueue(buffer, from, queued)) {
                return queued;
            }
        }
        return {0, error};
    }

private:
    bool ReadErrorQueue(std::span<uint8_t> buffer, Ipv4Address& from, IcmpIoResult& result) {
        std::array<uint8_t, 64> original{};
        alignas(cmsghdr) std::array<uint8_t, 256> control{};
        iovec io{original.data(), original.size()};
        msghdr message{};
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        message.msg_control = control.data();
        message.msg_controllen = control.size();
        if (recvmsg(m_fd.get(), &message, MSG_ERRQUEUE | MSG_DONTWAIT) < 0) {
            return false;
        }
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_RECVERR) {
                continue;
            }
            if (c->cmsg_len < CMSG_LEN(sizeof(sock_extended_err))) {
                return false;
            }
            sock_extended_err error{};
            std::memcpy(&error, CMSG_DATA(c), sizeof error);
            if (error.ee_origin != SO_EE_ORIGIN_ICMP) {
                return false;
            }
            // The offender follows the error record; AF_UNSPEC (read as
            // 0.0.0.0) when the kernel did not know it.
            sockaddr_in offender{};
            std::memcpy(&offender, CMSG_DATA(c) + sizeof(sock_extended_err),
                        std::min<size_t>(sizeof offender,
                                         c->cmsg_len - CMSG_LEN(sizeof(sock_extended_err))));
            from = Ipv4Address::FromNetworkOrder(offender.sin_addr.s_addr);
            std::fill(buffer.begin(), buffer.end(), uint8_t{0});
            const size_t header = std::min<size_t>(buffer.size(), 8);
            if (header >= 2) {
                buffer[0] = error.ee_type;
                buffer[1] = error.ee_code;
            }
            result = {static_cast<int32_t>(header), 0};
            return true;
        }
        return false;
    }

    UniqueFd m_fd;
    bool m_datagram;
    int32_t m_receiveTimeoutMs = -1;
};

}  // namespace

IcmpSocketOrError OpenRawIcmpSocket() {
    UniqueFd raw(socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP));
    if (!raw.valid()) {
        return {nullptr, errno};
    }
    return {std::make_unique<SystemIcmpSocket>(std::move(raw), false), 0};
}

IcmpSocketOrError SystemIcmpSocketFactory::Open() {
    // Raw ICMP first. EPERM (or EACCES under some security modules) means the
    // caller lacks CAP_NET_RAW; any other errno is a real failure.
    IcmpSocketOrError raw = OpenRawIcmpSocket();
    if (raw.socket) {
        return raw;
    }
    const int rawError = raw.error;
    if (rawError != EPERM && rawError != EACCES) {
        return raw;
    }
    // The ping socket, as iputils ping tells its errors apart: EACCES means
    // the caller's group is outside net.ipv4.ping_group_range; EAFNOSUPPORT or
    // EPROTONOSUPPORT mean the kernel has no ping sockets. Either way nothing
    // can be sent; the raw socket's refusal is the more telling errno.
    UniqueFd ping(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP));
    if (!ping.valid()) {
        return {nullptr, rawError};
    }
    const int on = 1;
    if (setsockopt(ping.get(), IPPROTO_IP, IP_RECVERR, &on, sizeof on) != 0) {
        return {nullptr, errno};
    }
    return {std::make_unique<SystemIcmpSocket>(std::move(ping), true), 0};
}

}  // namespace vorpane
