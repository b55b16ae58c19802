// Set IP end to end in the network lab: the main dialog with the system's own
// services (echo probe, ARP purge) and the network link in the client
// namespace, the virtual printer in a host namespace of its own. (Set MAC is
// checked end to end through the privileged helper, in tests/echo_arp.)

#include <gtest/gtest.h>

#include "app/printer_tool_dlg.h"
#include "emulator/virtual_printer.h"
#include "lab_fixture.h"
#include "printer_link/network_printer_link.h"
#include "ui/headless/headless_window_system.h"

namespace vorpane {
namespace {

using namespace std::chrono_literals;

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
    // the confirmation answered with OK: the texts shown.
    std::vector<std::string> ClickInClient(int button, const std::string& newAddress) {
        std::vector<std::string> texts;
        EXPECT_TRUE(lab().RunInClient([&] {
            ui::HeadlessWindowSystem ws;
            NetworkPrinterLink link;
            CPrinterToolDlg dlg(MakeSystemServices(ws, link));
            ASSERT_TRUE(dlg.Create());
            auto* window = static_cast<ui::HeadlessWindow*>(dlg.GetWindow());
            window->SetText(IDC_IP, printerAddress());
            window->SetText(IDC_NEW_IP, newAddress);
            ws.QueueAnswer(ui::kIdOk);
            window->Click(button);
            for (const auto& box : ws.ShownBoxes()) {
                texts.push_back(box.text);
            }
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

}  // namespace
}  // namespace vorpane
