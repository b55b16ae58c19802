// Print, Init, Cashdrawer, Cutter, Print File and Ping on the headless window
// system against the table printer link.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <iterator>
#include <thread>

#include "commands_fixture.h"
#include "platform/codepage.h"

namespace vorpane {
namespace {

using ui::kMbIconError;
using ui::kMbIconInformation;
using ui::kMbOk;

TEST_F(CommandsTest, EachFrameReachesSendDataWithExactBytesAndLength) {
    OpenOnline();
    window->Click(IDC_INIT);
    window->Click(IDC_CASHDRAWER);
    ExpectSends({{0x1B, 0x40}, {0x1B, 0x70, 0x00, 0x08, 0x08}});
    // The cut goes out in a second call, even when the text did not.
    link.ClearCalls();
    link.SetSendResult(kPrinter, -1);
    window->Click(IDC_CUTTER);
    ASSERT_EQ(link.Calls().size(), 3u);
    EXPECT_EQ(link.Calls()[0].function, "IsConPrinterServer");
    ExpectSends({Bytes("Testing the cut\n\n\n\n"), {0x1B, 0x6D}});
    // No message follows, whatever the library answers.
    link.SetSendResult(kPrinter, 0);
    for (int id : {IDC_INIT, IDC_CASHDRAWER, IDC_CUTTER}) {
        window->Click(id);
    }
    EXPECT_TRUE(ws.ShownBoxes().empty());
}

TEST_F(CommandsTest, OfflineOrScanBusyStopsEveryCommandButPing) {
    const int guarded[] = {IDC_PRINT, IDC_INIT, IDC_CASHDRAWER, IDC_CUTTER, IDC_PRINT_FILE};
    for (const bool busy : {false, true}) {  // offline first: no printer in the table
        SCOPED_TRACE(busy ? "busy" : "offline");
        busy ? OpenOnline() : Open();
        ScanTestAccess::ActiveWorkers(dlg->Scan()) = busy ? 1 : 0;
        ws.QueueFileAnswer(WriteFile("f.bin", "x").string());
        for (int id : guarded) {
            ws.ClearShownBoxes();
            window->Click(id);
            EXPECT_EQ(Boxes(),
                      (BoxList{busy ? std::pair{"Scanning,Please wait...", kMbIconInformation}
                                    : std::pair{"The printer is offline!", kMbIconError}}))
                << id;
        }
        EXPECT_TRUE(Sends().empty());
        // The guard stops before the library is asked anything.
        EXPECT_EQ(link.Calls().size(), busy ? 0u : std::size(guarded));
        EXPECT_TRUE(ws.FileRequests().empty());
        ws.ClearShownBoxes();
        launched.clear();
        window->Click(IDC_PING);
        EXPECT_EQ(launched, (std::vector<std::vector<std::string>>{{"ping", kPrinter}}));
        EXPECT_TRUE(ws.ShownBoxes().empty());
        ScanTestAccess::ActiveWorkers(dlg->Scan()) = 0;
    }
}

TEST_F(CommandsTest, PrintSendsTextAsCodePageBytesAndHexParsedInOneCall) {
    OpenOnline();
    const std::string page = dlg->EditText();  // unedited, the test page goes out
    window->Click(IDC_PRINT);
    // Hex-looking text, line breaks and a Chinese line go out as they are.
    window->TypeText(IDC_PAYLOAD, "1B 40\n打印测试 ¥\n\n");
    window->Click(IDC_PRINT);
    const std::string gb = "1B 40\n\xB4\xF2\xD3\xA1\xB2\xE2\xCA\xD4 \x81\x30\x84\x36\n\n";
    // After a failed refresh, the last good text.
    window->SetText(IDC_TIMEOUT, "abc");
    window->SetText(IDC_PAYLOAD, "second");
    window->Click(IDC_PRINT);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>(2, "Please enter an integer."));
    ExpectSends({Bytes(page), Bytes(gb), Bytes(gb)});

