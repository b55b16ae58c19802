#pragma once
// The call contract of the printer-access library: nine operations, each
// returning a signed 32-bit result, printers named by dotted-decimal text.
// Every caller in the system goes through this interface; the network
// implementation and the tests' table substitute both implement it.

#include <cstdint>

#include "printer_link/status_reading.h"

namespace vorpane {

// The condition bits of a status word (reply n of DLE EOT in byte n - 1);
// the five status tests below read this table and nothing else.
inline constexpr int32_t kStatusBusy = 0x00000008;       // reply 1 bit 3: off-line
inline constexpr int32_t kStatusPause = 0x00000020;      // reply 1 bit 5: awaiting recovery
inline constexpr int32_t kStatusCoverOpen = 0x00000400;  // reply 2 bit 2
inline constexpr int32_t kStatusTempOver = 0x00400000;   // reply 3 bit 6: head too hot
inline constexpr int32_t kStatusPaperEnd = 0x60000000;   // reply 4 bits 5-6: either

class PrinterLink {
public:
    virtual ~PrinterLink() = default;

    // Time-out for every later connect, send and receive. Safe to call while
    // other threads are inside IsConPrinterServer.
    virtual int32_t SetTimeOut(int32_t seconds, int32_t milliseconds) = 0;
    // Nonzero when a printer server answers at the address. Must allow many
    // concurrent callers (the scan asks from 17 threads at once).
    virtual int32_t IsConPrinterServer(const char* address) = 0;
    // Negative when no status could be read, else the status word.
    virtual int32_t GetStatus(const char* address) = 0;
    // Tests on a status word: 1 when the condition's bit is set, 0 otherwise
    // and for a negative word (no status read).
    virtual int32_t IsCoverOpen(int32_t status) { return TestStatus(status, kStatusCoverOpen); }
    virtual int32_t IsBusy(int32_t status) { return TestStatus(status, kStatusBusy); }
    virtual int32_t IsTempOver(int32_t status) { return TestStatus(status, kStatusTempOver); }
    virtual int32_t IsPause(int32_t status) { return TestStatus(status, kStatusPause); }
    virtual int32_t IsPaperEnd(int32_t status) { return TestStatus(status, kStatusPaperEnd); }
    // The four replies in one short session, or why there are none. A link
    // that only has GetStatus reads the word; one without an answer counts
    // as timed out.
    virtual StatusReading ReadStatus(const char* address);
    // Who the printer is, asked with GS I; nothing for a link that cannot.
    virtual IdentityReading ReadIdentity(const char*) { return {}; }
    // Ends the waits of ReadStatus and ReadIdentity in progress, and of every
    // later one, at once (kStopped), so that a program shutting down is not
    // held for a time-out by a printer that stays silent. Thread-safe; a link
    // that never waits has nothing to do.
    virtual void StopReadings() {}
    // Sends the bytes and GS ( H fn 48 with `id` (four digits) in one
    // session and waits for the printer to send the ID back; see
    // ConfirmResult. A link that cannot ask sends nothing.
    virtual ConfirmOutcome SendConfirmed(const char*, const uint8_t*, int32_t,
                                         const std::array<uint8_t, 4>&) {
        return {};
    }
    // Number of bytes sent.
    virtual int32_t SendData(const char* address, const uint8_t* bytes, int32_t count) = 0;

private:
    static int32_t TestStatus(int32_t status, int32_t mask) {
        return status >= 0 && (status & mask) != 0 ? 1 : 0;
    }
};

inline StatusReading PrinterLink::ReadStatus(const char* address) {
    const int32_t word = GetStatus(address);
    if (word < 0) {
        return {};
    }
    StatusReading reading{StatusOutcome::kAnswered, RepliesOfWord(word), {}};
    for (const uint8_t reply : reading.replies) {
        if (!IsStatusReply(reply)) {
            reading.outcome = StatusOutcome::kBadReply;
        }
    }
    return reading;
}

}  // namespace vorpane
