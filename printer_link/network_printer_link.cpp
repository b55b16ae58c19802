#include "printer_link/network_printer_link.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <limits>

#include "platform/clock.h"
#include "platform/ipv4_address.h"

namespace vorpane {
namespace {

using Clock = std::chrono::steady_clock;

// A DLE EOT reply has bits 1 and 4 set and bits 0 and 7 clear. Anything else
// (automatic status back, XON/XOFF) is not an answer to our request.
constexpr uint8_t kReplyMask = 0x93;
constexpr uint8_t kReplyForm = 0x12;

int RemainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
        return 0;
    }
    return left.count() > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max()
                                                          : static_cast<int>(left.count());
}

// 0 when ready, EAGAIN when the deadline passed, or the wait's errno.
int WaitFor(const Socket& socket, short events, Clock::time_point deadline) {
    return WaitForSocket(socket, events, RemainingMs(deadline));
}

bool WouldBlock(int error) {
    return error == EWOULDBLOCK || error == EAGAIN || error == EINTR;
}

struct Connection {
    Socket socket;  // connected, or invalid
    int error = 0;  // why not, when it is invalid (EAGAIN: no answer in time)
};

// A non-blocking socket connected by the deadline.
Connection Connect(const char* address, uint16_t port, Clock::time_point deadline) {
    const std::optional<Ipv4Address> peer = address ? Ipv4Address::Parse(address) : std::nullopt;
    if (!peer) {
        return {Socket(), EINVAL};
    }
    Socket::Opened opened = Socket::Open(Socket::Kind::kStream, true);
    Socket& socket = opened.socket;
    if (!socket.Valid()) {
        return {Socket(), opened.error};
    }
    if (int error = socket.Connect({peer->HostOrder(), port}); error != 0) {
        if (error == EINPROGRESS) {
            error = WaitFor(socket, kSocketWritable, deadline);
            if (error == 0) {
                error = socket.ConnectResult();
            }
        }
        if (error != 0) {
            return {Socket(), error};
        }
    }
    socket.SetNoDelay();
    return {std::move(socket), 0};
}

Connection Connect(const char* address, uint16_t port, int32_t timeoutMs) {
    return Connect(address, port, Clock::now() + std::chrono::milliseconds(timeoutMs));
}

struct Written {
    int64_t bytes = 0;
    int error = 0;  // of the send that ended it early; 0 after a stall
};

// Bytes handed to the connection before it failed or made no progress for
// a whole time-out.
Written WriteAll(const NetworkPrinterLink::SendFunction& send, Socket& socket, const uint8_t* bytes,
                 int64_t count, int32_t timeoutMs) {
    Written written;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (written.bytes < count) {
        const SocketIo n =
            send(socket, {bytes + written.bytes, static_cast<size_t>(count - written.bytes)});
        if (n.error == 0 && n.bytes > 0) {
            // A replacement send must not claim more than it was given.
            written.bytes += std::min(n.bytes, count - written.bytes);
            deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
            continue;
        }
        if (n.error != 0 && WouldBlock(n.error) &&
            WaitFor(socket, kSocketWritable, deadline) == 0) {
            continue;
        }
        written.error = n.error;
        break;
    }
    return written;
}

// The printer turned the connection away before it could have read a byte:
// refused, or reset before the first byte was handed over.
bool TurnedAway(int error) {
    return error == ECONNREFUSED || error == ECONNRESET || error == ECONNABORTED || error == EPIPE;
}

enum class PeerEnd { kClosed, kTimedOut, kReset };

// After our half-close: read and drop whatever the printer still sends until
// it closes its side, so our close never meets unread data (which would turn
// it into a reset that can discard print data on the printer's side).
PeerEnd DrainUntilPeerCloses(Socket& socket, Clock::time_point deadline) {
    std::array<uint8_t, 4096> sink;
    for (;;) {
        const int waited = WaitFor(socket, kSocketReadable, deadline);
        if (waited == EAGAIN) {
            return PeerEnd::kTimedOut;
        }
        if (waited != 0) {
            return PeerEnd::kReset;
        }
        const SocketIo n = socket.Receive(sink);
        if (n.error == 0 && n.bytes == 0) {
            return PeerEnd::kClosed;
        }
        if (n.error != 0 && !WouldBlock(n.error)) {
            return PeerEnd::kReset;
        }
    }
}

}  // namespace

NetworkPrinterLink::NetworkPrinterLink(uint16_t port)
    : m_port(port),
      m_send([](Socket& socket, std::span<const uint8_t> bytes) { return socket.Send(bytes); }),
      m_stop(SocketWaker::Create().waker) {}

void NetworkPrinterLink::StopReadings() {
    if (m_stop) {
        m_stop->Wake();
    }
}

