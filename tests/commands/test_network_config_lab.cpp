// Set IP and Set MAC end to end in the network lab: the main dialog with the
// system's own services (echo probe, ARP purge) and the network link in the
// client namespace, the virtual printer in a host namespace of its own.

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "app/printer_tool_dlg.h"
#include "emulator/virtual_printer.h"
#include "lab_fixture.h"
#include "net/arp_cache.h"
#include "printer_link/network_printer_link.h"
#include "ui/headless/headless_window_system.h"

namespace vorpane {
namespace {

using namespace std::chrono_literals;

// Whether the calling thread's neighbour table holds a row for `address`.
bool HasArpRow(const std::string& address) {
    std::vector<ArpRow> rows;
    ArpCacheOrError opened = ArpCache::Open();
    EXPECT_TRUE(opened.cache && opened.cache->Read(rows) == 0);
    return std::any_of(rows.begin(), rows.end(), [&](const ArpRow& row) {
        return row.address == inet_addr(address.c_str());
    });
}

class NetworkConfigLabTest : public lab::LabTest {
protected:
    void SetUp() override {
        LabTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        ASSERT_TRUE(lab().AddHost("printer", {10}));
        ASSERT_TRUE(lab().AddHost("others", {30}));
        // The printer's serving thread starts inside the host namespace and
        // stays there.
        VirtualPrinter::Created created;
        ASSERT_TRUE(lab().RunInNamespace(lab().HostNamespace("printer"), [&] {
            VirtualPrinterConfig config;
            config.listenAddresses = {printerAddress()};
            config.port = NetworkPrinterLink::kDefaultPort;
            config.keepRaw = true;
            created = VirtualPrinter::Create(std::move(config));
        }));
        ASSERT_TRUE(created.printer) << created.error;
        printer = std::move(created.printer);
    }
    void TearDown() override {
        printer.reset();
        LabTest::TearDown();
    }
    std::string printerAddress() { return lab().Address(10); }

    // One click of `button` in a main dialog living in the client namespace,
    // the confirmation answered with OK: the texts shown. `around` runs there
    // before (false) and after (true) the click.
    std::vector<std::string> ClickInClient(int button, const std::string& newAddress,
                                           const std::function<void(bool)>& around = nullptr) {
        std::vector<std::string> texts;
        EXPECT_TRUE(lab().RunInClient([&] {
            ui::HeadlessWindowSystem ws;
            NetworkPrinterLink link;
            CPrinterToolDlg dlg(MakeSystemServices(ws, link));
            ASSERT_TRUE(dlg.Create());
            auto* window = static_cast<ui::HeadlessWindow*>(dlg.GetWindow());
            window->SetText(IDC_IP, printerAddress());
            window->SetText(IDC_NEW_IP, newAddress);
            around ? around(false) : void();
            ws.QueueAnswer(ui::kIdOk);
            window->Click(button);
            for (const auto& box : ws.ShownBoxes()) {
                texts.push_back(box.text);
            }
            around ? around(true) : void();
        }));
        return texts;
    }

    std::unique_ptr<VirtualPrinter> printer;
};

TEST_F(NetworkConfigLabTest, SetIpRefusesAnAnsweringAddressAndSendsToAFreeOne) {
    const std::string taken = lab().Address(30);
    EXPECT_EQ(ClickInClient(IDC_SET_IP, taken),
              (std::vector<std::string>{
                  "Are you sure to set the new IP:" + taken + "?",
                  "This IP(" + taken + ") has been occupied by other network equipment!"}));
    // The online check connected but nothing reached the printer.
    EXPECT_TRUE(printer->GetJournal().WaitForPrefix("session 1 open from ", 5s).has_value());
    EXPECT_EQ(printer->Raw().Size(), 0u);

    const std::string free = lab().Address(40);
    EXPECT_EQ(ClickInClient(IDC_SET_IP, free).back(), "Success!\nPlease restart the printer!");
    EXPECT_TRUE(
        printer->GetJournal()
            .WaitForLine("GS D new address " + free + " (checksum ok, pending until restart)", 5s)
            .has_value());
    EXPECT_EQ(printer->PendingAddress(), free);
    // 198.18.7.40: 198 + 18 + 7 + 40 = 263, modulo 256 7.
    EXPECT_EQ(printer->Raw().Bytes(), (std::vector<uint8_t>{0x1D, 0x44, 198, 18, 7, 40, 7}));
}

TEST_F(NetworkConfigLabTest, SetMacReachesThePrinterAndPurgesItsArpRow) {
    const std::string address = printerAddress();
    const auto texts = ClickInClient(IDC_SET_MAC, lab().Address(40), [&](bool after) {
        if (!after) {
            // A connection leaves the printer's row in the client's table.
            EXPECT_EQ(NetworkPrinterLink().IsConPrinterServer(address.c_str()), 1);
        }
        EXPECT_EQ(HasArpRow(address), !after);
    });
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], "Are you sure to modify the Mac address?");
    std::smatch shown;
    ASSERT_TRUE(std::regex_match(texts[1], shown,
                                 std::regex("Mac:([0-9A-F]E(-[0-9A-F]{2}){5})\n"
                                            "Success!\nPlease restart the printer!")))
        << texts[1];
    EXPECT_TRUE(
        printer->GetJournal()
            .WaitForLine("GS E new MAC " + shown[1].str() + " (checksum ok, pending until restart)",
                         5s)
            .has_value());
    EXPECT_EQ(printer->PendingMac(), shown[1].str());
    EXPECT_EQ(printer->Raw().Size(), 9u);
}

}  // namespace
}  // namespace vorpane
