#pragma once
// One reading of one printer, as every report of vorpane-cli shows it: the
// table, the JSON lines, the watch and the metrics.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/ipv4_address.h"
#include "printer_link/status_reader.h"
#include "printer_link/status_reading.h"

namespace vorpane {

struct PrinterReading {
    Ipv4Address address;
    std::string mac;     // "00:11:62:0a:0b:0c"; empty when the neighbour table has none
    std::string vendor;  // the organisation that owns the MAC's OUI; empty when unknown
    // The status word of PrinterLink::GetStatus (DLE EOT 1..4), -1 when the
    // printer did not answer; in use, the word it gave last (-1: none yet).
    int32_t status = -1;
    // Another client held the printer for the whole time-out: it is up.
    bool inUse = false;
    // Why there is no word, when the printer is not up.
    StatusOutcome why = StatusOutcome::kTimedOut;
    // GS I's answers, asked once per printer per run.
    PrinterIdentityTexts identity{};
    bool Up() const { return status >= 0 || inUse; }
    bool operator==(const PrinterReading&) const = default;
};

// The six conditions the status dialog shows, then the others of DLE EOT
// 1..4. Off-line leaves the rest false: nothing is known of them.
struct PrinterConditions {
    bool online = false;
    bool busy = false;
    bool paperEnd = false;
    bool pause = false;
    bool coverOpen = false;
    bool overTemp = false;
    bool paperNearEnd = false;
    bool drawerPin3High = false;
    bool feedButton = false;
    bool paperFedByButton = false;
    bool paperEndStop = false;
    bool errorOccurred = false;
    bool mechanicalError = false;
    bool cutterError = false;
    bool unrecoverableError = false;
    bool operator==(const PrinterConditions&) const = default;
};

PrinterConditions ConditionsOf(int32_t status);

// What a shared reading gives a report.
PrinterReading ReadingOf(Ipv4Address address, const SharedStatus& status);

// The conditions in words, the way the tables say them: "online, paper near
// end", "offline, cover open", "in use", "no answer". `drawerOpenHigh` is
// what an open drawer does to pin 3, when the user said (--drawer-open).
std::string ConditionWords(const PrinterReading& reading, std::optional<bool> drawerOpenHigh);

// Reads every address with `readOne`, up to `parallel` at a time, so that
// many printers take about as long as one; the readings in the order given.
std::vector<PrinterReading> ReadPrinters(std::span<const Ipv4Address> addresses,
                                         const std::function<PrinterReading(Ipv4Address)>& readOne,
                                         size_t parallel = 64);

}  // namespace vorpane
