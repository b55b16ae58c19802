#include "platform/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

namespace vorpane {

namespace {

sockaddr_in ToSockaddr(const Ipv4Endpoint& e) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(e.port);
    a.sin_addr.s_addr = htonl(e.address);
    return a;
}

Ipv4Endpoint FromSockaddr(const sockaddr_in& a) {
    return {ntohl(a.sin_addr.s_addr), ntohs(a.sin_port)};
}

int Result(int rc) {
    return rc == 0 ? 0 : errno;
}

SocketIo Io(ssize_t n) {
    if (n < 0) {
        return {0, errno};
    }
    return {n, 0};
}

int SetInt(int fd, int level, int option, int value) {
    return Result(setsockopt(fd, level, option, &value, sizeof value));
}

}  // namespace

Socket::Opened Socket::Open(Kind kind, bool nonBlocking) {
    int type = SOCK_STREAM;
    int protocol = 0;
    if (kind == Kind::kDatagram) {
        type = SOCK_DGRAM;
    } else if (kind == Kind::kRawIcmp) {
        type = SOCK_RAW;
        protocol = IPPROTO_ICMP;
    }
    const int fd =
        ::socket(AF_INET, type | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), protocol);
    if (fd < 0) {
        return {Socket(), errno};
    }
    return {Socket(fd), 0};
}

void Socket::Close() {
    const SocketHandle old = std::exchange(m_handle, kNoSocket);
    if (old != kNoSocket) {
        ::close(static_cast<int>(old));
    }
}

int Socket::SetNonBlocking(bool on) {
    const int fd = static_cast<int>(m_handle);
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0) {
        return errno;
    }
    return Result(fcntl(fd, F_SETFL, on ? flags | O_NONBLOCK : flags & ~O_NONBLOCK));
}

int Socket::SetReuseAddress() {
    return SetInt(static_cast<int>(m_handle), SOL_SOCKET, SO_REUSEADDR, 1);
}

int Socket::SetBroadcast(bool on) {
    return SetInt(static_cast<int>(m_handle), SOL_SOCKET, SO_BROADCAST, on ? 1 : 0);
}

int Socket::SetNoDelay() {
    return SetInt(static_cast<int>(m_handle), IPPROTO_TCP, TCP_NODELAY, 1);
}

int Socket::SetReceiveBuffer(int bytes) {
    return SetInt(static_cast<int>(m_handle), SOL_SOCKET, SO_RCVBUF, bytes);
}

int Socket::SetIpOptions(std::span<const uint8_t> options) {
    return Result(setsockopt(static_cast<int>(m_handle), IPPROTO_IP, IP_OPTIONS, options.data(),
                             static_cast<socklen_t>(options.size())));
}

int Socket::SetResetOnClose() {
    const linger abort{1, 0};
    return Result(
        setsockopt(static_cast<int>(m_handle), SOL_SOCKET, SO_LINGER, &abort, sizeof abort));
}

int Socket::Bind(const Ipv4Endpoint& local) {
    const sockaddr_in a = ToSockaddr(local);
    return Result(
        ::bind(static_cast<int>(m_handle), reinterpret_cast<const sockaddr*>(&a), sizeof a));
}

int Socket::Listen(int backlog) {
    return Result(::listen(static_cast<int>(m_handle), backlog));
}

int Socket::LocalEndpoint(Ipv4Endpoint& local) const {
    sockaddr_in a{};
    socklen_t length = sizeof a;
    if (getsockname(static_cast<int>(m_handle), reinterpret_cast<sockaddr*>(&a), &length) != 0) {
        return errno;
    }
    local = FromSockaddr(a);
    return 0;
}

Socket::Opened Socket::Accept(Ipv4Endpoint& peer) {
    sockaddr_in a{};
    socklen_t length = sizeof a;
    const int fd = static_cast<int>(m_handle);
    const int flags = fcntl(fd, F_GETFL);
    const int inherit = flags >= 0 && (flags & O_NONBLOCK) != 0 ? SOCK_NONBLOCK : 0;
    const int accepted =
        accept4(fd, reinterpret_cast<sockaddr*>(&a), &length, inherit | SOCK_CLOEXEC);
    if (accepted < 0) {
        return {Socket(), errno};
    }
    peer = FromSockaddr(a);
    return {Socket(accepted), 0};
}

