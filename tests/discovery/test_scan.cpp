// The Scan button on the headless window system: which hosts are probed by
// which worker, what is listed, the progress, cancel, a second scan, Scan
// while workers still run, closing during a scan, and workers that cannot
// be started. Built to run under TSan as well.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <set>
#include <thread>

#include "discovery/scan.h"
#include "main_dialog_fixture.h"

namespace vorpane {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using Access = ScanTestAccess;

constexpr uint32_t Ip(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    return (a << 24) | (b << 16) | (c << 8) | d;
}

std::string Host(int n) {
    return "192.168.1." + std::to_string(n);
}

// Holds worker probes until the test lets them go; probes made on the UI
// thread (the echo diagnostic) are never held.
class ProbeGate {
public:
    // Probes of addresses for which `hold` is false pass at once.
    void Install(ScriptedProber::Shared& shared, ui::WindowSystem& ws,
                 std::function<bool(const std::string&)> hold = nullptr) {
        m_hold = std::move(hold);
        shared.onProbe = [this, &ws](const std::string& address) {
            if (!ws.IsUiThread()) {
                Pass(address);
            }
        };
    }
    // Lets `n` held probes go; Open() lets every probe go, now and later.
    void Allow(int n) {
        std::lock_guard lock(m_mutex);
        m_allowed += n;
        m_cv.notify_all();
    }
    void Open() { Allow(1 << 30); }
    // Held probes are let go once this turns true (checked every few ms).
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
        // The deadline only keeps a broken test from hanging forever.
        const auto end = std::chrono::steady_clock::now() + seconds(30);
        while (m_allowed == 0 && !(m_releaseWhen && m_releaseWhen()) &&
               std::chrono::steady_clock::now() < end) {
            m_cv.wait_for(lock, milliseconds(2));
        }
        if (m_allowed > 0) {
            --m_allowed;
        }
        --m_waiting;
    }

    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::function<bool(const std::string&)> m_hold;
    std::function<bool()> m_releaseWhen;
    int m_allowed = 0;
    int m_waiting = 0;
};

class ScanTest : public MainDialogTest {
protected:
    void TearDown() override {
        // Workers gone before the gate their probes wait in.
        gate.Open();
        dlg.reset();
    }

    // Presses Scan and confirms.
    void StartScan() {
        ws.QueueAnswer(ui::kIdOk);
        window->Click(IDC_SCAN);
    }
    bool ServeUntil(const std::function<bool()>& done, milliseconds deadline = seconds(20)) {
        return ws.ServeUntilFor(done, deadline);
    }
    bool WaitForWorkersToEnd() {
        return ServeUntil([&] { return dlg->Scan().ActiveWorkers() == 0; });
    }
    void SetAnswer(const std::string& address, int32_t result) {
        std::lock_guard lock(probes->mutex);
        probes->answers[address] = result;
    }
    std::vector<std::string> ProbedAddresses() {
        std::lock_guard lock(probes->mutex);
        std::vector<std::string> out;
        for (const auto& p : probes->probes) {
            out.push_back(p.first);
        }
        return out;
    }
    std::vector<std::string> Items() {
        std::vector<std::string> out;
        for (int i = 0; i < window->ComboCount(IDC_PRINTER_LIST); ++i) {
            out.push_back(window->ComboItemText(IDC_PRINTER_LIST, i));
        }
        return out;
    }
    std::vector<std::string> AskedAddresses() {
        std::vector<std::string> out;
        for (const auto& c : link.CallsOf("IsConPrinterServer")) {
            out.push_back(c.address);
        }
        return out;
    }
    bool ActionButtonsEnabled(bool enabled) {
        for (int id : {IDC_TEST, IDC_PRINT, IDC_STATUS, IDC_CASHDRAWER, IDC_INIT, IDC_CUTTER,
                       IDC_SET_IP, IDC_SET_MAC, IDC_PRINT_FILE}) {
            if (window->IsEnabled(id) != enabled) {
                return false;
            }
        }
        return true;
    }
    void ExpectIdle() {
        EXPECT_EQ(dlg->Scan().ActiveWorkers(), 0);
        EXPECT_EQ(dlg->Scan().IsRunning(), 0);
        EXPECT_EQ(window->GetText(IDC_SCAN), "Scan");
        EXPECT_TRUE(ActionButtonsEnabled(true));
        EXPECT_EQ(dlg->Progress().Position(), 0);
    }

