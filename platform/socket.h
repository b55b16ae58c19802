#pragma once
// IPv4 sockets over the system's socket library: BSD sockets on POSIX,
// Winsock 2 on Windows. One owner per socket, closed with it, moved but never
// copied. Every call answers in one way: 0 or an errno, the same codes on
// both systems (a call that moves bytes gives them in a SocketIo beside its
// errno). EWOULDBLOCK or EAGAIN (one number on Linux, two on Windows) is a
// call that would have to wait or whose time-out ran out, EINPROGRESS a
// non-blocking connect under way.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>

namespace vorpane {

// An IPv4 address and port, both in host order.
struct Ipv4Endpoint {
    uint32_t address = 0;
    uint16_t port = 0;
    bool operator==(const Ipv4Endpoint&) const = default;
};

inline constexpr uint32_t kLoopbackAddress = 0x7F000001u;  // 127.0.0.1

// Outcome of one send or receive: a byte count (0 from a stream receive is
// the peer's orderly end), or the errno that ended it.
struct SocketIo {
    int64_t bytes = 0;
    int error = 0;  // 0 on success
};

// The system's handle of a socket, for a poll set; kNoSocket for none.
using SocketHandle = intptr_t;
inline constexpr SocketHandle kNoSocket = -1;

class Socket {
public:
    enum class Kind {
        kStream,    // TCP
        kDatagram,  // UDP
        kRawIcmp,   // raw ICMP: needs a privilege on both systems
    };
    struct Opened;
    // A socket of `kind`, non-blocking when asked, never inherited by a
    // child process.
    static Opened Open(Kind kind, bool nonBlocking = false);

    Socket() = default;
    explicit Socket(SocketHandle handle) : m_handle(handle) {}
    ~Socket() { Close(); }
    Socket(Socket&& other) noexcept;
    Socket& operator=(Socket&& other) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    bool Valid() const { return m_handle != kNoSocket; }
    SocketHandle Handle() const { return m_handle; }
    void Close();
    // Gives the handle up without closing it, for a socket another library owns.
    SocketHandle Release() { return std::exchange(m_handle, kNoSocket); }

    // Option setters: 0 or an errno.
    int SetNonBlocking(bool on);
    int SetReuseAddress();
    int SetBroadcast(bool on);
    int SetNoDelay();
    int SetReceiveBuffer(int bytes);
    // Bounds each later blocking receive or send (0: no bound); the wait is
    // a poll, exact to the millisecond, and one that runs out gives EAGAIN.
    int SetReceiveTimeout(int32_t milliseconds);
    int SetSendTimeout(int32_t milliseconds);
    // IP header options of every datagram sent (at most 40 bytes).
    int SetIpOptions(std::span<const uint8_t> options);
    // Makes the close send a reset instead of an orderly end.
    int SetResetOnClose();

    int Bind(const Ipv4Endpoint& local);
    int Listen(int backlog);
    int LocalEndpoint(Ipv4Endpoint& local) const;
    // A connection taken from the queue, non-blocking like its listener;
    // `peer` receives the other end.
    Opened Accept(Ipv4Endpoint& peer);
    // 0 once connected; EINPROGRESS on a non-blocking socket, whose outcome
    // ConnectResult gives once the socket is writable.
    int Connect(const Ipv4Endpoint& peer);
    int ConnectResult() const;
    int ShutdownSend();
    int ShutdownBoth();

    // Never raises a signal when the peer has gone.
    SocketIo Send(std::span<const uint8_t> bytes);
    SocketIo Receive(std::span<uint8_t> buffer);
    SocketIo SendTo(std::span<const uint8_t> datagram, const Ipv4Endpoint& to);
    SocketIo ReceiveFrom(std::span<uint8_t> buffer, Ipv4Endpoint& from);

private:
    // 0 when the socket may be used now, EAGAIN when the time-out for
    // `events` ran out first, or the poll's errno.
    int AwaitTimeout(short events) const;

    SocketHandle m_handle = kNoSocket;
    int32_t m_receiveTimeoutMs = 0;
    int32_t m_sendTimeoutMs = 0;
};

struct Socket::Opened {
    Socket socket;
    int error = 0;  // why `socket` is not valid
};

// Poll events. A socket with an error or a hang-up reports both, so that the
// next call on it finds out what happened.
inline constexpr short kSocketReadable = 1;
inline constexpr short kSocketWritable = 2;

struct SocketPoll {
    SocketHandle handle = kNoSocket;
    short events = 0;
    short ready = 0;  // filled in
};

// Waits until one of `items` is ready, at most `timeoutMs` (negative: no
// limit): 0 with their `ready` filled in, EAGAIN at the time-out, or the
// errno of the wait (EINVAL for more sockets than the system's wait takes).
// Entries with kNoSocket are left out.
int PollSockets(std::span<SocketPoll> items, int timeoutMs);
// The most sockets one PollSockets call should be given: Windows waits with
// select, whose sets have a fixed size; POSIX's poll has no limit of its own,
// so there the value only keeps one wait's cost in bounds.
extern const int32_t kMaxPollSockets;
// One socket, as PollSockets answers.
int WaitForSocket(const Socket& socket, short events, int timeoutMs);
// The same, ended early with ECANCELED once `stop` is readable (a
// SocketWaker's handle; kNoSocket waits for the socket alone).
int WaitForSocketUnless(const Socket& socket, short events, int timeoutMs, SocketHandle stop);

// What makes a PollSockets wait on another thread return: its handle is
// readable from the first Wake on.
class SocketWaker {
public:
    struct Created;
    static Created Create();
    SocketWaker(SocketWaker&&) noexcept = default;
    SocketWaker& operator=(SocketWaker&&) noexcept = default;
    SocketHandle Handle() const { return m_socket.Handle(); }
    void Wake();
    // Takes back the wakes so far: the handle is no longer readable.
    void Drain();

private:
    explicit SocketWaker(Socket socket) : m_socket(std::move(socket)) {}
    Socket m_socket;
};

struct SocketWaker::Created {
    std::optional<SocketWaker> waker;
    int error = 0;
};

// The system's socket library for the owner's lifetime: Winsock 2.2 on
// Windows (started by the constructor, cleaned up by the destructor when it
// started), nothing to do on POSIX. The library counts its users, so owners
// may nest.
class SocketLibrary {
public:
    SocketLibrary();
    // An owner that started nothing and reports `error`: what a failed start
    // looks like, for stand-ins.
    explicit SocketLibrary(int error) : m_error(error), m_started(false) {}
    ~SocketLibrary();
    SocketLibrary(const SocketLibrary&) = delete;
    SocketLibrary& operator=(const SocketLibrary&) = delete;
    // 0, or the system's error code when the library did not start.
    int Error() const { return m_error; }

private:
    int m_error = 0;
    [[maybe_unused]] bool m_started = false;  // only the Windows side starts anything
};

// A line of text for a socket errno ("Connection reset by peer").
std::string SocketErrorText(int error);

}  // namespace vorpane
