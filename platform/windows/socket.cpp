// Winsock 2 sockets. Winsock's own codes become the errno codes the POSIX
// side gives, so callers test one set.

// Before any Winsock header: the size of select's sets, kMaxPollSockets.
#define FD_SETSIZE 1024

#include "platform/socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

namespace vorpane {

namespace {

struct ErrorPair {
    int wsa;
    int posix;
    const char* text;
};

constexpr ErrorPair kErrors[] = {
    {WSAEWOULDBLOCK, EWOULDBLOCK, "Resource temporarily unavailable"},
    {WSAEINPROGRESS, EINPROGRESS, "Operation now in progress"},
    {WSAEALREADY, EALREADY, "Operation already in progress"},
    {WSAEINTR, EINTR, "Interrupted system call"},
    {WSAEACCES, EACCES, "Permission denied"},
    {WSAEINVAL, EINVAL, "Invalid argument"},
    {WSAEMFILE, EMFILE, "Too many open files"},
    {WSAENOTSOCK, ENOTSOCK, "Socket operation on non-socket"},
    {WSAEMSGSIZE, EMSGSIZE, "Message too long"},
    {WSAEPROTONOSUPPORT, EPROTONOSUPPORT, "Protocol not supported"},
    {WSAEAFNOSUPPORT, EAFNOSUPPORT, "Address family not supported by protocol"},
    {WSAEADDRINUSE, EADDRINUSE, "Address already in use"},
    {WSAEADDRNOTAVAIL, EADDRNOTAVAIL, "Cannot assign requested address"},
    {WSAENETDOWN, ENETDOWN, "Network is down"},
    {WSAENETUNREACH, ENETUNREACH, "Network is unreachable"},
    {WSAENETRESET, ENETRESET, "Network dropped connection on reset"},
    {WSAECONNABORTED, ECONNABORTED, "Software caused connection abort"},
    {WSAECONNRESET, ECONNRESET, "Connection reset by peer"},
    {WSAENOBUFS, ENOBUFS, "No buffer space available"},
    {WSAEISCONN, EISCONN, "Transport endpoint is already connected"},
    {WSAENOTCONN, ENOTCONN, "Transport endpoint is not connected"},
    {WSAESHUTDOWN, EPIPE, "Broken pipe"},
    {WSAETIMEDOUT, ETIMEDOUT, "Connection timed out"},
    {WSAECONNREFUSED, ECONNREFUSED, "Connection refused"},
    {WSAEHOSTUNREACH, EHOSTUNREACH, "No route to host"},
    {WSANOTINITIALISED, ENETDOWN, "Network is down"},
};

int FromWsa(int wsa) {
    for (const ErrorPair& e : kErrors) {
        if (e.wsa == wsa) {
            return e.posix;
        }
    }
    return EIO;
}

int LastError() {
    return FromWsa(WSAGetLastError());
}

SOCKET Native(SocketHandle h) {
    return static_cast<SOCKET>(h);
}

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
    return rc == 0 ? 0 : LastError();
}

template <typename T>
int SetOption(SocketHandle h, int level, int option, const T& value) {
    return Result(
        setsockopt(Native(h), level, option, reinterpret_cast<const char*>(&value), sizeof value));
}

// Winsock counts at most INT_MAX bytes a call.
int Clamp(size_t size) {
    return size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(size);
}

SocketIo Io(int n) {
    if (n == SOCKET_ERROR) {
        return {0, LastError()};
    }
    return {n, 0};
}

}  // namespace

Socket::Opened Socket::Open(Kind kind, bool nonBlocking) {
    int type = SOCK_STREAM;
    int protocol = IPPROTO_TCP;
    if (kind == Kind::kDatagram) {
        type = SOCK_DGRAM;
        protocol = IPPROTO_UDP;
    } else if (kind == Kind::kRawIcmp) {
        type = SOCK_RAW;
        protocol = IPPROTO_ICMP;
    }
    const SOCKET s = WSASocketW(AF_INET, type, protocol, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) {
        return {Socket(), LastError()};
    }
    Socket socket(static_cast<SocketHandle>(s));
    if (nonBlocking) {
        if (const int error = socket.SetNonBlocking(true); error != 0) {
            return {Socket(), error};
        }
    }
    return {std::move(socket), 0};
}

void Socket::Close() {
    const SocketHandle old = std::exchange(m_handle, kNoSocket);
    if (old != kNoSocket) {
        closesocket(Native(old));
    }
}

int Socket::SetNonBlocking(bool on) {
    u_long mode = on ? 1 : 0;
    return Result(ioctlsocket(Native(m_handle), FIONBIO, &mode));
}

