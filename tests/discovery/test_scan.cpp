// The subnet scan against a recording site, on the headless window system as
// its UI thread: which hosts each worker probes, what is listed, the
// progress, cancel, a second scan, waiting for workers, and workers that
// cannot be started. Built to run under TSan as well.

#include "discovery/scan.h"
#include "fake_udp_socket.h"
#include "main_dialog_fixture.h"
#include "probe_gate.h"

namespace vorpane {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

std::string Host(int n) {
    return "192.168.1." + std::to_string(n);
}
int HostNumber(const std::string& address) {
    return std::stoi(address.substr(address.rfind('.') + 1));
}
constexpr std::array<uint8_t, 4> kAddress = {192, 168, 1, 77};

// The window a scan runs in, reduced to a record of what it was told.
class RecordingSite : public ScanSite {
public:
    explicit RecordingSite(ui::HeadlessWindowSystem& ws) : m_ws(ws) {}
    void RunOnUi(const std::function<void()>& fn) override { m_ws.Invoke(fn); }
    void ServeUntil(const std::function<bool()>& done) override { m_ws.ServeUntil(done); }
    int32_t PurgeArpEntry() override {
        ++purges;
        return 1;
    }
    void AddPrinter(const std::string& address) override {
        EXPECT_TRUE(m_ws.IsUiThread());
        printers.push_back(address);
    }
    // As the progress control does: the position is set on the UI thread.
    void SetProgress(int32_t position) override {
        m_ws.Invoke([&] { positions.push_back(position); });
    }
    void ShowScanEnded() override {
        EXPECT_TRUE(m_ws.IsUiThread());
        ++ended;
    }

    std::atomic<int> purges{0};
    std::vector<std::string> printers;  // UI thread only, like the rest
    std::vector<int32_t> positions;
    int ended = 0;

private:
    ui::HeadlessWindowSystem& m_ws;
};

class ScanTest : public ::testing::Test {
protected:
    ScanTest() {
        services.link = &link;
        services.makeProber = [this] { return std::make_unique<ScriptedProber>(probes); };
        services.netbios = sweepNet.Services();
    }
    void TearDown() override {
        gate.Open();  // workers gone before the gate their probes wait in
        if (scan) {
            scan->WaitForWorkers();
        }
    }
    // Sweep and start, as the Scan button does; false when the sweep failed.
    bool StartScan(std::array<uint8_t, 4> address = kAddress) {
        if (!scan) {
            scan = std::make_unique<SubnetScan>(site, services);
        }
        const bool swept = scan->SweepNetbiosHosts();
        scan->Start(Ipv4Address::FromOctets(address));
        return swept;
    }
    bool Serve(const std::function<bool()>& done) { return ws.ServeUntilFor(done, seconds(30)); }
    bool WaitForEnd() {
        return Serve([&] { return scan->ActiveWorkers() == 0; });
    }
    std::vector<std::string> Probed() {
        std::lock_guard lock(probes->mutex);
        std::vector<std::string> out;
        for (const auto& [address, timeout] : probes->probes) {
            EXPECT_EQ(timeout, kScanProbeTimeoutMs);
            out.push_back(address);
        }
        return out;
    }
    std::vector<std::string> Asked() {
        std::vector<std::string> out;
        for (const auto& c : link.CallsOf("IsConPrinterServer")) {
            out.push_back(c.address);
        }
        std::sort(out.begin(), out.end());
        return out;
    }
    std::vector<std::string> Sorted(std::vector<std::string> v) {
        std::sort(v.begin(), v.end());
        return v;
    }

