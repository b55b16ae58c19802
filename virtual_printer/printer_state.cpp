#include "virtual_printer/printer_state.h"

namespace vorpane {
namespace {

// Each condition's bits in the replies to DLE EOT 1..4, over the idle 0x12
// of every reply; conditions that stop printing also report off-line (1: 0x08).
struct NamedCondition {
    std::string_view name;
    Condition condition;
    std::array<uint8_t, 4> bits;
};

constexpr NamedCondition kConditions[] = {
    {"offline", Condition::kOffline, {0x08, 0, 0, 0}},
    {"cover-open", Condition::kCoverOpen, {0x08, 0x04, 0, 0}},
    {"paper-near-end", Condition::kPaperNearEnd, {0, 0, 0, 0x0C}},
    // Near end and end.
    {"paper-end", Condition::kPaperEnd, {0x08, 0x20, 0, 0x6C}},
    // An automatically recoverable error.
    {"over-temp", Condition::kOverTemp, {0x08, 0x40, 0x40, 0}},
    // Off-line, waiting for on-line recovery.
    {"waiting-recovery", Condition::kWaitingRecovery, {0x28, 0, 0, 0}},
    // Drawer connector pin 3 high.
    {"drawer", Condition::kDrawer, {0x04, 0, 0, 0}},
    // Errors stop printing: off-line, an error occurred, and its cause.
    {"cutter-error", Condition::kCutterError, {0x08, 0x40, 0x08, 0}},
    {"mechanical-error", Condition::kMechanicalError, {0x08, 0x40, 0x04, 0}},
    {"unrecoverable-error", Condition::kUnrecoverableError, {0x08, 0x40, 0x20, 0}},
    // The button held down feeds paper, off-line while it does.
    {"feed-button", Condition::kFeedButton, {0x48, 0x08, 0, 0}},
};

}  // namespace

bool ApplyConditionName(ConditionSet& set, std::string_view name, bool on) {
    if (name == "online") {
        if (on) {
            set.Remove(Condition::kOffline);
        } else {
            set.Add(Condition::kOffline);
        }
        return true;
    }
    for (const auto& entry : kConditions) {
        if (entry.name == name) {
            if (on) {
                set.Add(entry.condition);
            } else {
                set.Remove(entry.condition);
            }
            return true;
        }
    }
    return false;
}

std::optional<std::string> ApplyConditionList(ConditionSet& set, std::string_view list, bool on) {
    size_t start = 0;
    while (start <= list.size()) {
        const size_t comma = list.find(',', start);
        const size_t end = comma == std::string_view::npos ? list.size() : comma;
        const std::string_view name = list.substr(start, end - start);
        if (!ApplyConditionName(set, name, on)) {
            return std::string(name);
        }
        if (comma == std::string_view::npos) {
            break;
        }
        start = comma + 1;
    }
    return std::nullopt;
}

std::string ConditionNames(ConditionSet set) {
    std::string out;
    for (const auto& entry : kConditions) {
        if (set.Has(entry.condition)) {
            if (!out.empty()) {
                out += ',';
            }
            out += entry.name;
        }
    }
    return out.empty() ? "online" : out;
}

std::vector<std::string_view> ConditionNameList() {
    std::vector<std::string_view> names = {"online"};
    for (const auto& entry : kConditions) {
        names.push_back(entry.name);
    }
    return names;
}

std::array<uint8_t, 4> StatusReplies(ConditionSet set) {
    std::array<uint8_t, 4> r = {0x12, 0x12, 0x12, 0x12};
    for (const auto& entry : kConditions) {
        if (set.Has(entry.condition)) {
            for (size_t i = 0; i < r.size(); ++i) {
                r[i] |= entry.bits[i];
            }
        }
    }
    return r;
}

std::array<uint8_t, 4> AutomaticStatus(ConditionSet set) {
    const auto r = StatusReplies(set);
    // The DLE EOT 3 error bits sit where automatic status back has them.
    return {static_cast<uint8_t>(0x10 | (r[0] & 0x0C) | ((r[1] & 0x04) != 0 ? 0x20 : 0) |
                                 ((r[1] & 0x08) != 0 ? 0x40 : 0)),
            static_cast<uint8_t>(((r[0] & 0x20) != 0 ? 0x01 : 0) | ((r[0] & 0x40) != 0 ? 0x02 : 0) |
                                 (r[2] & 0x6C)),
            static_cast<uint8_t>(((r[3] & 0x0C) != 0 ? 0x03 : 0) | ((r[3] & 0x60) != 0 ? 0x0C : 0)),
            0};
}

bool AutomaticStatusChanged(const std::array<uint8_t, 4>& sent, const std::array<uint8_t, 4>& now,
                            uint8_t enabled) {
    // The bits of each group GS a n names, by its bit in n.
    constexpr std::array<uint8_t, 4> kGroups[] = {
        {0x04, 0, 0, 0}, {0x28, 0x01, 0, 0}, {0, 0x6C, 0, 0}, {0, 0, 0x0F, 0}};
    for (size_t g = 0; g < std::size(kGroups); ++g) {
        for (size_t i = 0; i < sent.size() && (enabled >> g & 1) != 0; ++i) {
            if (((sent[i] ^ now[i]) & kGroups[g][i]) != 0) {
                return true;
            }
        }
    }
    return false;
}

std::optional<uint8_t> TransmitStatusReply(ConditionSet set, uint8_t n) {
    if (n == 1 || n == 49) {
        return AutomaticStatus(set)[2];
    }
    if (n == 2 || n == 50) {
        return (StatusReplies(set)[0] & 0x04) != 0 ? 1 : 0;
    }
    return std::nullopt;
}

std::string StatusRequestName(StatusRequest request) {
    constexpr const char* kIdNames[] = {"firmware version", "maker name", "model name",
                                        "serial number", "font of language"};
    const int n = request.n;
    const char* prefix = "DLE EOT ";
    const char* what = " status request";
    switch (request.kind) {
        case StatusRequest::Kind::kRealTime:
            break;
        case StatusRequest::Kind::kTransmit:
            prefix = "GS r ";
            what = n % 48 == 2 ? " drawer status" : " paper sensor status";
            break;
        case StatusRequest::Kind::kPrinterId: {
            prefix = "GS I ";
            const int id = n > 48 ? n - 48 : n;
            what = n >= 65 && n < 70 ? kIdNames[n - 65]
                   : n >= 111        ? " printer information"
                   : id == 1         ? " model ID"
                   : id == 2         ? " type ID"
                                     : " version ID";
            break;
        }
        case StatusRequest::Kind::kAutomatic:
            prefix = "GS a ";
            what = " automatic status back";
            break;
        case StatusRequest::Kind::kProcessId:
            return "GS ( H process ID " + std::string(request.id.begin(), request.id.end());
    }
    std::string out(prefix);
    out += std::to_string(n);
    if (request.kind == StatusRequest::Kind::kPrinterId && n >= 65 && n < 70) {
        out += ' ';
    }
    out += what;
    return out;
}

std::optional<PrinterMode> ParsePrinterMode(std::string_view name) {
    if (name == "normal") {
        return PrinterMode::kNormal;
    }
    if (name == "one-session") {
        return PrinterMode::kOneSession;
    }
    if (name == "refuse") {
        return PrinterMode::kRefuse;
    }
    if (name == "mute") {
        return PrinterMode::kMute;
    }
    return std::nullopt;
}

const char* PrinterModeName(PrinterMode mode) {
    switch (mode) {
        case PrinterMode::kNormal:
            return "normal";
        case PrinterMode::kOneSession:
            return "one-session";
        case PrinterMode::kRefuse:
            return "refuse";
        case PrinterMode::kMute:
            return "mute";
    }
    return "normal";
}

}  // namespace vorpane
