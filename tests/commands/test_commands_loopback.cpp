// The command buttons end to end: the main dialog over the network printer
// link to the virtual printer on loopback, checked byte for byte in the
// printer's raw journal and line by line in its journal.

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "app/codepage.h"
#include "app/printer_tool_dlg.h"
#include "emulator/virtual_printer.h"
#include "loopback_printer.h"
#include "main_dialog_fixture.h"
#include "printer_link/network_printer_link.h"
#include "ui/headless/headless_window_system.h"

namespace vorpane {
namespace {

using namespace std::chrono_literals;

constexpr auto kWait = 10s;

class LoopbackCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        printer = StartLoopbackPrinter([this](VirtualPrinterConfig& config) {
            config.keepRaw = true;
            config.journalLines = journalLines;
        });
        ASSERT_TRUE(printer);
        link = std::make_unique<NetworkPrinterLink>(printer->Port());
        services.ws = &ws;
        services.link = link.get();
        services.localTime = [] { return PinnedTime(2026, 12, 6, 9, 5, 3); };
        services.startInTerminal = [](const std::vector<std::string>&) { return nullptr; };
        dlg = std::make_unique<CPrinterToolDlg>(services);
        ASSERT_TRUE(dlg->Create());
        window = static_cast<ui::HeadlessWindow*>(dlg->GetWindow());
        window->SetText(IDC_IP, "127.0.0.1");
    }
    void TearDown() override {
        dlg.reset();
        if (printer) {
            printer->Stop();
        }
    }

    std::vector<uint8_t> RawAfter(size_t size) {
        EXPECT_TRUE(printer->Raw().WaitForSize(size, kWait));
        return printer->Raw().Bytes();
    }

    size_t journalLines = VirtualPrinterConfig{}.journalLines;
    ui::HeadlessWindowSystem ws;
    std::unique_ptr<VirtualPrinter> printer;
    std::unique_ptr<NetworkPrinterLink> link;
    DialogServices services;
    std::unique_ptr<CPrinterToolDlg> dlg;
    ui::HeadlessWindow* window = nullptr;
};

TEST_F(LoopbackCommandsTest, PrintTextPrintHexInitCashdrawerAndCutterArriveInOrder) {
    const std::string utf8 = "Hello 1B 40\n打印机测试 ¥100\n";
    window->TypeText(IDC_PAYLOAD, utf8);
    window->Click(IDC_PRINT);
    window->Click(IDC_HEX);
    window->TypeText(IDC_PAYLOAD, "1B 40\n1b,70;00 08 08\n41 42 0A 1B6D");
    window->Click(IDC_PRINT);
    window->Click(IDC_INIT);
    window->Click(IDC_CASHDRAWER);
    window->Click(IDC_CUTTER);

    std::string expected = Utf8ToSystem(utf8);
    const std::string commands = std::string("\x1B\x40\x1B\x70\x00\x08\x08", 7);
    expected += commands + "AB\n\x1B\x6D";
    expected += commands + "Testing the cut\n\n\n\n\x1B\x6D";
    EXPECT_EQ(RawAfter(expected.size()), std::vector<uint8_t>(expected.begin(), expected.end()));
    size_t from = 0;
    for (const char* line :
         {"text: Hello 1B 40", "text: 打印机测试 ¥100", "ESC @ initialise",
          "ESC p drawer pin 2 on 16 ms off 16 ms", "text: AB", "ESC m partial cut",
          "ESC @ initialise", "ESC p drawer pin 2 on 16 ms off 16 ms", "text: Testing the cut",
          "ESC m partial cut"}) {
        const auto at = printer->GetJournal().WaitForLine(line, kWait, from);
        ASSERT_TRUE(at.has_value()) << "missing: " << line;
        from = *at + 1;
    }
    EXPECT_TRUE(ws.ShownBoxes().empty());
}

// Eight pseudo-random bytes a step (splitmix64), cheap enough to regenerate
// 64 MiB for the comparison instead of holding a second copy.
void Fill(uint64_t& state, std::vector<uint8_t>& piece) {
    for (size_t i = 0; i < piece.size(); i += 8) {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        std::memcpy(piece.data() + i, &z, 8);
    }
}

// Only the raw bytes are looked at: without a line journal the printer
// skips decoding random data as text.
class LoopbackPrintFileTest : public LoopbackCommandsTest {
protected:
    LoopbackPrintFileTest() { journalLines = 0; }
};

TEST_F(LoopbackPrintFileTest, PrintFileOf64MiBArrivesByteForByte) {
    constexpr size_t kSize = 64u << 20;
    constexpr size_t kPiece = 1u << 20;
    // Removes the file and puts the start directory back however the test
    // ends.
    struct Cleanup {
        std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                    ("vorpane-loopback-" + std::to_string(getpid()));
        std::string savedStart = g_startDir;
        ~Cleanup() {
            g_startDir = savedStart;
            std::error_code ignored;
            std::filesystem::remove_all(dir, ignored);
        }
    } cleanup;
    std::filesystem::create_directories(cleanup.dir);
    const auto path = cleanup.dir / "64MiB.bin";
    {
        uint64_t state = 2026;
        std::vector<uint8_t> piece(kPiece);
        FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        for (size_t done = 0; done < kSize; done += piece.size()) {
            Fill(state, piece);
            ASSERT_EQ(std::fwrite(piece.data(), 1, piece.size(), f), piece.size());
        }
        std::fclose(f);
    }
    g_startDir = std::filesystem::current_path().string();

    ws.QueueFileAnswer(path.string());
    window->Click(IDC_PRINT_FILE);
    ASSERT_EQ(ws.ShownBoxes().size(), 1u);
    EXPECT_EQ(ws.ShownBoxes()[0].text, "Send finished!");
    EXPECT_EQ(ws.ShownBoxes()[0].style, ui::kMbOk);

    const std::vector<uint8_t> raw = RawAfter(kSize);
    ASSERT_EQ(raw.size(), kSize);
    uint64_t state = 2026;
    std::vector<uint8_t> piece(kPiece);
    for (size_t at = 0; at < kSize; at += piece.size()) {
        Fill(state, piece);
        ASSERT_TRUE(std::equal(piece.begin(), piece.end(), raw.begin() + static_cast<long>(at)))
            << "first difference in the MiB at " << at;
    }
}

}  // namespace
}  // namespace vorpane
