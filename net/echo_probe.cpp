#include "net/echo_probe.h"

#include <arpa/inet.h>
#include <linux/errqueue.h>
#include <linux/filter.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "platform/address_text.h"
#include "platform/unique_fd.h"

namespace vorpane {

namespace {

constexpr uint8_t kEchoRequestType = 8;
constexpr uint8_t kRecordRoute = 7;
constexpr uint8_t kRecordRouteLength = 39;
constexpr uint8_t kRecordRouteFirstSlot = 4;

bool IsTimeout(int error) {
    return error == EAGAIN || error == EWOULDBLOCK;
}

void PutLittleEndian16(uint8_t* at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

void PutLittleEndian32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<uint8_t>(value >> (8 * i));
    }
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
    int KeepOnlyFrom(const in_addr& source) override {
        // A raw socket sees every ICMP datagram reaching the host: the
        // replies meant for the other probes of a scan and the storm of
        // host-unreachables the kernel sends for dead neighbours. Each would
        // restart this probe's wait. The ping socket is already filtered by
        // the kernel to our own identifier.
        if (m_datagram) {
            return 0;
        }
        sock_filter code[] = {
            // A = source address, bytes 12..15 of the IPv4 header.
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, 12),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ntohl(source.s_addr), 0, 1),
            BPF_STMT(BPF_RET | BPF_K, 0xFFFFFFFFu),
            BPF_STMT(BPF_RET | BPF_K, 0),
        };
        sock_fprog program{static_cast<unsigned short>(std::size(code)), code};
        return setsockopt(m_fd.get(), SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) == 0
                   ? 0
                   : errno;
    }
    int SetReceiveTimeout(int32_t milliseconds) override {
        return SetTimeout(m_fd.get(), SO_RCVTIMEO, milliseconds);
    }
    int SetSendTimeout(int32_t milliseconds) override {
        return SetTimeout(m_fd.get(), SO_SNDTIMEO, milliseconds);
    }

    IcmpIoResult SendTo(std::span<const uint8_t> datagram, const sockaddr_in& to) override {
        const ssize_t sent = sendto(m_fd.get(), datagram.data(), datagram.size(), 0,
                                    reinterpret_cast<const sockaddr*>(&to), sizeof to);
        if (sent < 0) {
            return {0, errno};
        }
        return {static_cast<int32_t>(sent), 0};
    }

    IcmpIoResult ReceiveFrom(std::span<uint8_t> buffer, sockaddr_in& from) override {
        socklen_t length = sizeof from;
        const ssize_t got = recvfrom(m_fd.get(), buffer.data(), buffer.size(), 0,
                                     reinterpret_cast<sockaddr*>(&from), &length);
        if (got >= 0) {
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
    bool ReadErrorQueue(std::span<uint8_t> buffer, sockaddr_in& from, IcmpIoResult& result) {
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
            from = offender;
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
};

}  // namespace

IcmpSocketOrError SystemIcmpSocketFactory::Open() {
    // Raw ICMP first. EPERM (or EACCES under some security modules) means the
    // caller lacks CAP_NET_RAW; any other errno is a real failure.
    UniqueFd raw(socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP));
    if (raw.valid()) {
        return {std::make_unique<SystemIcmpSocket>(std::move(raw), false), 0};
    }
    const int rawError = errno;
    if (rawError != EPERM && rawError != EACCES) {
        return {nullptr, rawError};
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

SystemIcmpSocketFactory& SystemIcmpSocketFactory::Instance() {
    static SystemIcmpSocketFactory factory;
    return factory;
}

uint64_t SteadyMillisecondClock::NowMs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

SteadyMillisecondClock& SteadyMillisecondClock::Instance() {
    static SteadyMillisecondClock clock;
    return clock;
}

CEchoProbe::CEchoProbe() : CEchoProbe(SystemIcmpSocketFactory::Instance()) {}

CEchoProbe::CEchoProbe(IcmpSocketFactory& sockets)
    : CEchoProbe(sockets, SteadyMillisecondClock::Instance()) {}

CEchoProbe::CEchoProbe(IcmpSocketFactory& sockets, MillisecondClock& clock)
    : m_sockets(&sockets), m_clock(&clock) {}

void CEchoProbe::FillEchoRequest(uint8_t* request) {
    request[0] = kEchoRequestType;
    request[1] = 0;
    PutLittleEndian16(request + 2, 0);
    PutLittleEndian16(request + 4, static_cast<uint16_t>(getpid() & 0xFFFF));
    PutLittleEndian16(request + 6, 0);
    PutLittleEndian32(request + 8, 0);
}

uint16_t CEchoProbe::Checksum(const uint8_t* bytes, size_t count) {
    // 64 bits cannot overflow for any buffer that fits in memory.
    uint64_t sum = 0;
    size_t i = 0;
    for (; i + 1 < count; i += 2) {
        sum += static_cast<uint64_t>(bytes[i]) << 8 | bytes[i + 1];
    }
    if (i < count) {
        sum += static_cast<uint64_t>(bytes[i]) << 8;
    }
    while (sum > 0xFFFF) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<uint16_t>(~sum & 0xFFFF);
}

int32_t CEchoProbe::Probe(const std::string& address, int32_t timeoutMs) {
    // A zero time-out would mean "wait for ever" to the socket; text that is
    // no address must not turn into a request to some other host.
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    if (timeoutMs <= 0 || inet_pton(AF_INET, address.c_str(), &destination.sin_addr) != 1) {
        return -1;
    }

    IcmpSocketOrError opened = m_sockets->Open();
    if (!opened.socket) {
        return -1;
    }
    IcmpSocket& socket = *opened.socket;
    // Without the filter the probe still works, only more slowly in a busy
    // scan, so its failure is not the probe's.
    socket.KeepOnlyFrom(destination.sin_addr);

    std::array<uint8_t, kIpOptionsSize> options{};
    options[0] = kRecordRoute;
    options[1] = kRecordRouteLength;
    options[2] = kRecordRouteFirstSlot;
    if (socket.SetIpOptions(options) != 0 || socket.SetReceiveTimeout(timeoutMs) != 0 ||
        socket.SetSendTimeout(timeoutMs) != 0) {
        return -1;
    }

    std::array<uint8_t, kBufferSize> request{};
    std::array<uint8_t, kBufferSize> reply{};
    FillEchoRequest(request.data());

    const uint64_t deadline =
        m_clock->NowMs() + static_cast<uint64_t>(timeoutMs) * kTimeoutsPerProbe;
    int32_t receiveTimeout = timeoutMs;
    int counted = 0;
    uint16_t sequence = 0;
    int received = 0;

    for (;;) {
        if (++counted == 2) {
            break;
        }
        uint64_t now = m_clock->NowMs();
        if (now >= deadline) {
            break;
        }

        PutLittleEndian16(request.data() + 6, sequence++);
        PutLittleEndian16(request.data() + 2, 0);
        PutLittleEndian32(request.data() + 8, static_cast<uint32_t>(now));
        const uint16_t sum = Checksum(request.data(), kRequestSize);
        request[2] = static_cast<uint8_t>(sum >> 8);
        request[3] = static_cast<uint8_t>(sum);

        const IcmpIoResult sent =
            socket.SendTo(std::span<const uint8_t>(request.data(), kRequestSize), destination);
        if (sent.error != 0) {
            if (IsTimeout(sent.error) || sent.error == EINTR) {
                continue;
            }
            return -1;
        }

        // Wait for one datagram, never past the deadline.
        sockaddr_in source{};
        IcmpIoResult got{};
        for (;;) {
            now = m_clock->NowMs();
            if (now >= deadline) {
                got = {0, EAGAIN};
                break;
            }
            const int32_t wait =
                static_cast<int32_t>(std::min<uint64_t>(deadline - now, timeoutMs));
            if (wait != receiveTimeout) {
                if (socket.SetReceiveTimeout(wait) != 0) {
                    return -1;
                }
                receiveTimeout = wait;
            }
            source = sockaddr_in{};
            got = socket.ReceiveFrom(reply, source);
            if (got.error != EINTR) {
                break;
            }
        }
        if (got.error != 0) {
            if (IsTimeout(got.error)) {
                continue;
            }
            return -1;
        }

        if (address != Ipv4Text(ntohl(source.sin_addr.s_addr))) {
            --counted;  // someone else's traffic: this request does not count
            continue;
        }
        ++received;
    }
    return received > 0 ? 1 : 0;
}

int32_t ProbeOnce(const ProberFactory& make, const std::string& address, int32_t timeoutMs) {
    const std::unique_ptr<EchoProber> prober = make ? make() : nullptr;
    return prober ? prober->Probe(address, timeoutMs) : -1;
}

}  // namespace vorpane
