// End to end in the network lab: the real dialog scans a /24 with real
// sockets (NetBIOS broadcast, raw ICMP probes, ARP purges, TCP connects to
// virtual printers) and finds exactly the printers it should.

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "lab_fixture.h"
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

}  // namespace
}  // namespace vorpane
