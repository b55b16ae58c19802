#include "printer_link/network_printer_link.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <limits>

#include "platform/unique_fd.h"

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

// 1 when ready, 0 when the deadline passed, -1 on a poll failure.
int WaitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        const int rc = ::poll(&p, 1, RemainingMs(deadline));
        if (rc > 0) {
            return 1;
        }
        if (rc == 0) {
            return 0;
        }
        if (errno != EINTR) {
            return -1;
        }
    }
}

bool ParseAddress(const char* address, uint16_t port, sockaddr_in& out) {
    if (address == nullptr) {
        return false;
    }
    out = {};
    out.sin_family = AF_INET;
    out.sin_port = htons(port);
    return ::inet_pton(AF_INET, address, &out.sin_addr) == 1;
}

// A non-blocking socket connected within the time-out, or an empty owner.
UniqueFd Connect(const char* address, uint16_t port, int32_t timeoutMs) {
    sockaddr_in peer;
    if (!ParseAddress(address, port, peer)) {
        return UniqueFd();
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.valid()) {
        return UniqueFd();
    }
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
        if (errno != EINPROGRESS && errno != EINTR) {
            return UniqueFd();
        }
        if (WaitFor(fd.get(), POLLOUT, deadline) <= 0) {
            return UniqueFd();
        }
        int error = 0;
        socklen_t len = sizeof error;
        if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0) {
            return UniqueFd();
        }
    }
    const int one = 1;
    ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

// Switches to blocking writes whose wait is bounded by the time-out: the
// kernel then hands back a partial count after progress, or EAGAIN when
// nothing moved for the whole time-out. Large writes straight from the
// caller's buffer keep this as fast as a plain blocking loop.
bool UseBlockingWrites(int fd, int32_t timeoutMs) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return false;
    }
    timeval tv{};
    tv.tv_sec = timeoutMs / 1000;
    tv.tv_usec = (timeoutMs % 1000) * 1000;
    return ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) == 0;
}

// Bytes handed to the connection before it failed or stalled.
int64_t WriteAll(const NetworkPrinterLink::SendFunction& send, int fd, const uint8_t* bytes,
                 int64_t count) {
    int64_t written = 0;
    while (written < count) {
        const ssize_t n =
            send(fd, bytes + written, static_cast<size_t>(count - written), MSG_NOSIGNAL);
        if (n > 0) {
            // A replacement send must not claim more than it was given.
            written += n > count - written ? count - written : n;
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        break;
    }
    return written;
}

enum class PeerEnd { kClosed, kTimedOut, kReset };

// After our half-close: read and drop whatever the printer still sends until
// it closes its side, so our close never meets unread data (which would turn
// it into a reset that can discard print data on the printer's side).
PeerEnd DrainUntilPeerCloses(int fd, Clock::time_point deadline) {
    std::array<uint8_t, 4096> sink;
    for (;;) {
        const int ready = WaitFor(fd, POLLIN, deadline);
        if (ready == 0) {
            return PeerEnd::kTimedOut;
        }
        if (ready < 0) {
            return PeerEnd::kReset;
        }
        const ssize_t n = ::recv(fd, sink.data(), sink.size(), MSG_DONTWAIT);
        if (n == 0) {
            return PeerEnd::kClosed;
        }
        if (n < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
            return PeerEnd::kReset;
        }
    }
}

}  // namespace

NetworkPrinterLink::NetworkPrinterLink(uint16_t port)
    : m_port(port), m_send([](int fd, const void* buf, size_t len, int flags) {
          return ::send(fd, buf, len, flags);
      }) {}

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
    const UniqueFd fd = Connect(address, m_port, TimeoutMs());
    return fd.valid() ? 1 : 0;
}

int32_t NetworkPrinterLink::GetStatus(const char* address) {
    const int32_t timeoutMs = TimeoutMs();
    const UniqueFd fd = Connect(address, m_port, timeoutMs);
    if (!fd.valid()) {
        return -1;
    }
    static constexpr std::array<uint8_t, 12> kRequests = {0x10, 0x04, 1, 0x10, 0x04, 2,
                                                          0x10, 0x04, 3, 0x10, 0x04, 4};
    size_t sent = 0;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (sent < kRequests.size()) {
        if (WaitFor(fd.get(), POLLOUT, deadline) <= 0) {
            return -1;
        }
        const ssize_t n = ::send(fd.get(), kRequests.data() + sent, kRequests.size() - sent,
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += static_cast<size_t>(n);
        } else if (n < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
            return -1;
        }
    }

    std::array<uint8_t, 4> replies{};
    size_t got = 0;
    deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::array<uint8_t, 64> buf;
    while (got < replies.size()) {
        if (WaitFor(fd.get(), POLLIN, deadline) <= 0) {
            return -1;
        }
        const ssize_t n = ::recv(fd.get(), buf.data(), buf.size(), MSG_DONTWAIT);
        if (n == 0) {
            return -1;
        }
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) {
                continue;
            }
            return -1;
        }
        for (ssize_t i = 0; i < n && got < replies.size(); ++i) {
            if ((buf[static_cast<size_t>(i)] & kReplyMask) == kReplyForm) {
                replies[got++] = buf[static_cast<size_t>(i)];
            }
        }
    }
    return static_cast<int32_t>(
        static_cast<uint32_t>(replies[0]) | static_cast<uint32_t>(replies[1]) << 8 |
        static_cast<uint32_t>(replies[2]) << 16 | static_cast<uint32_t>(replies[3]) << 24);
}

int32_t NetworkPrinterLink::SendData(const char* address, const uint8_t* bytes, int32_t count) {
    if (count < 0 || (count > 0 && bytes == nullptr)) {
        return 0;
    }
    const int32_t timeoutMs = TimeoutMs();
    const UniqueFd fd = Connect(address, m_port, timeoutMs);
    if (!fd.valid() || !UseBlockingWrites(fd.get(), timeoutMs)) {
        return 0;
    }
    const int64_t written = WriteAll(m_send, fd.get(), bytes, count);
    if (written < count) {
        return static_cast<int32_t>(written);
    }
    if (::shutdown(fd.get(), SHUT_WR) != 0) {
        return 0;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    if (DrainUntilPeerCloses(fd.get(), deadline) == PeerEnd::kReset) {
        // A reset instead of an orderly close: the printer dropped data it
        // had not read (a busy one-session board does this to a second
        // client), and how much is unknowable here.
        return 0;
    }
    return static_cast<int32_t>(written);
}

}  // namespace vorpane
