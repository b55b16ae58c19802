// The command buttons end to end: the main dialog over the network printer
// link to the virtual printer on loopback, checked byte for byte in the
// printer's raw journal.

#include <gtest/gtest.h>

#include <unistd.h>

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
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / ("vorpane-64MiB-" + std::to_string(getpid()));
    const std::string m_savedStartDir = g_startDir;
};

TEST_F(LoopbackCommandsTest, PrintTextPrintHexInitCashdrawerAndCutterArriveInOrder) {
    Start(VirtualPrinterConfig{}.journalLines);
    const std::string utf8 = "Hello 1B 40\n打印机测试 ¥100\n";
    window->TypeText(IDC_PAYLOAD, utf8);
    window->Click(IDC_PRINT);
    window->Click(IDC_HEX);
    window->TypeText(IDC_PAYLOAD, "1B 40\n1b,70;00 08 08\n41 42 0A 1B6D");
    window->Click(IDC_PRINT);
    window->Click(IDC_INIT);
    window->Click(IDC_CASHDRAWER);
    window->Click(IDC_CUTTER);
    const std::string commands = std::string("\x1B\x40\x1B\x70\x00\x08\x08", 7);
    ExpectRaw(Utf8ToSystem(utf8) + commands + "AB\n\x1B\x6D" + commands +
              "Testing the cut\n\n\n\n\x1B\x6D");
    EXPECT_TRUE(ws.ShownBoxes().empty());
}

}  // namespace
}  // namespace vorpane
