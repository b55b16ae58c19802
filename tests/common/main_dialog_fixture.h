#pragma once
// A main dialog on the headless window system and the table printer link,
// with a pinned clock and a scripted echo probe.

#include <gtest/gtest.h>

#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "app/printer_tool_dlg.h"
#include "fake_udp_socket.h"
#include "table_printer_link.h"
#include "ui/headless/headless_window_system.h"

namespace vorpane {

// Reaches the scan's private state where a test must set up a condition
// that no button can produce on its own.
struct ScanTestAccess {
    static std::atomic<int32_t>& ActiveWorkers(SubnetScan& s) { return s.m_activeWorkers; }
    // Appends the way a scan worker does, from any thread.
    static void AppendAliveHost(SubnetScan& s, const std::string& address) {
        std::lock_guard lock(s.m_aliveHostsLock);
        s.m_aliveHosts.Add(address);
    }
    static int32_t HostsDone(SubnetScan& s) { return s.m_hostsDone.load(); }
    static int CancelScan(SubnetScan& s) { return s.m_cancelScan.load(); }
};

// Answers probes from a table (address → result; missing → 0) and records
// every probe in order.
class ScriptedProber : public EchoProber {
public:
    struct Shared {
        std::mutex mutex;
        std::map<std::string, int32_t> answers;
        std::vector<std::pair<std::string, int32_t>> probes;  // address, time-out
        std::function<void(const std::string&)> onProbe;
    };
    explicit ScriptedProber(std::shared_ptr<Shared> shared) : m_shared(std::move(shared)) {}
    int32_t Probe(const std::string& address, int32_t timeoutMs) override {
        std::function<void(const std::string&)> hook;
        int32_t result = 0;
        {
            std::lock_guard lock(m_shared->mutex);
            m_shared->probes.emplace_back(address, timeoutMs);
            auto it = m_shared->answers.find(address);
            result = it == m_shared->answers.end() ? 0 : it->second;
            hook = m_shared->onProbe;
        }
        if (hook) {
            hook(address);
        }
        return result;
    }

private:
    std::shared_ptr<Shared> m_shared;
};

inline std::tm PinnedTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    std::tie(t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec) =
        std::tuple(year - 1900, month - 1, day, hour, minute, second);
    return t;
}

class MainDialogTest : public ::testing::Test {
protected:
    MainDialogTest() {
        services.ws = &ws;
        services.link = &link;
        services.makeProber = [this] { return std::make_unique<ScriptedProber>(probes); };
        services.purgeArp = [this](Ipv4Address address) {
            std::lock_guard lock(probes->mutex);
            purged.push_back(address.HostOrder());
            return purgeResult;
        };
        services.localTime = [] { return PinnedTime(2026, 12, 6, 9, 5, 3); };
        // No test broadcasts: the sweep talks to a scripted socket.
        services.netbios = sweepNet.Services();
    }

    // Builds and initialises the dialog.
    void Open() {
        dlg = std::make_unique<CPrinterToolDlg>(services);
        ASSERT_TRUE(dlg->Create());
        window = static_cast<ui::HeadlessWindow*>(dlg->GetWindow());
    }

    std::vector<std::string> BoxTexts() const {
        std::vector<std::string> out;
        for (const auto& b : ws.ShownBoxes()) {
            out.push_back(b.text);
        }
        return out;
    }

    ui::HeadlessWindowSystem ws;
    TablePrinterLink link;
    std::shared_ptr<ScriptedProber::Shared> probes = std::make_shared<ScriptedProber::Shared>();
    FakeUdpNetwork sweepNet;
    std::vector<uint32_t> purged;
    int32_t purgeResult = 1;
    DialogServices services;
    std::unique_ptr<CPrinterToolDlg> dlg;
    ui::HeadlessWindow* window = nullptr;
};

}  // namespace vorpane