int Socket::Connect(const Ipv4Endpoint& peer) {
    const sockaddr_in a = ToSockaddr(peer);
    if (::connect(static_cast<int>(m_handle), reinterpret_cast<const sockaddr*>(&a), sizeof a) ==
        0) {
        return 0;
    }
    // Interrupted, the connection goes on by itself, as one under way does.
    return errno == EINTR ? EINPROGRESS : errno;
}

int Socket::ConnectResult() const {
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(static_cast<int>(m_handle), SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        return errno;
    }
    return error;
}

int Socket::ShutdownSend() {
    return Result(::shutdown(static_cast<int>(m_handle), SHUT_WR));
}

int Socket::ShutdownBoth() {
    return Result(::shutdown(static_cast<int>(m_handle), SHUT_RDWR));
}

SocketIo Socket::Send(std::span<const uint8_t> bytes) {
    if (const int error = AwaitTimeout(kSocketWritable); error != 0) {
        return {0, error};
    }
    const int fd = static_cast<int>(m_handle);
    for (;;) {
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return Io(n);
    }
}

SocketIo Socket::Receive(std::span<uint8_t> buffer) {
    if (const int error = AwaitTimeout(kSocketReadable); error != 0) {
        return {0, error};
    }
    const int fd = static_cast<int>(m_handle);
    for (;;) {
        const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return Io(n);
    }
}

SocketIo Socket::SendTo(std::span<const uint8_t> datagram, const Ipv4Endpoint& to) {
    if (const int error = AwaitTimeout(kSocketWritable); error != 0) {
        return {0, error};
    }
    const int fd = static_cast<int>(m_handle);
    const sockaddr_in a = ToSockaddr(to);
    for (;;) {
        const ssize_t n = ::sendto(fd, datagram.data(), datagram.size(), MSG_NOSIGNAL,
                                   reinterpret_cast<const sockaddr*>(&a), sizeof a);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return Io(n);
    }
}

SocketIo Socket::ReceiveFrom(std::span<uint8_t> buffer, Ipv4Endpoint& from) {
    if (const int error = AwaitTimeout(kSocketReadable); error != 0) {
        return {0, error};
    }
    const int fd = static_cast<int>(m_handle);
    for (;;) {
        sockaddr_in a{};
        socklen_t length = sizeof a;
        const ssize_t n = ::recvfrom(fd, buffer.data(), buffer.size(), 0,
                                     reinterpret_cast<sockaddr*>(&a), &length);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n >= 0) {
            from = FromSockaddr(a);
        }
        return Io(n);
    }
}

extern const int32_t kMaxPollSockets = 16384;

int PollSockets(std::span<SocketPoll> items, int timeoutMs) {
    std::vector<pollfd> fds(items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        const short events =
            static_cast<short>(((items[i].events & kSocketReadable) ? POLLIN : 0) |
                               ((items[i].events & kSocketWritable) ? POLLOUT : 0));
        fds[i] = {static_cast<int>(items[i].handle), events, 0};
    }
    const int rc = ::poll(fds.data(), fds.size(), timeoutMs);
    if (rc <= 0) {
        return rc == 0 ? EAGAIN : errno;
    }
    for (size_t i = 0; i < items.size(); ++i) {
        const short r = fds[i].revents;
        const bool trouble = (r & (POLLERR | POLLHUP | POLLNVAL)) != 0;
        items[i].ready = static_cast<short>(((r & POLLIN) || trouble ? kSocketReadable : 0) |
                                            ((r & POLLOUT) || trouble ? kSocketWritable : 0));
        items[i].ready &= items[i].events;
    }
    return 0;
}

SocketWaker::Created SocketWaker::Create() {
    const int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0) {
        return {std::nullopt, errno};
    }
    return {SocketWaker(Socket(fd)), 0};
}

void SocketWaker::Wake() {
    const uint64_t one = 1;
    while (::write(static_cast<int>(m_socket.Handle()), &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void SocketWaker::Drain() {
    uint64_t count = 0;
    while (::read(static_cast<int>(m_socket.Handle()), &count, sizeof count) < 0 &&
           errno == EINTR) {
    }
}

SocketLibrary::SocketLibrary() = default;
SocketLibrary::~SocketLibrary() = default;

std::string SocketErrorText(int error) {
    return std::strerror(error);
}

}  // namespace vorpane