    ProbeGate gate;
};

int HostNumber(const std::string& address) {
    return std::stoi(address.substr(address.rfind('.') + 1));
}

// ---------------------------------------------------------------------------

TEST(ScanProgress, PositionIsHostsTimes100Over254Rounded) {
    for (const auto& [done, position] : std::vector<std::pair<int, int>>{
             {0, 0}, {1, 0}, {2, 1}, {127, 50}, {252, 99}, {253, 100}}) {
        EXPECT_EQ(ScanProgressPosition(done), position) << done;
    }
    for (int n = 0; n <= 253; ++n) {
        EXPECT_EQ(ScanProgressPosition(n), (n * 200 + 254) / 508) << n;  // round half up
    }
}

TEST_F(ScanTest, SeventeenBlocksCoverHostsTwoTo254AndSkipTheRest) {
    const struct {
        const char* address;  // in control 1000; null: blank
        std::string prefix;
        uint32_t purgeValue;
    } cases[] = {
        {"192.168.1.77", "192.168.1.", Ip(192, 168, 1, 77)},
        {nullptr, "0.0.0.", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.prefix);
        std::mutex m;
        std::map<std::thread::id, std::vector<std::string>> byThread;
        probes->onProbe = [&](const std::string& address) {
            std::lock_guard lock(m);
            byThread[std::this_thread::get_id()].push_back(address);
        };
        probes->probes.clear();
        purged.clear();
        Open();
        if (c.address != nullptr) {
            window->SetText(IDC_IP, c.address);
        } else {
            window->SetBlankIp(IDC_IP);
        }
        StartScan();
        EXPECT_EQ(window->GetText(IDC_SCAN), "Cancel");
        EXPECT_TRUE(ActionButtonsEnabled(false));
        EXPECT_EQ(Access::SubnetPrefix(dlg->Scan()), c.prefix);
        ASSERT_TRUE(WaitForWorkersToEnd());

        {
            std::lock_guard lock(probes->mutex);
            for (const auto& p : probes->probes) {
                EXPECT_EQ(p.second, 500);
            }
            // One purge per host, always of the address in control 1000.
            EXPECT_EQ(purged, std::vector<uint32_t>(253, c.purgeValue));
        }
        // Each worker walks its own block in order: 2..16, 17..31, ...,
        // 242..254. The address in the control is included; .0, .1, .255 not.
        std::vector<std::vector<std::string>> blocks;
        for (auto& [id, hosts] : byThread) {
            blocks.push_back(hosts);
        }
        std::sort(blocks.begin(), blocks.end(),
                  [](const auto& a, const auto& b) { return HostNumber(a[0]) < HostNumber(b[0]); });
        ASSERT_EQ(blocks.size(), 17u);
        for (int k = 0; k < 17; ++k) {
            std::vector<std::string> want;
            for (int h = 2 + 15 * k; h <= std::min(16 + 15 * k, 254); ++h) {
                want.push_back(c.prefix + std::to_string(h));
            }
            EXPECT_EQ(blocks[static_cast<size_t>(k)], want) << "block " << k;
        }
        EXPECT_EQ(Access::HostsDone(dlg->Scan()), 253);
        ExpectIdle();
        EXPECT_TRUE(link.CallsOf("IsConPrinterServer").empty());
        EXPECT_EQ(window->GetText(IDC_IP), c.address != nullptr ? c.address : "0.0.0.0");
        EXPECT_EQ(ws.ShownBoxes().size(), 1u);  // just the question
        probes->onProbe = nullptr;
        dlg.reset();
        ws.ClearShownBoxes();
    }
}

