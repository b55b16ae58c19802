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
#include <cstdint>
#include <functional>
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
    // 1 when a TCP connection opens within the time-out; sends nothing.
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
    // Connects, writes all bytes, half-closes and waits (within the time-out)
    // for the printer to close its side, so nothing is lost to a reset.
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
    const uint16_t m_port;
    std::atomic<int32_t> m_timeoutMs{kDefaultTimeoutMs};
    SendFunction m_send;
};

}  // namespace vorpane
