// End to end in the network lab: the real dialog scans a /24 with real
// sockets (NetBIOS broadcast, raw ICMP probes, ARP purges, TCP connects to
// virtual printers) and finds exactly the printers it should.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <tuple>

#include "discovery/port_sweep.h"
#include "lab_fixture.h"
#include "platform/network_interfaces.h"
#include "platform/resource_limits.h"
#include "scan_lab.h"

namespace vorpane {
namespace {

using lab::EchoMode;

class ScanLabTest : public lab::LabTest {
protected:
    std::string LabSubnet() const override { return "198.18.30"; }
    int LabClientHost() const override { return 1; }  // never scanned

    std::vector<std::string> Addresses(const std::vector<int>& hosts) {
        std::vector<std::string> out;
        for (int h : hosts) {
            out.push_back(lab().Address(h));
        }
        std::sort(out.begin(), out.end());
        return out;
    }

    std::vector<std::unique_ptr<VirtualPrinter>> printers;
};

TEST_F(ScanLabTest, ThirtyLiveHostsSixPrintersThreePcsGiveExactlyFourPrinters) {
    // 30 addresses answer echo: 22 plain hosts, 4 printers, one printer that
    // also answers NetBIOS, 3 PCs answering NetBIOS. One more printer sits
    // on a host that drops echo.
    const std::vector<int> plain = {2,   9,   33,  34,  35,  58,  61,  88,  99,  100, 101,
                                    102, 120, 121, 166, 167, 180, 201, 230, 240, 253, 254};
    const std::vector<int> found = {23, 47, 131, 200};
    const int netbiosPrinter = 60;
    const int silentPrinter = 150;
    const std::vector<int> pcs = {15, 70, 222};

    ASSERT_TRUE(lab().AddHost("plain", plain));
    // Printers in hosts of their own: the four, the NetBIOS one, the silent one.
    const std::tuple<int, bool, EchoMode> printerHosts[] = {
        {found[0], false, EchoMode::kAnswer},      {found[1], false, EchoMode::kAnswer},
        {found[2], false, EchoMode::kAnswer},      {found[3], false, EchoMode::kAnswer},
        {netbiosPrinter, true, EchoMode::kAnswer}, {silentPrinter, false, EchoMode::kDrop}};
    for (const auto& [host, netbios, echo] : printerHosts) {
        // Appended, not "p" + ...: GCC 12 at -O3 takes that for an overlapping copy.
        std::string name = "p";
        name += std::to_string(host);
        ASSERT_TRUE(lab().AddHost(name, {host}, echo));
        std::string error;
        printers.push_back(scanlab::StartPrinter(lab(), lab().HostNamespace(name),
                                                 lab().Address(host), netbios, error));
        ASSERT_NE(printers.back(), nullptr) << error;
    }
    // A PC answers NetBIOS and has no printer port (the virtual printer's
    // port is one the system picks).
    for (int h : pcs) {
        const std::string name = "pc" + std::to_string(h);
        ASSERT_TRUE(lab().AddHost(name, {h}));
        std::string error;
        printers.push_back(scanlab::StartPrinter(lab(), lab().HostNamespace(name), lab().Address(h),
                                                 true, error, 0));
        ASSERT_NE(printers.back(), nullptr) << error;
    }

    const scanlab::ScanRun run = scanlab::RunScanInClient(lab(), lab().Address(10));
    ASSERT_TRUE(run.entered);
    ASSERT_TRUE(run.finished);

    // Exactly the four, each once, the first of them in control 1000; the
    // NetBIOS printer and the one that drops echo never asked.
    auto listed = run.printers;
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, Addresses(found));
    ASSERT_FALSE(run.printers.empty());
    EXPECT_EQ(run.addressAfter, run.printers[0]);
    EXPECT_EQ(run.progressAfter, 0);

