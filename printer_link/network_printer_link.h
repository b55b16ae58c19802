#pragma once
// PrinterLink over the network: raw ESC/POS on a TCP port (9100 on real
// printers). Every call opens its own connection and closes it before it
// returns, because many printer boards take one session at a time.
//
// Time-out: one value, 1000 ms until SetTimeOut is first called, bounds each
// connect, each stretch of a send without progress, and each wait for replies.
//
// Status word from GetStatus: the replies to DLE EOT 1..4 (0x10 0x04 n),
//   reply 1 | reply 2 << 8 | reply 3 << 16 | reply 4 << 24.
// Each reply has bits 1 and 4 set and bits 0 and 7 clear (idle: 0x12), so the
// word is never negative; -1 means no status could be read. The five tests
// read the condition bits of printer_link.h.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include "platform/socket.h"
#include "printer_link/printer_link.h"

namespace vorpane {

class NetworkPrinterLink final : public PrinterLink {
public:
    static constexpr uint16_t kDefaultPort = 9100;
    static constexpr int32_t kDefaultTimeoutMs = 1000;

    // One send on the connection's non-blocking socket; Socket::Send unless
    // a test injects a replacement to provoke faults in the middle of a
    // transfer.
    using SendFunction = std::function<SocketIo(Socket& socket, std::span<const uint8_t> bytes)>;

    explicit NetworkPrinterLink(uint16_t port = kDefaultPort);

    // Takes seconds * 1000 + milliseconds when that is above 0 (returns 1);
    // otherwise keeps the current time-out (returns 0).
    int32_t SetTimeOut(int32_t seconds, int32_t milliseconds) override;
    // 1 when a TCP connection opens within the time-out; sends nothing, and
    // returns once the printer closed its side after ours (or the time-out
    // passed), so a one-session printer is free for the next call.
    // 0 for anything that is not a dotted IPv4 address.
    int32_t IsConPrinterServer(const char* address) override;
    // The status word described above, or -1.
    int32_t GetStatus(const char* address) override;
    // Connect, the four requests in one write, the four replies, close:
    // one round trip after the connect (status_session.cpp).
    StatusReading ReadStatus(const char* address) override;
    // GS I in one session bounded by the time-out: 66, 67, 65, 68 one at a
    // time, each given half the time left, and, when 66 goes unanswered, a
    // second session for 1-3. GS I waits behind print data: ask only a
    // printer that reports itself on-line.
    IdentityReading ReadIdentity(const char* address) override;
    // Wakes the waits of both readings through a waker made with the link;
    // sends, the confirmation and IsConPrinterServer keep their time-outs.
    void StopReadings() override;
    // While it waits, DLE EOT 1, 2 and 4 every 100 ms tell whether printing
    // stopped; the wait for the ID is the time-out after the last byte.
    ConfirmOutcome SendConfirmed(const char* address, const uint8_t* bytes, int32_t count,
                                 const std::array<uint8_t, 4>& id) override;
    // Connects, writes all bytes, half-closes and waits (within the time-out)
    // for the printer to close its side, so nothing is lost to a reset.
    // A connection the printer refused, or reset before it was handed a
    // byte, is made again while the time-out lasts; once a byte went out,
    // nothing is sent twice.
    // Returns the bytes written: 0 when no connection could be made, fewer
    // than count when the transfer broke off or stalled for a time-out, and 0
    // when the printer reset the connection instead of closing it after the
    // last byte (it discarded data we cannot count). Never negative.
    int32_t SendData(const char* address, const uint8_t* bytes, int32_t count) override;

    int32_t TimeoutMs() const { return m_timeoutMs.load(std::memory_order_relaxed); }
    uint16_t Port() const { return m_port; }

    // For tests only; set before any call, not while calls run.
    void SetSendFunctionForTest(SendFunction send) { m_send = std::move(send); }

private:
    using Clock = std::chrono::steady_clock;
    static constexpr uint32_t kFirstRetryPauseMs = 5;
    static constexpr uint32_t kMaxRetryPauseMs = 100;

    struct Attempt {
        int32_t sent = 0;
        bool turnedAway = false;  // refused, or reset before a byte went out
    };
    // One connection; its connect gives up at `connectBy`.
    Attempt SendOnce(const char* address, const uint8_t* bytes, int32_t count,
                     Clock::time_point connectBy) const;

    // kNoSocket when the system gave no waker: a stop then waits out the
    // time-out, as it did before there was one.
    SocketHandle StopHandle() const { return m_stop ? m_stop->Handle() : kNoSocket; }

    const uint16_t m_port;
    std::atomic<int32_t> m_timeoutMs{kDefaultTimeoutMs};
    SendFunction m_send;
    // Woken once and never drained: every wait after the stop ends at once.
    std::optional<SocketWaker> m_stop;
};

}  // namespace vorpane
