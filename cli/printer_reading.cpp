#include "cli/printer_reading.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include "platform/thread.h"
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

std::vector<PrinterReading> ReadPrinters(std::span<const Ipv4Address> addresses,
                                         const std::function<PrinterReading(Ipv4Address)>& readOne,
                                         size_t parallel) {
    std::vector<PrinterReading> readings(addresses.size());
    std::atomic<size_t> next{0};
    const auto work = [&] {
        for (size_t i = next.fetch_add(1); i < addresses.size(); i = next.fetch_add(1)) {
            readings[i] = readOne(addresses[i]);
        }
    };
    // The calling thread reads too, so a system that starts no thread still
    // gets every reading, only more slowly.
    const size_t helpers = std::min(std::max<size_t>(parallel, 1), addresses.size());
    std::vector<std::thread> threads;
    for (size_t i = 1; i < helpers; ++i) {
        std::optional<std::thread> thread = StartSystemThread(work);
        if (!thread) {
            break;
        }
        threads.push_back(std::move(*thread));
    }
    work();
    for (std::thread& thread : threads) {
        thread.join();
    }
    return readings;
}

}  // namespace vorpane
