#include "printer_link/status_reader.h"

#include <thread>

#include "platform/clock.h"

namespace vorpane {

SharedStatusReader::SharedStatusReader(PrinterLink& link, int32_t timeoutMs,
                                       std::chrono::milliseconds minInterval)
    : m_link(link),
      m_timeout(timeoutMs),
      m_minInterval(minInterval),
      m_random(static_cast<std::minstd_rand::result_type>(SystemTickCountMs()) | 1) {}

SharedStatus SharedStatusReader::Read(Ipv4Address address) {
    std::unique_lock lock(m_mutex);
    Entry& entry = m_entries[address];
    if (entry.reading) {
        m_finished.wait(lock, [&entry] { return !entry.reading; });
        SharedStatus shared = entry.last;
        shared.attempts = 0;
        return shared;
    }
    if (entry.done && Clock::now() - entry.finished < m_minInterval) {
        SharedStatus shared = entry.last;
        shared.attempts = 0;
        return shared;
    }
    entry.reading = true;
    const Entry before = entry;
    lock.unlock();
    SharedStatus status = ReadNow(address, before);
    bool identityAsked = before.identityAsked;
    status.identity = before.last.identity;
    const bool online = status.reading.Answered() && (status.reading.replies[0] & 0x08) == 0;
    if (online && !identityAsked) {
        const IdentityReading identity = m_link.ReadIdentity(address.Text().c_str());
        // Held by another client: ask again with the next reading.
        identityAsked = identity.outcome != StatusOutcome::kReset &&
                        identity.outcome != StatusOutcome::kRefused;
        status.identity = identity.texts;
    }
    lock.lock();
    entry.identityAsked = identityAsked;
    // std::map keeps the entry where it was while others were added.
    entry.reading = false;
    entry.done = true;
    entry.finished = Clock::now();
    if (status.reading.Answered()) {
        entry.answeredOnce = true;
        entry.lastAnswer = entry.finished;
    }
    entry.last = status;
    m_sessions += static_cast<uint64_t>(status.attempts);
    lock.unlock();
    m_finished.notify_all();
    return status;
}

uint64_t SharedStatusReader::Sessions() const {
    std::lock_guard lock(m_mutex);
    return m_sessions;
}

SharedStatus SharedStatusReader::ReadNow(Ipv4Address address, const Entry& before) {
    const auto deadline = Clock::now() + m_timeout;
    const bool answeredRecently =
        before.answeredOnce && Clock::now() - before.lastAnswer < kRecentAnswer;
    const std::string text = address.Text();
    SharedStatus status;
    for (;;) {
        status.reading = m_link.ReadStatus(text.c_str());
        ++status.attempts;
        const StatusOutcome outcome = status.reading.outcome;
        const bool held = outcome == StatusOutcome::kReset ||
                          (outcome == StatusOutcome::kRefused && answeredRecently);
        if (!held) {
            status.known = status.reading.Answered();
            return status;
        }
        // Another client's session usually lasts one receipt: wait a little,
        // at random so that two monitors do not keep colliding.
        std::chrono::milliseconds wait;
        {
            std::lock_guard lock(m_mutex);
            wait = std::chrono::milliseconds(10 + m_random() % 50);
        }
        if (Clock::now() + wait >= deadline) {
            break;
        }
        std::this_thread::sleep_for(wait);
    }
    status.inUse = true;
    status.known = before.last.known;
    if (status.known) {
        status.reading.replies = before.last.reading.replies;
    }
    return status;
}

}  // namespace vorpane