    // Hex: Chinese characters do not split a pair; no digits is a send of 0.
    window->SetText(IDC_TIMEOUT, "1000");
    window->Click(IDC_HEX);
    ws.ClearShownBoxes();
    for (const auto& [text, bytes] : {std::pair<std::string, Frame>{"1打2", {0x12}}, {"zz", {}}}) {
        link.ClearCalls();
        window->TypeText(IDC_PAYLOAD, text);
        window->Click(IDC_PRINT);
        ExpectSends({bytes});
    }
    EXPECT_TRUE(ws.ShownBoxes().empty());
}

class PrintFileTest : public CommandsTest {
protected:
    void SetUp() override {
        OpenOnline();
        // As if the file dialog had moved the current directory.
        g_startDir = (tempDir / "start").string();
        std::filesystem::current_path(tempDir / "elsewhere");
    }
    // Chooses `path` and presses Print File: the one box that follows, the
    // directory put back, and the sends.
    void PrintFile(const std::filesystem::path& path, const std::string& text, uint32_t style,
                   const std::vector<Frame>& sends) {
        ws.ClearShownBoxes();
        link.ClearCalls();
        ws.QueueFileAnswer(path.string());
        window->Click(IDC_PRINT_FILE);
        EXPECT_EQ(Boxes(), (BoxList{{text, style}}));
        EXPECT_EQ(std::filesystem::current_path().string(), g_startDir);
        ExpectSends(sends);
    }
};

TEST_F(PrintFileTest, CancelledDialogSendsNothingShowsNothingAndLeavesDirectory) {
    ws.QueueFileAnswer(std::nullopt);
    window->Click(IDC_PRINT_FILE);
    ASSERT_EQ(ws.FileRequests().size(), 1u);
    EXPECT_EQ(ws.FileRequests()[0].filterName, "All Files (*.*)");
    EXPECT_EQ(ws.FileRequests()[0].pattern, "*");  // names without a dot must show too
    EXPECT_EQ(ws.FileRequests()[0].title, "");
    EXPECT_TRUE(Sends().empty());
    EXPECT_TRUE(ws.ShownBoxes().empty());
    EXPECT_EQ(std::filesystem::current_path(), tempDir / "elsewhere");
}

TEST_F(PrintFileTest, EveryByteGoesOutUnchangedInOneSend) {
    std::string everyByte;
    for (int b = 0; b < 3 * 256; ++b) {
        everyByte += std::string(b % 256 == 0 ? 100 : 0, '\0') + static_cast<char>(b);
    }
    for (const auto& [name, content] :
         {std::pair<const char*, std::string>{"empty", ""}, {"RAW_DATA", everyByte}}) {
        SCOPED_TRACE(name);
        PrintFile(WriteFile(name, content), "Send finished!", kMbOk, {Bytes(content)});
    }
}

TEST_F(PrintFileTest, FailedOpenIncompleteSendAndTooLargeFileAreErrors) {
    // Root reads every ordinary file; sysfs still refuses to open a
    // write-only attribute for reading.
    std::filesystem::path denied = "/sys/bus/pci/rescan";
    if (geteuid() != 0) {
        denied = WriteFile("locked.bin", "secret");
        ASSERT_EQ(chmod(denied.c_str(), 0), 0);
    }
    const std::pair<std::filesystem::path, int> cases[] = {
        {tempDir / "no such file.prn", 2}, {denied, 13}, {tempDir / "elsewhere", 21}};
    for (const auto& [path, error] : cases) {
        if (std::filesystem::exists(path) || error != 13) {
            PrintFile(path, "Open File Failed!Err=" + std::to_string(error) + "\n" + path.string(),
                      kMbOk, {});
        }
    }
    // More than was handed over is no success either.
    const auto ten = WriteFile("ten.bin", "0123456789");
    for (const int32_t result : {3, 0, -1, 11}) {
        link.SetSendResult(kPrinter, result);
        PrintFile(ten,
                  "Send Failed!Sent " + std::to_string(std::max(result, 0)) + " of 10 bytes\n" +
                      ten.string(),
                  kMbIconError, {Bytes("0123456789")});
    }
    // Refused before reading: no buffer is asked for.
    const auto huge = WriteFile("huge.bin", "");
    for (const uint64_t size : {uint64_t{0x80000000}, uint64_t{0x100000005}}) {
        std::filesystem::resize_file(huge, size);  // sparse: takes no disk space
        PrintFile(huge, "The file is too large to send!\n" + huge.string(), kMbIconError, {});
    }
}

TEST_F(PrintFileTest, ShortReadSendsWhatWasReadAndSaysSo) {
    // sysfs gives every attribute a length of a page but far fewer bytes.
    const std::filesystem::path path = "/sys/class/net/lo/address";
    std::ifstream in(path, std::ios::binary);
    const std::string content((std::istreambuf_iterator<char>(in)), {});
    const auto measured = std::filesystem::file_size(path);
    ASSERT_LT(content.size(), measured);
    const std::string n = std::to_string(content.size());
    // No zero padding up to the measured length.
    PrintFile(path,
              "Read File Failed!Read " + n + " of " + std::to_string(measured) + " bytes, sent " +
                  n + " of " + n + " bytes\n" + path.string(),
              kMbIconError, {Bytes(content)});
}

TEST_F(CommandsTest, PingStartsPlainPingAndServesTheWindowUntilItEnds) {
    std::atomic<bool> served{false};
    std::thread worker;
    // A worker's request to the UI thread is answered during the wait; the
    // terminal ends only after that.
    terminalFinished = [&] { return served.load(); };
    services.startInTerminal = [&](const std::vector<std::string>& command) {
        launched.push_back(command);
        if (!terminalAvailable) {
            return std::unique_ptr<FakeTerminal>();
        }
        worker = std::thread([&] { ws.Invoke([&] { served = true; }); });
        return std::make_unique<FakeTerminal>(terminalFinished);
    };
    Open();
    window->SetText(IDC_IP, "10.1.2.3");
    window->Click(IDC_PING);
    EXPECT_TRUE(served.load());
    worker.join();
    // No "-t": here that would set a TTL.
    EXPECT_EQ(launched, (std::vector<std::vector<std::string>>{{"ping", "10.1.2.3"}}));
    EXPECT_TRUE(link.Calls().empty());
    EXPECT_TRUE(ws.ShownBoxes().empty());

    terminalAvailable = false;
    window->Click(IDC_PING);
    EXPECT_EQ(launched.size(), 2u);
    EXPECT_EQ(Boxes(), (BoxList{{"Cannot start ping: no terminal emulator found!", kMbIconError}}));
}

}  // namespace
}  // namespace vorpane
