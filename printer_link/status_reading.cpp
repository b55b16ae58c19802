#include "printer_link/status_reading.h"

namespace vorpane {

const char* StatusOutcomeText(StatusOutcome outcome) {
    switch (outcome) {
        case StatusOutcome::kAnswered:
            return "answered";
        case StatusOutcome::kBadReply:
            return "bad reply";
        case StatusOutcome::kRefused:
            return "refused";
        case StatusOutcome::kReset:
            return "reset";
        case StatusOutcome::kTimedOut:
            return "timed out";
        case StatusOutcome::kBadAddress:
            return "bad address";
        case StatusOutcome::kStopped:
            return "stopped";
    }
    return "timed out";
}

StatusConditions DecodeStatus(const std::array<uint8_t, 4>& r) {
    const auto bit = [&r](size_t reply, int n) { return (r[reply] >> n & 1) != 0; };
    StatusConditions c;
    c.drawerPin3High = bit(0, 2);
    c.offline = bit(0, 3);
    c.waitingRecovery = bit(0, 5);
    c.feedButton = bit(0, 6);
    c.coverOpen = bit(1, 2);
    c.paperFedByButton = bit(1, 3);
    c.paperEndStop = bit(1, 5);
    c.errorOccurred = bit(1, 6);
    c.mechanicalError = bit(2, 2);
    c.cutterError = bit(2, 3);
    c.unrecoverableError = bit(2, 5);
    c.autoRecoverableError = bit(2, 6);
    // Printers set both bits of a sensor pair or one of them, by model.
    c.paperNearEnd = (r[3] & 0x0C) != 0;
    c.paperEnd = (r[3] & 0x60) != 0;
    return c;
}

}  // namespace vorpane
