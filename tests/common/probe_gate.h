#pragma once
// Holds scan workers in their probes until the test lets them go.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>

#include "main_dialog_fixture.h"

namespace vorpane {

// Holds worker probes until the test lets them go.
class ProbeGate {
public:
    // Probes of addresses for which `hold` is false pass at once.
    void Install(ScriptedProber::Shared& shared,
                 std::function<bool(const std::string&)> hold = nullptr) {
        m_hold = std::move(hold);
        shared.onProbe = [this](const std::string& address) { Pass(address); };
    }
    void Allow(int n) {
        std::lock_guard lock(m_mutex);
        m_allowed += n;
        m_cv.notify_all();
    }
    void Open() { Allow(1 << 30); }
    // Held probes are let go once this holds (checked every few ms).
    void ReleaseWhen(std::function<bool()> condition) {
        std::lock_guard lock(m_mutex);
        m_releaseWhen = std::move(condition);
    }
    int Waiting() {
        std::lock_guard lock(m_mutex);
        return m_waiting;
    }

private:
    void Pass(const std::string& address) {
        std::unique_lock lock(m_mutex);
        if (m_hold && !m_hold(address)) {
            return;
        }
        ++m_waiting;
        // The deadline only keeps a broken test from hanging for ever.
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (m_allowed == 0 && !(m_releaseWhen && m_releaseWhen()) &&
               std::chrono::steady_clock::now() < end) {
            m_cv.wait_for(lock, std::chrono::milliseconds(2));
        }
        m_allowed -= m_allowed > 0 ? 1 : 0;
        --m_waiting;
    }

    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::function<bool(const std::string&)> m_hold;
    std::function<bool()> m_releaseWhen;
    int m_allowed = 0;
    int m_waiting = 0;
};

}  // namespace vorpane
