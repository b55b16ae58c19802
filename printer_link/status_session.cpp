#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <limits>
#include <optional>
#include <vector>

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
    if (error == ECANCELED) {
        return StatusOutcome::kStopped;
    }
    if (error == EAGAIN) {
        return StatusOutcome::kTimedOut;
    }
    return StatusOutcome::kReset;
}

// A connected non-blocking socket, or why there is none.
// `stop`, once readable, ends every wait here (a SocketWaker's handle).
StatusOutcome Connect(const Ipv4Address& peer, uint16_t port, Clock::time_point deadline,
                      Socket& socket, SocketHandle stop = kNoSocket) {
    Socket::Opened opened = Socket::Open(Socket::Kind::kStream, true);
    if (!opened.socket.Valid()) {
        return StatusOutcome::kTimedOut;
    }
    if (const int error = opened.socket.Connect({peer.HostOrder(), port}); error != 0) {
        if (error != EINPROGRESS) {
            return ConnectFailure(error);
        }
        if (const int waited =
                WaitForSocketUnless(opened.socket, kSocketWritable, LeftMs(deadline), stop)) {
            return waited == ECANCELED ? StatusOutcome::kStopped : StatusOutcome::kTimedOut;
        }
        if (const int result = opened.socket.ConnectResult(); result != 0) {
            return ConnectFailure(result);
        }
    }
    opened.socket.SetNoDelay();
    socket = std::move(opened.socket);
    return StatusOutcome::kAnswered;
}

StatusOutcome SendAll(Socket& socket, std::span<const uint8_t> bytes, Clock::time_point deadline,
                      SocketHandle stop = kNoSocket) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const SocketIo n = socket.Send(bytes.subspan(sent));
        if (n.error == 0) {
            sent += static_cast<size_t>(n.bytes);
            continue;
        }
        if (!Transient(n.error)) {
            return StatusOutcome::kReset;
        }
        if (const int waited =
                WaitForSocketUnless(socket, kSocketWritable, LeftMs(deadline), stop)) {
            return IoFailure(waited);
        }
    }
    return StatusOutcome::kAnswered;
}

// Some bytes into `into` (at least one), or why none came by the deadline;
// `closed` learns whether it ended in an orderly close rather than a reset.
StatusOutcome ReceiveSome(Socket& socket, std::span<uint8_t> into, Clock::time_point deadline,
                          size_t& got, SocketHandle stop = kNoSocket, bool* closed = nullptr) {
    for (;;) {
        if (const int waited =
                WaitForSocketUnless(socket, kSocketReadable, LeftMs(deadline), stop)) {
            return IoFailure(waited);
        }
        const SocketIo n = socket.Receive(into);
        if (n.error != 0) {
            if (Transient(n.error)) {
                continue;
            }
            return StatusOutcome::kReset;
        }
        if (n.bytes == 0) {
            if (closed != nullptr) {
                *closed = true;
            }
            return StatusOutcome::kReset;
        }
        got = static_cast<size_t>(n.bytes);
        return StatusOutcome::kAnswered;
    }
}

// The session itself; the caller times it. Half-closed, the printer has the
// requests and our end together and can close as soon as it has answered,
// however late this side gets round to reading: the session's hold on a
// one-session printer no longer waits on our scheduling. `silentClose` says
// the printer closed after the half-close without answering at all.
StatusOutcome Session(const Ipv4Address& peer, uint16_t port, int32_t timeoutMs,
                      std::array<uint8_t, 4>& replies, SocketHandle stop, bool halfClose,
                      bool& silentClose) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    silentClose = false;
    Socket socket;
    if (const StatusOutcome connected = Connect(peer, port, deadline, socket, stop);
        connected != StatusOutcome::kAnswered) {
        return connected;
    }
    static constexpr std::array<uint8_t, 12> kRequests = {0x10, 0x04, 1, 0x10, 0x04, 2,
                                                          0x10, 0x04, 3, 0x10, 0x04, 4};
    if (const StatusOutcome sent = SendAll(socket, kRequests, deadline, stop);
        sent != StatusOutcome::kAnswered) {
        return sent;
    }
    if (halfClose && socket.ShutdownSend() != 0) {
        return StatusOutcome::kReset;
    }
    size_t got = 0;
    while (got < replies.size()) {
        size_t n = 0;
        bool closed = false;
        if (const StatusOutcome received =
                ReceiveSome(socket, std::span(replies).subspan(got), deadline, n, stop, &closed);
            received != StatusOutcome::kAnswered) {
            silentClose = halfClose && closed && got == 0;
            return received;
        }
        for (const size_t end = got + n; got < end; ++got) {
            if (!IsStatusReply(replies[got])) {
                return StatusOutcome::kBadReply;
            }
        }
    }
    return StatusOutcome::kAnswered;
}

