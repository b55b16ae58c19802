// The command buttons end to end: the main dialog over the network printer
// link to the virtual printer on loopback, checked byte for byte in the
// printer's raw journal, and the configuration frames in its journal.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "loopback_printer.h"
#include "main_dialog_fixture.h"
#include "platform/codepage.h"
#include "printer_link/network_printer_link.h"

namespace vorpane {
namespace {

class LoopbackCommandsTest : public MainDialogTest {
protected:
    // Without a line journal the printer skips decoding random data as text.
    void Start(size_t journalLines) {
        printer = StartLoopbackPrinter([&](VirtualPrinterConfig& config) {
            config.keepRaw = true;
            config.journalLines = journalLines;
        });
        ASSERT_TRUE(printer);
        network = std::make_unique<NetworkPrinterLink>(printer->Port());
        services.link = network.get();
        Open();
        window->SetText(IDC_IP, "127.0.0.1");
    }
    void TearDown() override {
        dlg.reset();
        g_startDir = m_savedStartDir;
        std::filesystem::remove(file);
    }
    void ExpectRaw(const std::string& expected) {
        ASSERT_TRUE(printer->Raw().WaitForSize(expected.size(), std::chrono::seconds(10)));
        EXPECT_TRUE(printer->Raw().Bytes() ==
                    std::vector<uint8_t>(expected.begin(), expected.end()));
    }

    std::unique_ptr<VirtualPrinter> printer;
    std::unique_ptr<NetworkPrinterLink> network;
    const std::filesystem::path file = std::filesystem::temp_directory_path() /
                                       ("vorpane-64MiB-" + std::to_string(CurrentProcessId()));
    const std::string m_savedStartDir = g_startDir;
};

// The test page unedited, a typed text in the printer's code page, then
// after a failed refresh the last text read, then hex, Init, Cashdrawer and
// Cutter: all in order, byte for byte.
TEST_F(LoopbackCommandsTest, PrintTextPrintHexInitCashdrawerAndCutterArriveInOrder) {
    Start(VirtualPrinterConfig{}.journalLines);
    const std::string page = dlg->EditText();
    window->Click(IDC_PRINT);
    const std::string utf8 = "Hello 1B 40\n打印机测试 ¥100\n";
    window->TypeText(IDC_PAYLOAD, utf8);
    window->Click(IDC_PRINT);
    window->SetText(IDC_TIMEOUT, "abc");
    window->TypeText(IDC_PAYLOAD, "not read");
    window->Click(IDC_PRINT);
    window->SetText(IDC_TIMEOUT, "1000");
    window->Click(IDC_HEX);
    window->TypeText(IDC_PAYLOAD, "1B 40\n1b,70;00 08 08\n41 42 0A 1B6D");
    window->Click(IDC_PRINT);
    window->Click(IDC_INIT);
    window->Click(IDC_CASHDRAWER);
    window->Click(IDC_CUTTER);
    const std::string commands = std::string("\x1B\x40\x1B\x70\x00\x08\x08", 7);
    ExpectRaw(page + Utf8ToSystem(utf8) + Utf8ToSystem(utf8) + commands + "AB\n\x1B\x6D" +
              commands + "Testing the cut\n\n\n\n\x1B\x6D");
    // One complaint for the edit, one for the refresh.
    EXPECT_EQ(BoxTexts(), std::vector<std::string>(2, "Please enter an integer."));
}

// The address is free (the probe says so) and the MAC frame needs none: both
// frames reach the printer, which keeps them for its next start.
TEST_F(LoopbackCommandsTest, SetIpAndSetMacReachThePrinter) {
    Start(VirtualPrinterConfig{}.journalLines);
    window->SetText(IDC_NEW_IP, "127.0.0.42");
    ws.QueueAnswer(ui::kIdOk);
    window->Click(IDC_SET_IP);
    ws.QueueAnswer(ui::kIdOk);
    window->Click(IDC_SET_MAC);
    using namespace std::chrono_literals;
    EXPECT_TRUE(printer->GetJournal().WaitForLine(
        "GS D new address 127.0.0.42 (checksum ok, pending until restart)", 5s));
    ASSERT_TRUE(printer->GetJournal().WaitForPrefix("GS E new MAC ", 5s));
    EXPECT_EQ(printer->PendingAddress(), "127.0.0.42");
    EXPECT_EQ(purged, std::vector<uint32_t>{0x7F000001});  // the row of control 1000's address
    EXPECT_EQ(BoxTexts().back(), "Mac:" + printer->PendingMac().value_or("?") +
                                     "\nSuccess!\nPlease restart the printer!");
}

}  // namespace
}  // namespace vorpane