int Socket::SetReuseAddress() {
    // Winsock's SO_REUSEADDR would let a second program take a port that is
    // in use; a fresh listener binds without it as POSIX's does with it.
    return 0;
}

int Socket::SetBroadcast(bool on) {
    return SetOption(m_handle, SOL_SOCKET, SO_BROADCAST, BOOL(on ? TRUE : FALSE));
}

int Socket::SetNoDelay() {
    return SetOption(m_handle, IPPROTO_TCP, TCP_NODELAY, BOOL(TRUE));
}

int Socket::SetReceiveBuffer(int bytes) {
    return SetOption(m_handle, SOL_SOCKET, SO_RCVBUF, bytes);
}

int Socket::SetIpOptions(std::span<const uint8_t> options) {
    return Result(setsockopt(Native(m_handle), IPPROTO_IP, IP_OPTIONS,
                             reinterpret_cast<const char*>(options.data()),
                             static_cast<int>(options.size())));
}

int Socket::SetResetOnClose() {
    const linger abort{1, 0};
    return SetOption(m_handle, SOL_SOCKET, SO_LINGER, abort);
}

int Socket::Bind(const Ipv4Endpoint& local) {
    const sockaddr_in a = ToSockaddr(local);
    return Result(::bind(Native(m_handle), reinterpret_cast<const sockaddr*>(&a), sizeof a));
}

int Socket::Listen(int backlog) {
    return Result(::listen(Native(m_handle), backlog));
}

int Socket::LocalEndpoint(Ipv4Endpoint& local) const {
    sockaddr_in a{};
    int length = sizeof a;
    if (getsockname(Native(m_handle), reinterpret_cast<sockaddr*>(&a), &length) != 0) {
        return LastError();
    }
    local = FromSockaddr(a);
    return 0;
}

Socket::Opened Socket::Accept(Ipv4Endpoint& peer) {
    sockaddr_in a{};
    int length = sizeof a;
    // The accepted socket takes the listener's blocking mode.
    const SOCKET s = ::accept(Native(m_handle), reinterpret_cast<sockaddr*>(&a), &length);
    if (s == INVALID_SOCKET) {
        return {Socket(), LastError()};
    }
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    peer = FromSockaddr(a);
    return {Socket(static_cast<SocketHandle>(s)), 0};
}