bool Printable(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

// One GS I text: "_", at most kMaxIdentityText printable bytes, NUL.
StatusOutcome AskText(Socket& socket, uint8_t n, Clock::time_point deadline, std::string& text,
                      SocketHandle stop) {
    const std::array<uint8_t, 3> request = {0x1D, 0x49, n};
    if (const StatusOutcome sent = SendAll(socket, request, deadline, stop);
        sent != StatusOutcome::kAnswered) {
        return sent;
    }
    std::string reply;
    for (;;) {
        std::array<uint8_t, 1> byte{};
        size_t got = 0;
        if (const StatusOutcome received = ReceiveSome(socket, byte, deadline, got, stop);
            received != StatusOutcome::kAnswered) {
            return received;
        }
        if (byte[0] == 0) {
            break;
        }
        reply.push_back(static_cast<char>(byte[0]));
        if (reply.size() > kMaxIdentityText + 1 || reply.front() != '_') {
            return StatusOutcome::kBadReply;
        }
    }
    if (reply.empty() || !Printable(reply)) {
        return StatusOutcome::kBadReply;
    }
    text = reply.substr(1);
    return StatusOutcome::kAnswered;
}

// Half of what is left of the time-out, so that one unanswered request
// leaves time for the rest.
Clock::time_point HalfWay(Clock::time_point deadline) {
    const auto now = Clock::now();
    return deadline <= now ? now : now + (deadline - now) / 2;
}

StatusOutcome TextsSession(const Ipv4Address& peer, uint16_t port, Clock::time_point deadline,
                           PrinterIdentityTexts& texts, SocketHandle stop) {
    Socket socket;
    if (const StatusOutcome connected = Connect(peer, port, deadline, socket, stop);
        connected != StatusOutcome::kAnswered) {
        return connected;
    }
    // Serial last: not every model has one.
    const std::pair<uint8_t, std::string PrinterIdentityTexts::*> asks[] = {
        {66, &PrinterIdentityTexts::maker},
        {67, &PrinterIdentityTexts::model},
        {65, &PrinterIdentityTexts::firmware},
        {68, &PrinterIdentityTexts::serial}};
    StatusOutcome first = StatusOutcome::kTimedOut;
    for (const auto& [n, field] : asks) {
        const StatusOutcome asked = AskText(socket, n, HalfWay(deadline), texts.*field, stop);
        if (n == 66) {
            first = asked;
        }
        if (asked != StatusOutcome::kAnswered) {
            // The stream is out of step after a missing or bad answer.
            return first;
        }
    }
    return first;
}

// GS I 1-3 in one write: a byte each, bits 4 and 7 clear.
StatusOutcome IdsSession(const Ipv4Address& peer, uint16_t port, Clock::time_point deadline,
                         PrinterIdentityTexts& texts, SocketHandle stop) {
    Socket socket;
    if (const StatusOutcome connected = Connect(peer, port, deadline, socket, stop);
        connected != StatusOutcome::kAnswered) {
        return connected;
    }
    static constexpr std::array<uint8_t, 9> kRequests = {0x1D, 0x49, 1,    0x1D, 0x49,
                                                         2,    0x1D, 0x49, 3};
    if (const StatusOutcome sent = SendAll(socket, kRequests, deadline, stop);
        sent != StatusOutcome::kAnswered) {
        return sent;
    }
    std::array<uint8_t, 3> ids{};
    for (size_t got = 0; got < ids.size();) {
        size_t n = 0;
        if (const StatusOutcome received =
                ReceiveSome(socket, std::span(ids).subspan(got), deadline, n, stop);
            received != StatusOutcome::kAnswered) {
            return received;
        }
        got += n;
    }
    if (std::any_of(ids.begin(), ids.end(), [](uint8_t id) { return (id & 0x90) != 0; })) {
        return StatusOutcome::kBadReply;
    }
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", ids[0]);
    texts.model = text;
    std::snprintf(text, sizeof text, "0x%02X", ids[2]);
    texts.firmware = text;
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
    auto start = Clock::now();
    bool silentClose = false;
    reading.outcome =
        Session(*peer, m_port, TimeoutMs(), reading.replies, StopHandle(), true, silentClose);
    if (silentClose) {
        // A board that ends a session at our half-close before it answers
        // (a busy one resets instead): read it the long way.
        start = Clock::now();
        reading.outcome =
            Session(*peer, m_port, TimeoutMs(), reading.replies, StopHandle(), false, silentClose);
    }
    reading.held = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
    return reading;
}

}  // namespace vorpane

namespace vorpane {

IdentityReading NetworkPrinterLink::ReadIdentity(const char* address) {
    const std::optional<Ipv4Address> peer = address ? Ipv4Address::Parse(address) : std::nullopt;
    IdentityReading reading;
    if (!peer) {
        reading.outcome = StatusOutcome::kBadAddress;
        return reading;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(TimeoutMs());
    reading.outcome = TextsSession(*peer, m_port, deadline, reading.texts, StopHandle());
    if (reading.outcome == StatusOutcome::kTimedOut) {
        reading.texts = {};
        reading.outcome = IdsSession(*peer, m_port, deadline, reading.texts, StopHandle());
    }
    return reading;
}

}  // namespace vorpane

namespace vorpane {
namespace {

// Bytes written before the connection failed or made no progress for a
// whole time-out.
size_t WriteAll(Socket& socket, std::span<const uint8_t> bytes, int32_t timeoutMs) {
    size_t sent = 0;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (sent < bytes.size()) {
        const SocketIo n = socket.Send(bytes.subspan(sent));
        if (n.error == 0 && n.bytes > 0) {
            sent += static_cast<size_t>(n.bytes);
            deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
            continue;
        }
        if (n.error != 0 && Transient(n.error) &&
            WaitForSocket(socket, kSocketWritable, LeftMs(deadline)) == 0) {
            continue;
        }
        break;
    }
    return sent;
}

// Reads the stream after a confirmed job: the ID's answer (37 22 d1..d4 00)
// and the replies to the DLE EOT requests asked while waiting, which may
// come on either side of it.
class ConfirmReader {
public:
    explicit ConfirmReader(const std::array<uint8_t, 4>& id) : m_id(id) {}

