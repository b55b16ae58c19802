#include "discovery/udp_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>

#include "platform/unique_fd.h"

namespace vorpane {

namespace {

sockaddr_in ToSockaddr(const Ipv4Endpoint& e) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(e.port);
    a.sin_addr.s_addr = htonl(e.address);
    return a;
}

class SystemUdpSocket final : public UdpSocket {
public:
    explicit SystemUdpSocket(UniqueFd fd) : m_fd(std::move(fd)) {}

    int SetBroadcast(bool enable) override {
        const int on = enable ? 1 : 0;
        return setsockopt(m_fd.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) == 0 ? 0 : errno;
    }

    int SetReceiveTimeout(int32_t milliseconds) override {
        timeval tv{};
        tv.tv_sec = milliseconds / 1000;
        tv.tv_usec = static_cast<suseconds_t>(milliseconds % 1000) * 1000;
        return setsockopt(m_fd.get(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0 ? 0 : errno;
    }

    int Bind(const Ipv4Endpoint& local) override {
        const sockaddr_in a = ToSockaddr(local);
        return bind(m_fd.get(), reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0 ? 0 : errno;
    }

    UdpIoResult SendTo(std::span<const uint8_t> datagram, const Ipv4Endpoint& to) override {
        const sockaddr_in a = ToSockaddr(to);
        const ssize_t n = sendto(m_fd.get(), datagram.data(), datagram.size(), MSG_NOSIGNAL,
                                 reinterpret_cast<const sockaddr*>(&a), sizeof a);
        if (n < 0) {
            return {0, errno};
        }
        return {static_cast<int32_t>(n), 0};
    }

    UdpIoResult ReceiveFrom(std::span<uint8_t> buffer, Ipv4Endpoint& from) override {
        for (;;) {
            sockaddr_in a{};
            socklen_t length = sizeof a;
            const ssize_t n = recvfrom(m_fd.get(), buffer.data(), buffer.size(), 0,
                                       reinterpret_cast<sockaddr*>(&a), &length);
            if (n < 0) {
                // A signal is not the end of the wait the caller asked for.
                if (errno == EINTR) {
                    continue;
                }
                return {0, errno};
            }
            from.address = ntohl(a.sin_addr.s_addr);
            from.port = ntohs(a.sin_port);
            return {static_cast<int32_t>(n), 0};
        }
    }

private:
    UniqueFd m_fd;
};

}  // namespace

UdpSocketOrError OpenSystemUdpSocket() {
    UniqueFd fd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd.valid()) {
        return {nullptr, errno};
    }
    return {std::make_unique<SystemUdpSocket>(std::move(fd)), 0};
}

}  // namespace vorpane