int32_t NetworkPrinterLink::SetTimeOut(int32_t seconds, int32_t milliseconds) {
    const int64_t total = static_cast<int64_t>(seconds) * 1000 + milliseconds;
    if (total <= 0) {
        return 0;
    }
    const int64_t capped =
        total > std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max() : total;
    m_timeoutMs.store(static_cast<int32_t>(capped), std::memory_order_relaxed);
    return 1;
}

int32_t NetworkPrinterLink::IsConPrinterServer(const char* address) {
    const int32_t timeoutMs = TimeoutMs();
    Connection connection = Connect(address, m_port, timeoutMs);
    if (!connection.socket.Valid()) {
        return 0;
    }
    // A one-session board counts this connection as its session until it
    // has seen our close; the send that follows a check would find it busy.
    // So the check ends only when the printer has closed its side too, or
    // the time-out passed.
    if (connection.socket.ShutdownSend() == 0) {
        DrainUntilPeerCloses(connection.socket,
                             Clock::now() + std::chrono::milliseconds(timeoutMs));
    }
    return 1;
}

int32_t NetworkPrinterLink::GetStatus(const char* address) {
    const int32_t timeoutMs = TimeoutMs();
    Socket socket = Connect(address, m_port, timeoutMs).socket;
    if (!socket.Valid()) {
        return -1;
    }
    static constexpr std::array<uint8_t, 12> kRequests = {0x10, 0x04, 1, 0x10, 0x04, 2,
                                                          0x10, 0x04, 3, 0x10, 0x04, 4};
    size_t sent = 0;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (sent < kRequests.size()) {
        if (WaitFor(socket, kSocketWritable, deadline) != 0) {
            return -1;
        }
        const SocketIo n = socket.Send(std::span(kRequests).subspan(sent));
        if (n.error == 0) {
            sent += static_cast<size_t>(n.bytes);
        } else if (!WouldBlock(n.error)) {
            return -1;
        }
    }

    std::array<uint8_t, 4> replies{};
    size_t got = 0;
    deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::array<uint8_t, 64> buf;
    while (got < replies.size()) {
        if (WaitFor(socket, kSocketReadable, deadline) != 0) {
            return -1;
        }
        const SocketIo n = socket.Receive(buf);
        if (n.error != 0) {
            if (WouldBlock(n.error)) {
                continue;
            }
            return -1;
        }
        if (n.bytes == 0) {
            return -1;
        }
        for (int64_t i = 0; i < n.bytes && got < replies.size(); ++i) {
            if ((buf[static_cast<size_t>(i)] & kReplyMask) == kReplyForm) {
                replies[got++] = buf[static_cast<size_t>(i)];
            }
        }
    }
    return static_cast<int32_t>(
        static_cast<uint32_t>(replies[0]) | static_cast<uint32_t>(replies[1]) << 8 |
        static_cast<uint32_t>(replies[2]) << 16 | static_cast<uint32_t>(replies[3]) << 24);
}

NetworkPrinterLink::Attempt NetworkPrinterLink::SendOnce(const char* address, const uint8_t* bytes,
                                                         int32_t count,
                                                         Clock::time_point connectBy) const {
    const int32_t timeoutMs = TimeoutMs();
    Connection connection = Connect(address, m_port, connectBy);
    if (!connection.socket.Valid()) {
        return {0, TurnedAway(connection.error)};
    }
    Socket& socket = connection.socket;
    const Written written = WriteAll(m_send, socket, bytes, count, timeoutMs);
    if (written.bytes < count) {
        return {static_cast<int32_t>(written.bytes),
                written.bytes == 0 && TurnedAway(written.error)};
    }
    if (socket.ShutdownSend() != 0) {
        return {0, false};
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    if (DrainUntilPeerCloses(socket, deadline) == PeerEnd::kReset) {
        // A reset instead of an orderly close: the printer dropped data it
        // had not read (a busy one-session board does this to a second
        // client), and how much is unknowable here, so it is not sent again.
        return {0, false};
    }
    return {static_cast<int32_t>(written.bytes), false};
}

int32_t NetworkPrinterLink::SendData(const char* address, const uint8_t* bytes, int32_t count) {
    if (count < 0 || (count > 0 && bytes == nullptr)) {
        return 0;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(TimeoutMs());
    // A printer that turned a connection away has none of its bytes: another
    // one, while the time-out lasts, sends them once. The pause doubles so a
    // board that stays busy is not hammered.
    for (uint32_t pauseMs = kFirstRetryPauseMs;;
         pauseMs = std::min(2 * pauseMs, kMaxRetryPauseMs)) {
        const Attempt attempt = SendOnce(address, bytes, count, deadline);
        if (!attempt.turnedAway || Clock::now() + std::chrono::milliseconds(pauseMs) >= deadline) {
            return attempt.sent;
        }
        SystemSleepMs(pauseMs);
    }
}

}  // namespace vorpane
