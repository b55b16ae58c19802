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
    const StatusConditions all = DecodeStatus(RepliesOfWord(status));
    PrinterConditions c{true,
                        set(kStatusBusy),
                        set(kStatusPaperEnd),
                        set(kStatusPause),
                        set(kStatusCoverOpen),
                        set(kStatusTempOver)};
    c.paperNearEnd = all.paperNearEnd;
    c.drawerPin3High = all.drawerPin3High;
    c.feedButton = all.feedButton;
    c.paperFedByButton = all.paperFedByButton;
    c.paperEndStop = all.paperEndStop;
    c.errorOccurred = all.errorOccurred;
    c.mechanicalError = all.mechanicalError;
    c.cutterError = all.cutterError;
    c.unrecoverableError = all.unrecoverableError;
    return c;
}

PrinterReading ReadingOf(Ipv4Address address, const SharedStatus& status) {
    PrinterReading reading;
    reading.address = address;
    reading.status = status.known ? StatusWord(status.reading.replies) : -1;
    reading.inUse = status.inUse;
    reading.why = status.reading.outcome;
    reading.identity = status.identity;
    return reading;
}

std::string ConditionWords(const PrinterReading& reading, std::optional<bool> drawerOpenHigh) {
    if (!reading.Up()) {
        switch (reading.why) {
            case StatusOutcome::kBadReply:
                return "bad reply";
            case StatusOutcome::kRefused:
                return "offline: refused";
            default:
                return "offline: no answer";
        }
    }
    if (reading.status < 0) {
        return "in use";
    }
    const PrinterConditions c = ConditionsOf(reading.status);
    std::string words = c.busy ? "offline" : "online";
    if (reading.inUse) {
        words += ", in use";
    }
    const bool drawerOpen = drawerOpenHigh && c.drawerPin3High == *drawerOpenHigh;
    const bool drawerHigh = !drawerOpenHigh && c.drawerPin3High;
    const bool anyCause = c.mechanicalError || c.cutterError || c.unrecoverableError || c.overTemp;
    const std::pair<bool, const char*> flags[] = {{drawerOpen, "drawer open"},
                                                  {drawerHigh, "drawer pin 3 high"},
                                                  {c.pause, "waiting for recovery"},
                                                  {c.feedButton, "feed button pressed"},
                                                  {c.coverOpen, "cover open"},
                                                  {c.paperFedByButton, "paper fed by the button"},
                                                  {c.paperEndStop, "stopped by paper end"},
                                                  {c.errorOccurred && !anyCause, "error"},
                                                  {c.mechanicalError, "mechanical error"},
                                                  {c.cutterError, "autocutter error"},
                                                  {c.unrecoverableError, "unrecoverable error"},
                                                  {c.overTemp, "over temperature"},
                                                  {c.paperNearEnd && !c.paperEnd, "paper near end"},
                                                  {c.paperEnd, "paper end"}};
    for (const auto& [set, word] : flags) {
        if (set) {
            words.append(", ").append(word);
        }
    }
    return words;
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