    // One byte; a result once there is one.
    std::optional<ConfirmResult> Take(uint8_t byte) {
        if (m_inId > 0 || byte == 0x37) {
            m_answer[m_inId++] = byte;
            if (m_inId == m_answer.size()) {
                m_inId = 0;
                const bool ours = m_answer[1] == 0x22 && m_answer[6] == 0 &&
                                  std::equal(m_id.begin(), m_id.end(), m_answer.begin() + 2);
                if (ours) {
                    return ConfirmResult::kPrinted;
                }
            }
            return std::nullopt;
        }
        if (!IsStatusReply(byte) || m_replies == m_asked.size()) {
            return std::nullopt;
        }
        m_status[m_replies++] = byte;
        if (m_replies < m_asked.size()) {
            return std::nullopt;
        }
        // DLE EOT 1, 2, 4 in m_status.
        if ((m_status[0] & 0x08) == 0) {
            return std::nullopt;
        }
        if ((m_status[2] & 0x60) != 0 || (m_status[1] & 0x20) != 0) {
            return ConfirmResult::kPaperEnd;
        }
        return (m_status[1] & 0x04) != 0 ? ConfirmResult::kCoverOpen : ConfirmResult::kOffline;
    }
    // Whether the last DLE EOT requests have all been answered.
    bool Answered() const { return m_replies == m_asked.size(); }
    void Asked() { m_replies = 0; }
    static constexpr std::array<uint8_t, 9> kRequests = {0x10, 0x04, 1,    0x10, 0x04,
                                                         2,    0x10, 0x04, 4};

private:
    const std::array<uint8_t, 4> m_id;
    std::array<uint8_t, 7> m_answer{};
    size_t m_inId = 0;
    static constexpr std::array<uint8_t, 3> m_asked = {1, 2, 4};
    std::array<uint8_t, 3> m_status{};
    size_t m_replies = m_asked.size();
};

}  // namespace

ConfirmOutcome NetworkPrinterLink::SendConfirmed(const char* address, const uint8_t* bytes,
                                                 int32_t count, const std::array<uint8_t, 4>& id) {
    const std::optional<Ipv4Address> peer = address ? Ipv4Address::Parse(address) : std::nullopt;
    ConfirmOutcome outcome{ConfirmResult::kNotSent, 0};
    if (!peer || count < 0 || (count > 0 && bytes == nullptr) ||
        !std::all_of(id.begin(), id.end(), [](uint8_t d) { return d >= '0' && d <= '9'; })) {
        return outcome;
    }
    const int32_t timeoutMs = TimeoutMs();
    Socket socket;
    if (Connect(*peer, m_port, Clock::now() + std::chrono::milliseconds(timeoutMs), socket) !=
        StatusOutcome::kAnswered) {
        return outcome;
    }
    std::vector<uint8_t> job(bytes, bytes + count);
    const uint8_t ask[] = {0x1D, 0x28, 0x48, 6, 0, 0x30, 0x30, id[0], id[1], id[2], id[3]};
    job.insert(job.end(), std::begin(ask), std::end(ask));
    const size_t written = WriteAll(socket, job, timeoutMs);
    outcome.sent = static_cast<int32_t>(std::min<size_t>(written, static_cast<size_t>(count)));
    if (written < job.size()) {
        return outcome;
    }
    outcome.result = ConfirmResult::kNoAnswer;
    ConfirmReader reader(id);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
        if (reader.Answered()) {
            if (SendAll(socket, ConfirmReader::kRequests, deadline) != StatusOutcome::kAnswered) {
                return outcome;
            }
            reader.Asked();
        }
        const auto poll = std::min(deadline, Clock::now() + std::chrono::milliseconds(100));
        while (Clock::now() < poll) {
            std::array<uint8_t, 64> buffer{};
            size_t got = 0;
            const StatusOutcome received = ReceiveSome(socket, buffer, poll, got);
            if (received == StatusOutcome::kTimedOut) {
                break;
            }
            if (received != StatusOutcome::kAnswered) {
                return outcome;
            }
            for (size_t i = 0; i < got; ++i) {
                if (const auto result = reader.Take(buffer[i])) {
                    outcome.result = *result;
                    socket.ShutdownSend();
                    return outcome;
                }
            }
        }
    }
    return outcome;
}

}  // namespace vorpane