int Socket::Connect(const Ipv4Endpoint& peer) {
    const sockaddr_in a = ToSockaddr(peer);
    if (::connect(Native(m_handle), reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0) {
        return 0;
    }
    // A non-blocking connect under way is "would block" to Winsock.
    const int error = LastError();
    return error == EWOULDBLOCK ? EINPROGRESS : error;
}

int Socket::ConnectResult() const {
    int error = 0;
    int length = sizeof error;
    if (getsockopt(Native(m_handle), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                   &length) != 0) {
        return LastError();
    }
    return error == 0 ? 0 : FromWsa(error);
}

int Socket::ShutdownSend() {
    return Result(::shutdown(Native(m_handle), SD_SEND));
}

int Socket::ShutdownBoth() {
    return Result(::shutdown(Native(m_handle), SD_BOTH));
}

SocketIo Socket::Send(std::span<const uint8_t> bytes) {
    if (const int error = AwaitTimeout(kSocketWritable); error != 0) {
        return {0, error};
    }
    return Io(::send(Native(m_handle), reinterpret_cast<const char*>(bytes.data()),
                     Clamp(bytes.size()), 0));
}

SocketIo Socket::Receive(std::span<uint8_t> buffer) {
    if (const int error = AwaitTimeout(kSocketReadable); error != 0) {
        return {0, error};
    }
    return Io(
        ::recv(Native(m_handle), reinterpret_cast<char*>(buffer.data()), Clamp(buffer.size()), 0));
}

SocketIo Socket::SendTo(std::span<const uint8_t> datagram, const Ipv4Endpoint& to) {
    if (const int error = AwaitTimeout(kSocketWritable); error != 0) {
        return {0, error};
    }
    const sockaddr_in a = ToSockaddr(to);
    return Io(::sendto(Native(m_handle), reinterpret_cast<const char*>(datagram.data()),
                       Clamp(datagram.size()), 0, reinterpret_cast<const sockaddr*>(&a), sizeof a));
}

SocketIo Socket::ReceiveFrom(std::span<uint8_t> buffer, Ipv4Endpoint& from) {
    if (const int error = AwaitTimeout(kSocketReadable); error != 0) {
        return {0, error};
    }
    sockaddr_in a{};
    int length = sizeof a;
    const int n = ::recvfrom(Native(m_handle), reinterpret_cast<char*>(buffer.data()),
                             Clamp(buffer.size()), 0, reinterpret_cast<sockaddr*>(&a), &length);
    // A datagram larger than the buffer arrives cut short, as on POSIX.
    if (n == SOCKET_ERROR && WSAGetLastError() == WSAEMSGSIZE) {
        from = FromSockaddr(a);
        return {static_cast<int64_t>(buffer.size()), 0};
    }
    if (n != SOCKET_ERROR) {
        from = FromSockaddr(a);
    }
    return Io(n);
}

extern const int32_t kMaxPollSockets = FD_SETSIZE;

// select, not WSAPoll: WSAPoll on Windows before 10 2004 never reports a
// connect that failed, so a refused connect would look like a silent host.
// A failed connect shows in the exception set; it is reported as writable
// (and readable, like any socket in trouble), and ConnectResult tells why.
int PollSockets(std::span<SocketPoll> items, int timeoutMs) {
    // The sets are large (FD_SETSIZE handles each), so they live on the heap.
    // They are filled and read straight through fd_array: FD_SET and
    // FD_ISSET search the whole set on every call.
    auto sets = std::make_unique<std::array<fd_set, 3>>();
    fd_set& readers = (*sets)[0];
    fd_set& writers = (*sets)[1];
    fd_set& failed = (*sets)[2];
    readers.fd_count = writers.fd_count = failed.fd_count = 0;
    std::unordered_map<SOCKET, size_t> index;
    for (size_t i = 0; i < items.size(); ++i) {
        SocketPoll& item = items[i];
        item.ready = 0;
        if (item.handle == kNoSocket) {
            continue;
        }
        if (failed.fd_count == FD_SETSIZE) {
            return EINVAL;
        }
        const SOCKET s = Native(item.handle);
        index[s] = i;
        if (item.events & kSocketReadable) {
            readers.fd_array[readers.fd_count++] = s;
        }
        if (item.events & kSocketWritable) {
            writers.fd_array[writers.fd_count++] = s;
        }
        failed.fd_array[failed.fd_count++] = s;
    }
    if (failed.fd_count == 0) {
        // select refuses three empty sets; nothing can become ready.
        Sleep(timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
        return EAGAIN;
    }
    timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    const int rc = ::select(0, &readers, &writers, &failed, timeoutMs < 0 ? nullptr : &limit);
    if (rc == SOCKET_ERROR) {
        return LastError();
    }
    if (rc == 0) {
        return EAGAIN;
    }
    const auto mark = [&](const fd_set& set, short ready) {
        for (u_int k = 0; k < set.fd_count; ++k) {
            SocketPoll& item = items[index[set.fd_array[k]]];
            item.ready = static_cast<short>((item.ready | ready) & item.events);
        }
    };
    mark(readers, kSocketReadable);
    mark(writers, kSocketWritable);
    mark(failed, kSocketReadable | kSocketWritable);
    return 0;
}

// Winsock polls sockets only: the waker is a UDP socket on loopback that
// sends itself a datagram.
SocketWaker::Created SocketWaker::Create() {
    Socket::Opened opened = Socket::Open(Socket::Kind::kDatagram, true);
    if (!opened.socket.Valid()) {
        return {std::nullopt, opened.error};
    }
    Socket& s = opened.socket;
    Ipv4Endpoint local{kLoopbackAddress, 0};
    if (const int error = s.Bind(local); error != 0) {
        return {std::nullopt, error};
    }
    if (const int error = s.LocalEndpoint(local); error != 0) {
        return {std::nullopt, error};
    }
    if (const int error = s.Connect(local); error != 0) {
        return {std::nullopt, error};
    }
    return {SocketWaker(std::move(s)), 0};
}

void SocketWaker::Wake() {
    const uint8_t one = 1;
    m_socket.Send({&one, 1});
}

void SocketWaker::Drain() {
    uint8_t byte = 0;
    while (m_socket.Receive({&byte, 1}).bytes > 0) {
    }
}

SocketLibrary::SocketLibrary() {
    WSADATA data{};
    m_error = WSAStartup(MAKEWORD(2, 2), &data);
    m_started = m_error == 0;
}

SocketLibrary::~SocketLibrary() {
    if (m_started) {
        WSACleanup();
    }
}

std::string SocketErrorText(int error) {
    for (const ErrorPair& e : kErrors) {
        if (e.posix == error) {
            return e.text;
        }
    }
    return std::strerror(error);
}

}  // namespace vorpane