TEST_F(ScanTest, NetbiosHostsAreNeverProbedNorListed) {
    link.AddPrinter(Host(50));
    link.AddPrinter(Host(60));
    SetAnswer(Host(50), 1);
    SetAnswer(Host(60), 1);
    Open();
    sweepNet.AnswerAfter(60, Ip(192, 168, 1, 5));
    sweepNet.AnswerAfter(60, Ip(192, 168, 1, 50));
    sweepNet.AnswerAfter(70, Ip(192, 168, 1, 5));
    sweepNet.AnswerAfter(70, Ip(10, 0, 0, 7));
    sweepNet.AnswerAfter(80, Ip(192, 168, 1, 60), 0);  // empty: not a NetBIOS answer
    StartScan();
    ASSERT_TRUE(WaitForWorkersToEnd());
    ASSERT_EQ(sweepNet.sent.size(), 2u);
    EXPECT_EQ(dlg->Scan().NetbiosHosts().GetSize(), 4);
    // .5 and .50 skipped, .60 (whose datagram was empty) probed once.
    const auto probed = ProbedAddresses();
    const std::set<std::string> once(probed.begin(), probed.end());
    EXPECT_EQ(probed.size(), 251u);
    EXPECT_EQ(once.size(), 251u);
    EXPECT_EQ(once.count(Host(5)) + once.count(Host(50)) + once.count(Host(60)), 1u);
    EXPECT_EQ(once.count(Host(60)), 1u);
    EXPECT_EQ(AskedAddresses(), std::vector<std::string>{Host(60)});
    EXPECT_EQ(Items(), std::vector<std::string>{Host(60)});
    EXPECT_EQ(Access::HostsDone(dlg->Scan()), 253);  // skipped hosts count as done
    // Membership compares whole addresses.
    for (const char* other : {"192.168.1.500", "192.168.1.", "10.0.0.70", ""}) {
        EXPECT_EQ(dlg->Scan().IsNetbiosHost(other), 0) << other;
    }
}

TEST_F(ScanTest, PrintersStandInTheOrderFoundAndTheFirstGoesToTheAddress) {
    link.AddPrinter(Host(12));
    link.AddPrinter(Host(30));
    SetAnswer(Host(12), 1);
    SetAnswer(Host(30), 1);
    // .30 (second block) is confirmed before .12 (first block): .12's probe
    // waits until .30's worker has moved on to .31.
    std::mutex m;
    std::condition_variable cv;
    bool movedOn = false;
    probes->onProbe = [&](const std::string& address) {
        std::unique_lock lock(m);
        if (address == Host(31)) {
            movedOn = true;
            cv.notify_all();
        } else if (address == Host(12)) {
            cv.wait_for(lock, seconds(20), [&] { return movedOn; });
        }
    };
    Open();
    window->SetText(IDC_IP, "192.168.1.200");
    StartScan();
    ASSERT_TRUE(WaitForWorkersToEnd());
    EXPECT_EQ(Items(), (std::vector<std::string>{Host(30), Host(12)}));
    EXPECT_EQ(window->ComboGetCurSel(IDC_PRINTER_LIST), 1);
    EXPECT_EQ(window->GetText(IDC_IP), Host(30));
    ExpectIdle();
}

TEST_F(ScanTest, ProgressFollowsTheSharedCountAndEndsAtZero) {
    gate.Install(*probes, ws);
    Open();
    StartScan();
    // Every worker waits in its first probe; then one host at a time.
    ASSERT_TRUE(ServeUntil([&] { return gate.Waiting() == 17; }));
    std::map<int, int> positionAfter;
    int redrawsBeforeLast = 0;
    for (int k = 1; k <= 253; ++k) {
        if (k == 253) {
            redrawsBeforeLast = window->RedrawCount(IDC_PROGRESS);
        }
        gate.Allow(1);
        // The released worker is through once it waits in its next probe
        // or has ended.
        ASSERT_TRUE(ServeUntil([&] {
            return Access::HostsDone(dlg->Scan()) == k &&
                   gate.Waiting() == dlg->Scan().ActiveWorkers();
        })) << "host "
            << k;
        positionAfter[k] = dlg->Progress().Position();
    }
    for (int k = 1; k <= 252; ++k) {
        EXPECT_EQ(positionAfter[k], ScanProgressPosition(k)) << k;
    }
    // The 253rd host moves the bar to 100 and the completion back to 0: two
    // repaints, the bar being wider than 100 pixels.
    ASSERT_GT(window->ControlClientRect(IDC_PROGRESS).Width(), 100);
    EXPECT_EQ(window->RedrawCount(IDC_PROGRESS) - redrawsBeforeLast, 2);
    EXPECT_EQ(positionAfter[253], 0);
    ExpectIdle();
}

