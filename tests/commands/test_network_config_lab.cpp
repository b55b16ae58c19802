// Set IP and Set MAC end to end in the network lab: the main dialog with the
// system's own services (echo probe, ARP purge) and the network link in the
// client namespace, the virtual printer in a host namespace of its own.

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "app/printer_tool_dlg.h"
#include "emulator/virtual_printer.h"
#include "lab_fixture.h"
#include "net/arp_cache.h"
#include "printer_link/network_printer_link.h"
#include "ui/headless/headless_window_system.h"

namespace vorpane {
namespace {

using namespace std::chrono_literals;
using Box = ui::HeadlessWindowSystem::ShownBox;

constexpr int kPrinterHost = 10;
constexpr int kOtherHost = 30;
constexpr int kFreeHost = 40;

// Whether the calling thread's neighbour table holds a row for `address`;
// nullopt when the table cannot be read.
std::optional<bool> HasArpRow(const std::string& address) {
    in_addr wanted{};
    inet_pton(AF_INET, address.c_str(), &wanted);
    ArpCacheOrError opened = ArpCache::Open();
    std::vector<ArpRow> rows;
    if (!opened.cache || opened.cache->Read(rows) != 0) {
        return std::nullopt;
    }
    return std::any_of(rows.begin(), rows.end(),
                       [&](const ArpRow& row) { return row.address == wanted.s_addr; });
}

class NetworkConfigLabTest : public lab::LabTest {
protected:
    void SetUp() override {
        LabTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        ASSERT_TRUE(lab().AddHost("printer", {kPrinterHost}));
        ASSERT_TRUE(lab().AddHost("others", {kOtherHost}));
        std::string error;
        // The printer's serving thread starts inside the host namespace and
        // stays there.
        ASSERT_TRUE(lab().RunInNamespace(lab().HostNamespace("printer"), [&] {
            VirtualPrinterConfig config;
            config.listenAddresses = {lab().Address(kPrinterHost)};
            config.port = NetworkPrinterLink::kDefaultPort;
            config.keepRaw = true;
            auto created = VirtualPrinter::Create(std::move(config));
            printer = std::move(created.printer);
            error = created.error;
        }));
        ASSERT_TRUE(printer) << error;
    }
    void TearDown() override {
        if (printer) {
            printer->Stop();
        }
        printer.reset();
        LabTest::TearDown();
    }

    // One click of `button` in a main dialog living in the client namespace,
    // the confirmation answered with OK. `before` and `after` run there too.
    std::vector<Box> ClickInClient(int button, const std::string& newAddress,
                                   const std::function<void()>& before = nullptr,
                                   const std::function<void()>& after = nullptr) {
        std::vector<Box> boxes;
        const bool entered = lab().RunInClient([&] {
            ui::HeadlessWindowSystem ws;
            NetworkPrinterLink link;
            DialogServices services = MakeSystemServices(ws, link);
            services.startInTerminal = [](const std::vector<std::string>&) { return nullptr; };
            CPrinterToolDlg dlg(services);
            ASSERT_TRUE(dlg.Create());
            auto* window = static_cast<ui::HeadlessWindow*>(dlg.GetWindow());
            window->SetText(IDC_IP, lab().Address(kPrinterHost));
            window->SetText(IDC_NEW_IP, newAddress);
            if (before) {
                before();
            }
            ws.QueueAnswer(ui::kIdOk);
            window->Click(button);
            boxes = ws.ShownBoxes();
            // The address controls stay as they were.
            EXPECT_EQ(window->GetText(IDC_IP), lab().Address(kPrinterHost));
            EXPECT_EQ(window->GetText(IDC_NEW_IP), newAddress);
            if (after) {
                after();
            }
        });
        EXPECT_TRUE(entered);
        return boxes;
    }

    std::unique_ptr<VirtualPrinter> printer;
};

TEST_F(NetworkConfigLabTest, SetIpToAnAnsweringAddressIsRefusedAndSendsNothing) {
    const std::string taken = lab().Address(kOtherHost);
    const auto boxes = ClickInClient(IDC_SET_IP, taken);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "Are you sure to set the new IP:" + taken + "?");
    EXPECT_EQ(boxes[1].text,
              "This IP(" + taken + ") has been occupied by other network equipment!");
    EXPECT_EQ(boxes[1].style, ui::kMbIconInformation);
    // The online check connected but nothing reached the printer. The
    // printer takes the connection in its own time.
    EXPECT_TRUE(printer->GetJournal().WaitForPrefix("session 1 open from ", 5s).has_value());
    EXPECT_EQ(printer->Raw().Size(), 0u);
    EXPECT_FALSE(printer->PendingAddress().has_value());
}

TEST_F(NetworkConfigLabTest, SetIpToAFreeAddressReachesThePrinter) {
    const std::string free = lab().Address(kFreeHost);
    const auto boxes = ClickInClient(IDC_SET_IP, free);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].text, "Success!\nPlease restart the printer!");
    EXPECT_TRUE(
        printer->GetJournal()
            .WaitForLine("GS D new address " + free + " (checksum ok, pending until restart)", 5s)
            .has_value());
    EXPECT_EQ(printer->PendingAddress(), free);

    // 198.18.7.40: 198 + 18 + 7 + 40 = 263, modulo 256 7.
    EXPECT_EQ(printer->Raw().Bytes(), (std::vector<uint8_t>{0x1D, 0x44, 198, 18, 7, 40, 7}));
}

TEST_F(NetworkConfigLabTest, SetMacReachesThePrinterAndPurgesItsArpRow) {
    const std::string address = lab().Address(kPrinterHost);
    std::optional<bool> rowBefore;
    std::optional<bool> rowAfter;
    const auto boxes = ClickInClient(
        IDC_SET_MAC, lab().Address(kFreeHost),
        [&] {
            // A connection leaves the printer's row in the client's table.
            NetworkPrinterLink warm;
            EXPECT_EQ(warm.IsConPrinterServer(address.c_str()), 1);
            rowBefore = HasArpRow(address);
        },
        [&] { rowAfter = HasArpRow(address); });
    EXPECT_EQ(rowBefore, std::optional<bool>(true));
    EXPECT_EQ(rowAfter, std::optional<bool>(false));

    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "Are you sure to modify the Mac address?");
    std::smatch shown;
    ASSERT_TRUE(std::regex_match(boxes[1].text, shown,
                                 std::regex("Mac:([0-9A-F]E(-[0-9A-F]{2}){5})\n"
                                            "Success!\nPlease restart the printer!")))
        << boxes[1].text;
    const std::string mac = shown[1];

    EXPECT_TRUE(
        printer->GetJournal()
            .WaitForLine("GS E new MAC " + mac + " (checksum ok, pending until restart)", 5s)
            .has_value());
    EXPECT_EQ(printer->PendingMac(), mac);
    EXPECT_EQ(printer->Raw().Size(), 9u);
}

}  // namespace
}  // namespace vorpane
