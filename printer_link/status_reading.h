#pragma once
// The whole real-time status of a printer: the replies to DLE EOT 1..4, read
// in one short session, and every condition they name. A reading is a value:
// either four replies of the DLE EOT form, or why there are none.

#include <array>
#include <chrono>
#include <cstdint>
#include <string>

namespace vorpane {

enum class StatusOutcome : uint8_t {
    kAnswered,    // four replies, each of the form 0xx1xx10
    kBadReply,    // a byte that is no DLE EOT reply came where a reply belongs
    kRefused,     // the connect was refused
    kReset,       // accepted, then reset or closed before the fourth reply
    kTimedOut,    // no connection or no replies within the time-out
    kBadAddress,  // not a dotted IPv4 address; nothing was sent
    kStopped,     // the link's readings were stopped while this one waited
};

// "answered", "bad reply", "refused", "reset", "timed out", "bad address",
// "stopped".
const char* StatusOutcomeText(StatusOutcome outcome);

struct StatusReading {
    StatusOutcome outcome = StatusOutcome::kTimedOut;
    std::array<uint8_t, 4> replies{};  // those received, in request order
    // From the start of the connect to the close: how long the printer was
    // held.
    std::chrono::microseconds held{0};
    bool Answered() const { return outcome == StatusOutcome::kAnswered; }
    bool operator==(const StatusReading&) const = default;
};

// Bits 0 and 7 clear, 1 and 4 set.
constexpr bool IsStatusReply(uint8_t byte) {
    return (byte & 0x93) == 0x12;
}

// Every condition the four replies document, by the reply and bit that say it.
struct StatusConditions {
    // DLE EOT 1, the printer.
    bool drawerPin3High = false;   // bit 2
    bool offline = false;          // bit 3
    bool waitingRecovery = false;  // bit 5
    bool feedButton = false;       // bit 6: the paper feed button is pressed
    // DLE EOT 2, why it is off-line.
    bool coverOpen = false;         // bit 2
    bool paperFedByButton = false;  // bit 3
    bool paperEndStop = false;      // bit 5: printing stopped at paper end
    bool errorOccurred = false;     // bit 6
    // DLE EOT 3, which error.
    bool mechanicalError = false;       // bit 2: recoverable
    bool cutterError = false;           // bit 3
    bool unrecoverableError = false;    // bit 5
    bool autoRecoverableError = false;  // bit 6: the head is too hot
    // DLE EOT 4, the roll paper sensor.
    bool paperNearEnd = false;  // bits 2-3
    bool paperEnd = false;      // bits 5-6
    bool operator==(const StatusConditions&) const = default;
};

StatusConditions DecodeStatus(const std::array<uint8_t, 4>& replies);

// The word of PrinterLink::GetStatus: reply n in byte n - 1.
constexpr int32_t StatusWord(const std::array<uint8_t, 4>& replies) {
    return static_cast<int32_t>(
        static_cast<uint32_t>(replies[0]) | static_cast<uint32_t>(replies[1]) << 8 |
        static_cast<uint32_t>(replies[2]) << 16 | static_cast<uint32_t>(replies[3]) << 24);
}

constexpr std::array<uint8_t, 4> RepliesOfWord(int32_t word) {
    const auto w = static_cast<uint32_t>(word);
    return {static_cast<uint8_t>(w), static_cast<uint8_t>(w >> 8), static_cast<uint8_t>(w >> 16),
            static_cast<uint8_t>(w >> 24)};
}

// Who a printer is, from GS I 65-68 (firmware, maker, model, serial) or,
// where those go unanswered, GS I 1-3 (model and ROM ids, as "0x20").
// Empty: not told. Only printable ASCII, at most kMaxIdentityText each.
struct PrinterIdentityTexts {
    std::string maker;
    std::string model;
    std::string firmware;
    std::string serial;
    bool operator==(const PrinterIdentityTexts&) const = default;
};
inline constexpr size_t kMaxIdentityText = 40;

struct IdentityReading {
    // kAnswered when any text came; kBadReply for a text out of form (not
    // printable, too long, not "_" ... NUL), whose field stays empty.
    StatusOutcome outcome = StatusOutcome::kTimedOut;
    PrinterIdentityTexts texts;
};

// How a job sent with a confirmation ended: the printer sent back the
// process ID of GS ( H fn 48 (printed), or a DLE EOT reading while waiting
// showed printing stopped, or nothing of it came within the time-out.
enum class ConfirmResult : uint8_t {
    kPrinted,
    kPaperEnd,
    kCoverOpen,
    kOffline,   // stopped for another cause
    kNoAnswer,  // no ID within the time-out after the last byte
    kNotSent,   // not every byte went out
    kCannot,    // the link has no way to ask
};

struct ConfirmOutcome {
    ConfirmResult result = ConfirmResult::kCannot;
    int32_t sent = 0;  // of the job's bytes, the ID's frame not counted
};

}  // namespace vorpane