    // Every live host that is no NetBIOS host, once: the sweep heard them all.
    std::vector<int> live = plain;
    live.insert(live.end(), found.begin(), found.end());
    auto alive = run.alive;
    std::sort(alive.begin(), alive.end());
    EXPECT_EQ(alive, Addresses(live));
    RecordProperty("scan_ms", static_cast<int>(run.totalMs));
}

class SweepLabTest : public lab::LabTest {
protected:
    std::string LabSubnet() const override { return "198.18.31"; }
};

// The printer sweep from the client over the whole /24: printers, one of
// them losing the first SYN that comes to it, live hosts that refuse 9100,
// and silent addresses that nothing answers, ARP included. The client's own
// interfaces give the lab's /24 as the default.
TEST_F(SweepLabTest, FindsEveryPrinterAndNoOtherHostOnTheSubnet) {
    const std::vector<int> printerHosts = {23, 77, 150, 254};
    ASSERT_TRUE(lab().AddHost("plain", {2, 9, 60, 100, 101, 200, 253}));
    ASSERT_TRUE(lab().AddHost("printers", {23, 77, 254}));
    ASSERT_TRUE(lab().AddHost("lossy", {150}));
    // The kernel sends its own second SYN after a second, past the deadline:
    // only the sweep's second connect reaches .150.
    const std::string drop = "ip netns exec '" + lab().HostNamespace("lossy") +
                             "' nft 'add table ip sweeplab; add chain ip sweeplab input { type "
                             "filter hook input priority 0; }; add rule ip sweeplab input tcp "
                             "dport 9100 tcp flags syn quota until 100 bytes drop'";
    ASSERT_EQ(std::system(drop.c_str()), 0);
    std::vector<std::unique_ptr<VirtualPrinter>> printers;
    for (int h : printerHosts) {
        std::string error;
        printers.push_back(
            scanlab::StartPrinter(lab(), lab().HostNamespace(h == 150 ? "lossy" : "printers"),
                                  lab().Address(h), false, error));
        ASSERT_NE(printers.back(), nullptr) << error;
    }
    std::vector<SweepHit> expected;
    for (int h : printerHosts) {
        expected.push_back({*Ipv4Address::Parse(lab().Address(h)), StatusReplies({})[0]});
    }

    SweepResult result;
    std::vector<Ipv4Prefix> prefixes;
    double ms = 0;
    ASSERT_TRUE(lab().RunInClient([&] {
        const LocalInterfaces local = ReadLocalInterfaces();
        EXPECT_EQ(local.error, 0);
        prefixes = DefaultScanPrefixes(local.interfaces);
        if (prefixes.size() != 1) {
            return;
        }
        const auto start = std::chrono::steady_clock::now();
        result =
            SweepPort(prefixes[0].Hosts(), {.port = 9100, .timeoutMs = 500, .maxOpenSockets = 512});
        ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                 .count();
    }));
    ASSERT_EQ(prefixes, (std::vector<Ipv4Prefix>{*Ipv4Prefix::Parse("198.18.31.0/24")}));
    EXPECT_EQ(result.error, 0);
    EXPECT_EQ(result.hits, expected);
    // The silent addresses wait side by side: one deadline, not one each.
    EXPECT_LT(ms, 1500);
    RecordProperty("sweep_ms", static_cast<int>(ms));
}

// On the link, no more hosts hold a neighbour entry at once than the bound
// (Linux shares one table among all namespaces, so the bound comes in
// through the options here), and a host that was given up still holds its
// entry while the system asks for its address: the silent /24 goes in rounds
// of 16 that each last the hold, and the printer past them is still found.
TEST_F(SweepLabTest, OnLinkHostsNeverOutnumberTheNeighbourBound) {
    ASSERT_TRUE(lab().AddHost("printers", {240}));
    std::string error;
    const auto printer = scanlab::StartPrinter(lab(), lab().HostNamespace("printers"),
                                               lab().Address(240), false, error);
    ASSERT_NE(printer, nullptr) << error;
    constexpr int32_t kBound = 16;
    constexpr int32_t kHoldMs = 300;
    SweepResult result;
    size_t hosts = 0;
    double ms = 0;
    ASSERT_TRUE(lab().RunInClient([&] {
        SweepOptions options{.port = 9100, .timeoutMs = 200, .maxOpenSockets = 512};
        options.onLink = LinkPrefixes(ReadLocalInterfaces().interfaces);
        options.maxOnLinkPending = kBound;
        options.neighbourHoldMs = kHoldMs;
        const std::vector<Ipv4Address> all = Ipv4Prefix::Parse(lab().Address(0) + "/24")->Hosts();
        hosts = all.size();
        const auto start = std::chrono::steady_clock::now();
        result = SweepPort(all, options);
        ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                 .count();
    }));
    EXPECT_EQ(result.error, 0);
    EXPECT_EQ(
        result.hits,
        (std::vector<SweepHit>{{*Ipv4Address::Parse(lab().Address(240)), StatusReplies({})[0]}}));
    EXPECT_EQ(result.peakOnLinkPending, kBound);
    // The bound held back the start of hosts, not their second tries.
    EXPECT_GT(result.peakOpenSockets, kBound);
    EXPECT_LE(result.peakOpenSockets, 2 * kBound + 1);  // and the printer's status read
    EXPECT_GE(ms, static_cast<double>((hosts - 1) / kBound * kHoldMs));
}

// A routed /16 that answers nothing, with the window the open file limit
// allows: nothing found, no error, and the window wide enough that the
// 65,534 deadlines fit in 10 s.
TEST_F(SweepLabTest, RoutedSilentSlash16FitsInTenSeconds) {
    std::string error;
    ASSERT_TRUE(scanlab::RouteToSilentPrefix(lab(), "198.19.0.0/16", 2, error)) << error;
    const OpenFileLimit limit = RaiseOpenFileLimit();
    ASSERT_EQ(limit.error, 0);
    const std::vector<Ipv4Address> hosts = Ipv4Prefix::Parse("198.19.0.0/16")->Hosts();
    constexpr int32_t kTimeoutMs = 500;
    SweepResult result;
    double ms = 0;
    ASSERT_TRUE(lab().RunInClient([&] {
        SweepOptions options{
            .port = 9100, .timeoutMs = kTimeoutMs, .maxOpenSockets = SweepWindow(limit.soft)};
        options.onLink = LinkPrefixes(ReadLocalInterfaces().interfaces);
        options.maxOnLinkPending = OnLinkWindow(NeighbourTableSize());
        const auto start = std::chrono::steady_clock::now();
        result = SweepPort(hosts, options);
        ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                 .count();
    }));
    EXPECT_EQ(result.error, 0);
    EXPECT_TRUE(result.hits.empty());
    EXPECT_EQ(result.peakOnLinkPending, 0);
    ASSERT_GT(result.peakOpenSockets, 0);
    const int64_t rounds =
        (static_cast<int64_t>(hosts.size()) + result.peakOpenSockets - 1) / result.peakOpenSockets;
    EXPECT_LE(rounds * kTimeoutMs, 10000) << result.peakOpenSockets << " sockets at most";
    RecordProperty("sweep_ms", static_cast<int>(ms));
    RecordProperty("peak_sockets", result.peakOpenSockets);
}

}  // namespace
}  // namespace vorpane
