#pragma once
// Readings of printers that never get in the way of a sale. Many callers
// (scrapes, watches) may ask for the same printer at once: they share one
// reading, and a printer is read at most once per minimum interval, so a
// storm of requests costs each printer one short session per interval.
//
// A reset right after the accept, or a refusal from a printer that answered
// recently, means another client holds a one-session printer: the reading
// is tried again after a short random wait while the time-out lasts, and
// if the printer stays held it is reported in use (up, with the conditions
// it last gave), never off-line.
//
// The identity (GS I) is asked once per printer, right after the first
// reading that finds it on-line and not held: GS I waits behind print data
// and is not run by a printer that is off-line.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <random>

#include "platform/ipv4_address.h"
#include "printer_link/printer_link.h"
#include "printer_link/status_reading.h"

namespace vorpane {

struct SharedStatus {
    StatusReading reading;  // the last attempt's; in use, with the last answer's replies
    bool known = false;     // the replies are an answer: this one's or, in use, the last
    bool inUse = false;
    int attempts = 0;  // status sessions this reading opened (0: shared or too soon)
    // Asked once per printer, after its first on-line answer.
    PrinterIdentityTexts identity{};
    bool Up() const { return reading.Answered() || inUse; }
};

class SharedStatusReader {
public:
    using Clock = std::chrono::steady_clock;
    // A refusal counts as "in use" for this long after an answer.
    static constexpr std::chrono::seconds kRecentAnswer{60};

    // `link` outlives the reader; `timeoutMs` bounds each Read, retries
    // included.
    SharedStatusReader(PrinterLink& link, int32_t timeoutMs, std::chrono::milliseconds minInterval);
    SharedStatusReader(const SharedStatusReader&) = delete;
    SharedStatusReader& operator=(const SharedStatusReader&) = delete;

    // Thread-safe. Waits for a reading of the same printer already under way
    // and returns it; within the minimum interval of the last reading returns
    // that one.
    SharedStatus Read(Ipv4Address address);
    // Status sessions opened so far, over all printers.
    uint64_t Sessions() const;

private:
    struct Entry {
        bool reading = false;
        bool done = false;
        Clock::time_point finished;
        Clock::time_point lastAnswer;
        bool answeredOnce = false;
        bool identityAsked = false;
        SharedStatus last;
    };
    SharedStatus ReadNow(Ipv4Address address, const Entry& before);

    PrinterLink& m_link;
    const std::chrono::milliseconds m_timeout;
    const std::chrono::milliseconds m_minInterval;
    mutable std::mutex m_mutex;
    std::condition_variable m_finished;
    std::map<Ipv4Address, Entry> m_entries;
    std::minstd_rand m_random;
    uint64_t m_sessions = 0;
};

}  // namespace vorpane