    ui::HeadlessWindowSystem ws;
    RecordingSite site{ws};
    TablePrinterLink link;
    std::shared_ptr<ScriptedProber::Shared> probes = std::make_shared<ScriptedProber::Shared>();
    FakeUdpNetwork sweepNet;
    ScanServices services;
    ProbeGate gate;
    std::unique_ptr<SubnetScan> scan;
};

TEST(ScanProgress, PositionIsTheShareOf254Rounded) {
    const std::pair<int, int> points[] = {{0, 0},    {1, 0},    {2, 1},    {4, 2},
                                          {127, 50}, {190, 75}, {252, 99}, {253, 100}};
    for (const auto& [hosts, position] : points) {
        EXPECT_EQ(ScanProgressPosition(hosts), position) << hosts;
    }
    // In between it never goes back and never skips a step.
    for (int n = 1; n <= kScanHostCount; ++n) {
        const int step = ScanProgressPosition(n) - ScanProgressPosition(n - 1);
        EXPECT_TRUE(step == 0 || step == 1) << n;
    }
}

TEST_F(ScanTest, SeventeenWorkersWalkTheirBlocksOfHostsTwoTo254) {
    std::mutex m;
    std::map<std::thread::id, std::vector<int>> byThread;
    probes->onProbe = [&](const std::string& address) {
        std::lock_guard lock(m);
        byThread[std::this_thread::get_id()].push_back(HostNumber(address));
    };
    StartScan();
    EXPECT_EQ(scan->IsRunning(), 1);
    ASSERT_TRUE(WaitForEnd());
    std::vector<std::vector<int>> blocks;
    for (auto& [id, hosts] : byThread) {
        blocks.push_back(hosts);
    }
    std::sort(blocks.begin(), blocks.end());
    ASSERT_EQ(blocks.size(), size_t{kScanWorkerCount});
    for (int k = 0; k < kScanWorkerCount; ++k) {
        std::vector<int> want;
        for (int h = 2 + 15 * k; h <= std::min(16 + 15 * k, 254); ++h) {
            want.push_back(h);
        }
        EXPECT_EQ(blocks[static_cast<size_t>(k)], want) << "block " << k;
    }
    EXPECT_EQ(Probed()[0].substr(0, 10), "192.168.1.");
    EXPECT_EQ(site.purges.load(), 253);  // one per host
    EXPECT_EQ(ScanTestAccess::HostsDone(*scan), 253);
    // Workers that end once the count is full may run the completion too.
    EXPECT_GE(site.ended, 1);
    EXPECT_EQ(scan->IsRunning(), 0);
    EXPECT_TRUE(Asked().empty());
}

// NetBIOS hosts are skipped; a nonzero probe (a failed one too) makes a live
// host that the library is asked about; a second scan appends again, and a
// sweep that cannot bind empties the NetBIOS list.
TEST_F(ScanTest, OnlyLiveNonNetbiosHostsAreAskedAndListed) {
    for (const auto& [host, answer] : {std::pair(5, 1), {9, -1}, {50, 1}, {60, 1}}) {
        probes->answers[Host(host)] = answer;
    }
    for (int host : {9, 22, 50, 60}) {  // .22 is silent to echo
        link.AddPrinter(Host(host));
    }
    for (const auto& [host, bytes] : {std::pair(5u, 50), {50u, 50}, {5u, 50}, {60u, 0}}) {
        sweepNet.AnswerAfter(60, (192u << 24) | (168u << 16) | (1u << 8) | host, bytes);
    }
    sweepNet.AnswerAfter(70, 0x0A000007u);  // another subnet's PC
    EXPECT_TRUE(StartScan());
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(scan->NetbiosHosts().GetSize(), 4);  // the empty datagram is no answer
    const auto probed = Probed();
    EXPECT_EQ(std::set<std::string>(probed.begin(), probed.end()).size(), 251u);
    EXPECT_EQ(std::count(probed.begin(), probed.end(), Host(50)), 0);
    EXPECT_EQ(Asked(), Sorted({Host(9), Host(60)}));
    EXPECT_EQ(Sorted(site.printers), Asked());
    EXPECT_EQ(Sorted(scan->AliveHostsCopy()), Asked());

    sweepNet.bindError = EADDRINUSE;
    EXPECT_FALSE(StartScan());
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(scan->NetbiosHosts().GetSize(), 0);
    EXPECT_EQ(Probed().size(), 251u + 253u);
    EXPECT_EQ(scan->AliveHostsCopy().size(), 6u);  // .5 and .50 as well this time
}

TEST_F(ScanTest, ProgressFollowsTheSharedCountHostByHost) {
    gate.Install(*probes);
    StartScan();
    ASSERT_TRUE(Serve([&] { return gate.Waiting() == kScanWorkerCount; }));
    for (int k = 1; k <= kScanHostCount; ++k) {
        gate.Allow(1);
        // The released worker is through once it waits in its next probe or
        // has ended.
        ASSERT_TRUE(Serve([&] {
            return ScanTestAccess::HostsDone(*scan) == k && gate.Waiting() == scan->ActiveWorkers();
        })) << "host "
            << k;
    }
    std::vector<int32_t> expected;
    for (int k = 1; k <= kScanHostCount; ++k) {
        expected.push_back(ScanProgressPosition(k));
    }
    EXPECT_EQ(site.positions, expected);
    EXPECT_EQ(site.ended, 1);
}

// Cancel: every worker stops after its host, and each one that stops runs
// the completion step.
TEST_F(ScanTest, CancelStopsEveryWorkerAfterItsHost) {
    gate.Install(*probes);
    StartScan();
    ASSERT_TRUE(Serve([&] { return gate.Waiting() == kScanWorkerCount; }));
    gate.Allow(2);  // two hosts before the cancel
    ASSERT_TRUE(Serve([&] {
        return ScanTestAccess::HostsDone(*scan) == 2 && gate.Waiting() == kScanWorkerCount;
    }));
    scan->Cancel();
    EXPECT_EQ(scan->IsRunning(), 0);
    EXPECT_EQ(scan->ActiveWorkers(), kScanWorkerCount);
    gate.Allow(1);
    ASSERT_TRUE(Serve([&] { return scan->ActiveWorkers() == kScanWorkerCount - 1; }));
    EXPECT_EQ(site.ended, 1);
    gate.Open();
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(site.ended, kScanWorkerCount);
    // Two hosts before the cancel, then the one each worker was on.
    EXPECT_EQ(ScanTestAccess::HostsDone(*scan), 2 + kScanWorkerCount);
    EXPECT_EQ(Probed().size(), 2u + kScanWorkerCount);
}

TEST_F(ScanTest, WorkersThatCannotBeStartedEndTheScanAsACancel) {
    for (const int failingStart : {3, 1}) {
        SCOPED_TRACE(failingStart);
        int starts = 0;
        services.startThread = [&](std::function<void()> fn) -> std::optional<std::thread> {
            return ++starts == failingStart ? std::nullopt : StartSystemThread(std::move(fn));
        };
        scan.reset();
        probes->probes.clear();
        site.ended = 0;
        StartScan();
        EXPECT_EQ(starts, failingStart);  // nothing tried after the failure
        EXPECT_EQ(scan->ActiveWorkers(), failingStart - 1);
        ASSERT_TRUE(WaitForEnd());
        for (const auto& a : Probed()) {
            EXPECT_LE(HostNumber(a), 31) << a;  // only the blocks that got a worker
        }
        EXPECT_EQ(site.ended, std::max(failingStart - 1, 1));
        EXPECT_EQ(scan->IsRunning(), 0);
        scan->WaitForWorkers();
    }
}

}  // namespace
}  // namespace vorpane
