#pragma once
// Conditions and modes of the virtual printer, and the DLE EOT replies that
// follow from a condition set.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "escpos/command.h"

namespace vorpane {

enum class Condition : uint32_t {
    kOffline = 1u << 0,
    kCoverOpen = 1u << 1,
    kPaperNearEnd = 1u << 2,
    kPaperEnd = 1u << 3,
    kOverTemp = 1u << 4,
    kWaitingRecovery = 1u << 5,
    kDrawer = 1u << 6,
    kCutterError = 1u << 7,
    kMechanicalError = 1u << 8,
    kUnrecoverableError = 1u << 9,
    kFeedButton = 1u << 10,
};

// A set of conditions; the empty set is an idle, on-line printer.
struct ConditionSet {
    uint32_t bits = 0;

    bool Has(Condition c) const { return (bits & static_cast<uint32_t>(c)) != 0; }
    void Add(Condition c) { bits |= static_cast<uint32_t>(c); }
    void Remove(Condition c) { bits &= ~static_cast<uint32_t>(c); }
    bool operator==(const ConditionSet&) const = default;
};

// Applies one condition name as given to --condition, `set` and `clear`:
// online, offline, cover-open, paper-near-end, paper-end, over-temp,
// waiting-recovery, drawer, cutter-error, mechanical-error,
// unrecoverable-error, feed-button. "online" is the absence of "offline", so setting
// it clears offline and clearing it sets offline. False for an unknown name.
bool ApplyConditionName(ConditionSet& set, std::string_view name, bool on);

// Parses "paper-end,cover-open" onto the set; returns the first unknown name.
std::optional<std::string> ApplyConditionList(ConditionSet& set, std::string_view list, bool on);

// "online" for the empty set, else the names joined by commas.
std::string ConditionNames(ConditionSet set);

// Every condition name, "online" first.
std::vector<std::string_view> ConditionNameList();

// Replies to DLE EOT 1..4: the idle 0x12 with the bits of each condition in
// the set (the table is in printer_state.cpp; --help shows the replies).
std::array<uint8_t, 4> StatusReplies(ConditionSet set);

// The four bytes of automatic status back (GS a), with the same conditions
// as the DLE EOT replies: 1 drawer, off-line, cover open; 2 waiting for
// recovery and errors; 3 the roll paper sensor; 4 nothing here.
std::array<uint8_t, 4> AutomaticStatus(ConditionSet set);
// Whether `now` differs from `sent` in a group that GS a n enabled (n: 1
// drawer, 2 on-line, 4 error, 8 paper).
bool AutomaticStatusChanged(const std::array<uint8_t, 4>& sent, const std::array<uint8_t, 4>& now,
                            uint8_t enabled);
// GS r n: 1/49 paper sensor, 2/50 drawer connector; nothing for another n.
std::optional<uint8_t> TransmitStatusReply(ConditionSet set, uint8_t n);

// The requests a session answers from the printer's state, as decoded.
using escpos::StatusRequest;
// "DLE EOT 1 status request", "GS r 1 paper sensor status", "GS I 67 model name",
// "GS ( H process ID 1234"
std::string StatusRequestName(StatusRequest request);

enum class PrinterMode {
    kNormal,      // any number of sessions, answers status requests
    kOneSession,  // a second session while one is open is reset at once
    kRefuse,      // the port is held but connections are refused
    kMute,        // takes data but never answers status requests
};

std::optional<PrinterMode> ParsePrinterMode(std::string_view name);
const char* PrinterModeName(PrinterMode mode);

}  // namespace vorpane
