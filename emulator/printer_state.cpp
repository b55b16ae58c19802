#include "emulator/printer_state.h"

namespace vorpane {
namespace {

struct NamedCondition {
    std::string_view name;
    Condition condition;
};

constexpr NamedCondition kConditions[] = {
    {"offline", Condition::kOffline},
    {"cover-open", Condition::kCoverOpen},
    {"paper-near-end", Condition::kPaperNearEnd},
    {"paper-end", Condition::kPaperEnd},
    {"over-temp", Condition::kOverTemp},
    {"waiting-recovery", Condition::kWaitingRecovery},
    {"drawer", Condition::kDrawer},
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

std::array<uint8_t, 4> StatusReplies(ConditionSet set) {
    std::array<uint8_t, 4> r = {0x12, 0x12, 0x12, 0x12};
    if (set.Has(Condition::kOffline)) {
        r[0] |= 0x08;
    }
    if (set.Has(Condition::kCoverOpen)) {
        r[0] |= 0x08;
        r[1] |= 0x04;
    }
    if (set.Has(Condition::kPaperNearEnd)) {
        r[3] |= 0x0C;
    }
    if (set.Has(Condition::kPaperEnd)) {
        r[0] |= 0x08;
        r[1] |= 0x20;
        r[3] |= 0x6C;
    }
    if (set.Has(Condition::kOverTemp)) {
        r[0] |= 0x08;
        r[1] |= 0x40;
        r[2] |= 0x40;
    }
    if (set.Has(Condition::kWaitingRecovery)) {
        r[0] |= 0x28;
    }
    if (set.Has(Condition::kDrawer)) {
        r[0] |= 0x04;
    }
    return r;
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
