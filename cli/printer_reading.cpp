#include "cli/printer_reading.h"

#include "printer_link/printer_link.h"

namespace vorpane {

PrinterConditions ConditionsOf(int32_t status) {
    if (status < 0) {
        return {};
    }
    const auto set = [status](int32_t mask) { return (status & mask) != 0; };
    return {true,
            set(kStatusBusy),
            set(kStatusPaperEnd),
            set(kStatusPause),
            set(kStatusCoverOpen),
            set(kStatusTempOver)};
}

}  // namespace vorpane