TEST_F(ScanTest, CancelStopsEveryWorkerAfterItsHostAndScanWaitsForTheLast) {
    link.AddPrinter(Host(2));
    link.AddPrinter(Host(3));
    SetAnswer(Host(2), 1);
    SetAnswer(Host(3), 1);
    gate.Install(*probes, ws, [](const std::string& a) { return a != Host(2) && a != Host(3); });
    Open();
    StartScan();
    ASSERT_TRUE(ServeUntil([&] { return gate.Waiting() == 17; }));
    EXPECT_EQ(Items(), (std::vector<std::string>{Host(2), Host(3)}));

    window->Click(IDC_SCAN);  // Cancel: no second question
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Are you sure to scan the printers?"});
    EXPECT_EQ(ws.ShownBoxes()[0].style, 0x21u);
    EXPECT_EQ(Access::CancelScan(dlg->Scan()), 1);
    ws.ServePending();
    // Scan again while every worker is still on its host: refused, nothing changes.
    window->Click(IDC_SCAN);
    ASSERT_EQ(ws.ShownBoxes().size(), 2u);
    EXPECT_EQ(ws.ShownBoxes()[1].text, "Scanning,Please wait...");
    EXPECT_EQ(ws.ShownBoxes()[1].style, 0x40u);
    EXPECT_EQ(dlg->Scan().IsRunning(), 0);
    EXPECT_EQ(Access::CancelScan(dlg->Scan()), 1);
    EXPECT_EQ(dlg->Scan().ActiveWorkers(), 17);
    EXPECT_EQ(window->GetText(IDC_SCAN), "Cancel");
    EXPECT_TRUE(ActionButtonsEnabled(false));

    // The first worker to stop completes the scan; the others still run.
    gate.Allow(1);
    ASSERT_TRUE(ServeUntil([&] { return dlg->Scan().ActiveWorkers() == 16; }));
    EXPECT_EQ(window->GetText(IDC_SCAN), "Scan");
    EXPECT_TRUE(ActionButtonsEnabled(true));
    EXPECT_EQ(window->GetText(IDC_IP), Host(2));
    EXPECT_EQ(window->ComboGetCurSel(IDC_PRINTER_LIST), 1);
    EXPECT_EQ(dlg->Progress().Position(), 0);
    // Enabled again, but the busy guard still answers for the workers.
    for (int id : {IDC_TEST, IDC_SCAN}) {
        window->Click(id);
        EXPECT_EQ(ws.ShownBoxes().back().text, "Scanning,Please wait...") << id;
    }
    EXPECT_EQ(dlg->Scan().IsRunning(), 0);
    EXPECT_EQ(window->GetText(IDC_SCAN), "Scan");
    EXPECT_EQ(sweepNet.opened, 1);
    EXPECT_EQ(link.CallsOf("IsConPrinterServer").size(), 2u);

    gate.Open();
    ASSERT_TRUE(WaitForWorkersToEnd());
    // Two hosts before the cancel, then the one each worker was on.
    EXPECT_EQ(ProbedAddresses().size(), 2u + 17u);
    EXPECT_EQ(Access::HostsDone(dlg->Scan()), 19);
    EXPECT_EQ(Items(), (std::vector<std::string>{Host(2), Host(3)}));
    EXPECT_EQ(window->GetText(IDC_IP), Host(2));
    ExpectIdle();
    // Once they are gone, Scan asks again; refused, it changes nothing.
    ws.QueueAnswer(ui::kIdCancel);
    window->Click(IDC_SCAN);
    EXPECT_EQ(ws.ShownBoxes().back().text, "Are you sure to scan the printers?");
    EXPECT_EQ(sweepNet.opened, 1);
    EXPECT_EQ(ProbedAddresses().size(), 19u);
    ExpectIdle();
}

