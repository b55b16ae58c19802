#include <cerrno>
#include <chrono>
#include <limits>

#include "platform/ipv4_address.h"
#include "platform/socket.h"
#include "printer_link/network_printer_link.h"

namespace vorpane {
namespace {

using Clock = std::chrono::steady_clock;

int LeftMs(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() <= 0 ? 0 : static_cast<int>(std::min<int64_t>(left.count(), 1 << 30));
}

bool Transient(int error) {
    return error == EWOULDBLOCK || error == EAGAIN || error == EINTR;
}

// How a failed connect reads: a refusal is an answer, and so is a reset
// that came before we looked (accepted, then dropped); anything else is
// nobody answering.
StatusOutcome ConnectFailure(int error) {
    if (error == ECONNREFUSED) {
        return StatusOutcome::kRefused;
    }
    if (error == ECONNRESET || error == ECONNABORTED || error == EPIPE) {
        return StatusOutcome::kReset;
    }
    return StatusOutcome::kTimedOut;
}

StatusOutcome IoFailure(int error) {
    if (error == EAGAIN) {
        return StatusOutcome::kTimedOut;
    }
    return StatusOutcome::kReset;
}

// The session itself; the caller times it.
StatusOutcome Session(const Ipv4Address& peer, uint16_t port, int32_t timeoutMs,
                      std::array<uint8_t, 4>& replies) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    Socket::Opened opened = Socket::Open(Socket::Kind::kStream, true);
    Socket& socket = opened.socket;
    if (!socket.Valid()) {
        return StatusOutcome::kTimedOut;
    }
    if (const int error = socket.Connect({peer.HostOrder(), port}); error != 0) {
        if (error != EINPROGRESS) {
            return ConnectFailure(error);
        }
        if (const int waited = WaitForSocket(socket, kSocketWritable, LeftMs(deadline));
            waited != 0) {
            return StatusOutcome::kTimedOut;
        }
        if (const int result = socket.ConnectResult(); result != 0) {
            return ConnectFailure(result);
        }
    }
    socket.SetNoDelay();
    static constexpr std::array<uint8_t, 12> kRequests = {0x10, 0x04, 1, 0x10, 0x04, 2,
                                                          0x10, 0x04, 3, 0x10, 0x04, 4};
    size_t sent = 0;
    while (sent < kRequests.size()) {
        const SocketIo n = socket.Send(std::span(kRequests).subspan(sent));
        if (n.error == 0) {
            sent += static_cast<size_t>(n.bytes);
            continue;
        }
        if (!Transient(n.error)) {
            return StatusOutcome::kReset;
        }
        if (const int waited = WaitForSocket(socket, kSocketWritable, LeftMs(deadline))) {
            return IoFailure(waited);
        }
    }
    size_t got = 0;
    while (got < replies.size()) {
        if (const int waited = WaitForSocket(socket, kSocketReadable, LeftMs(deadline))) {
            return IoFailure(waited);
        }
        const SocketIo n = socket.Receive(std::span(replies).subspan(got));
        if (n.error != 0) {
            if (Transient(n.error)) {
                continue;
            }
            return StatusOutcome::kReset;
        }
        if (n.bytes == 0) {
            return StatusOutcome::kReset;
        }
        for (int64_t i = 0; i < n.bytes; ++i, ++got) {
            if (!IsStatusReply(replies[got])) {
                return StatusOutcome::kBadReply;
            }
        }
    }
    return StatusOutcome::kAnswered;
}

}  // namespace

StatusReading NetworkPrinterLink::ReadStatus(const char* address) {
    const std::optional<Ipv4Address> peer = address ? Ipv4Address::Parse(address) : std::nullopt;
    StatusReading reading;
    if (!peer) {
        reading.outcome = StatusOutcome::kBadAddress;
        return reading;
    }
    const auto start = Clock::now();
    reading.outcome = Session(*peer, m_port, TimeoutMs(), reading.replies);
    reading.held = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
    return reading;
}

}  // namespace vorpane
