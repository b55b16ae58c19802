#pragma once
// One reading of one printer, as every report of vorpane-cli shows it: the
// table, the JSON lines, the watch and the metrics.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "platform/ipv4_address.h"

namespace vorpane {

struct PrinterReading {
    Ipv4Address address;
    std::string mac;     // "00:11:62:0a:0b:0c"; empty when the neighbour table has none
    std::string vendor;  // the organisation that owns the MAC's OUI; empty when unknown
    // The status word of PrinterLink::GetStatus (DLE EOT 1..4), -1 when the
    // printer did not answer.
    int32_t status = -1;
    bool operator==(const PrinterReading&) const = default;
};

// The six conditions the status dialog shows. Off-line leaves the other five
// false: nothing is known of them.
struct PrinterConditions {
    bool online = false;
    bool busy = false;
    bool paperEnd = false;
    bool pause = false;
    bool coverOpen = false;
    bool overTemp = false;
    bool operator==(const PrinterConditions&) const = default;
};

PrinterConditions ConditionsOf(int32_t status);

// Reads every address with `readOne`, up to `parallel` at a time, so that
// many printers take about as long as one; the readings in the order given.
std::vector<PrinterReading> ReadPrinters(std::span<const Ipv4Address> addresses,
                                         const std::function<PrinterReading(Ipv4Address)>& readOne,
                                         size_t parallel = 64);

}  // namespace vorpane