TEST_F(ScanTest, OnlyHostsWithANonzeroProbeResultAreAskedAndASecondScanAppendsThemAgain) {
    SetAnswer(Host(5), 1);
    SetAnswer(Host(9), -1);  // a failed probe counts like an answer
    link.AddPrinter(Host(9));
    link.AddPrinter(Host(22));  // reachable by the library, silent to echo
    Open();
    sweepNet.AnswerAfter(60, Ip(192, 168, 1, 7));
    StartScan();
    ASSERT_TRUE(WaitForWorkersToEnd());
    EXPECT_EQ(dlg->Scan().AliveHostsCopy(), (std::vector<std::string>{Host(5), Host(9)}));
    EXPECT_EQ(AskedAddresses(), (std::vector<std::string>{Host(5), Host(9)}));
    EXPECT_EQ(Items(), std::vector<std::string>{Host(9)});
    EXPECT_EQ(window->GetText(IDC_IP), Host(9));

    // The second time the sweep cannot bind: said so, the NetBIOS list
    // emptied, and every host probed.
    sweepNet.bindError = EADDRINUSE;
    ws.ClearShownBoxes();
    window->SetText(IDC_IP, "192.168.1.10");
    StartScan();
    ASSERT_TRUE(WaitForWorkersToEnd());
    ASSERT_EQ(ws.ShownBoxes().size(), 2u);
    EXPECT_EQ(ws.ShownBoxes()[1].text, "UDP Port 0 is conflict!");
    EXPECT_EQ(ws.ShownBoxes()[1].style, 0x10u);
    EXPECT_EQ(dlg->Scan().AliveHostsCopy(),
              (std::vector<std::string>{Host(5), Host(9), Host(5), Host(9)}));
    // The list was emptied first, so the printer is there once.
    EXPECT_EQ(Items(), std::vector<std::string>{Host(9)});
    EXPECT_EQ(window->GetText(IDC_IP), Host(9));
    EXPECT_EQ(dlg->Scan().NetbiosHosts().GetSize(), 0);
    EXPECT_EQ(ProbedAddresses().size(), 252u + 253u);
    EXPECT_EQ(sweepNet.opened, 2);
    ExpectIdle();
}

TEST_F(ScanTest, EchoDiagnosticDuringAScanReadsAConsistentList) {
    for (int h = 2; h <= 254; h += 3) {
        SetAnswer(Host(h), 1);
    }
    gate.Install(*probes, ws);
    Open();
    StartScan();
    ASSERT_TRUE(ServeUntil([&] { return gate.Waiting() == 17; }));
    gate.Open();
    // Ctrl+T while workers append to the list.
    for (int i = 0; i < 500 && dlg->Scan().ActiveWorkers() > 0; ++i) {
        window->PressKey(ui::kVkT, 0, true);
        ws.ServePending();
    }
    ASSERT_TRUE(WaitForWorkersToEnd());
    const auto alive = dlg->Scan().AliveHostsCopy();
    EXPECT_EQ(alive.size(), 85u);
    EXPECT_EQ(std::set<std::string>(alive.begin(), alive.end()).size(), 85u);
}

TEST_F(ScanTest, ClosingOrDestroyingDuringAScanCancelsAndWaitsForEveryWorker) {
    for (const bool destroyWindow : {true, false}) {
        SCOPED_TRACE(destroyWindow ? "DestroyWindow" : "destructor");
        probes->probes.clear();
        gate.Install(*probes, ws);
        Open();
        StartScan();
        ASSERT_TRUE(ServeUntil([&] { return gate.Waiting() == 17; }));
        // The probes end when the scan is cancelled, as a real probe would
        // end within its time-out.
        CPrinterToolDlg* raw = dlg.get();
        gate.ReleaseWhen([raw] { return Access::CancelScan(raw->Scan()) != 0; });
        if (destroyWindow) {
            dlg->DestroyWindow();
            EXPECT_EQ(dlg->Scan().ActiveWorkers(), 0);
            EXPECT_EQ(Access::HostsDone(dlg->Scan()), 17);
        }
        dlg.reset();
        EXPECT_EQ(gate.Waiting(), 0);
        EXPECT_EQ(ProbedAddresses().size(), 17u);
        gate.ReleaseWhen(nullptr);
    }
}

TEST_F(ScanTest, WorkersThatCannotBeStartedAreNotCountedAndTheScanEnds) {
    link.AddPrinter(Host(40));
    for (const int failingStart : {3, 1}) {
        SCOPED_TRACE(failingStart);
        int starts = 0;
        services.startThread = [&](std::function<void()> fn) -> std::optional<std::thread> {
            if (++starts == failingStart) {
                return std::nullopt;
            }
            return StartSystemThread(std::move(fn));
        };
        probes->probes.clear();
        Open();
        window->ComboAdd(IDC_PRINTER_LIST, "stale");
        StartScan();
        EXPECT_EQ(starts, failingStart);  // nothing tried after the failure
        EXPECT_EQ(dlg->Scan().ActiveWorkers(), failingStart - 1);
        ASSERT_TRUE(WaitForWorkersToEnd());
        for (const auto& a : ProbedAddresses()) {
            EXPECT_LE(HostNumber(a), 31) << a;  // only the blocks that got a worker
        }
        EXPECT_EQ(window->ComboCount(IDC_PRINTER_LIST), 0);
        ExpectIdle();
        dlg.reset();
    }
}

}  // namespace
}  // namespace vorpane
