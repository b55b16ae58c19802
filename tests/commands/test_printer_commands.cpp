// Print, Init, Cashdrawer, Cutter, Print File and Ping on the headless window
// system against the table printer link.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

#include "app/codepage.h"
#include "commands_fixture.h"

namespace vorpane {
namespace {

using ui::kMbIconError;
using ui::kMbIconInformation;
using ui::kMbOk;

std::string Cwd() {
    return std::filesystem::current_path().string();
}

// ---- Frames --------------------------------------------------------------

TEST_F(CommandsTest, EachFrameReachesSendDataWithExactBytesAndLength) {
    OpenOnline();
    window->Click(IDC_INIT);
    window->Click(IDC_CASHDRAWER);
    const auto sends = Sends();
    ASSERT_EQ(sends.size(), 2u);
    EXPECT_EQ(sends[0].address, kPrinter);
    EXPECT_EQ(sends[0].bytes, Bytes({0x1B, 0x40}));
    EXPECT_EQ(sends[0].a, 2);
    EXPECT_EQ(sends[1].address, kPrinter);
    EXPECT_EQ(sends[1].bytes, Bytes({0x1B, 0x70, 0x00, 0x08, 0x08}));
    EXPECT_EQ(sends[1].a, 5);
    // No message follows, whatever the library answers.
    link.SetSendResult(kPrinter, 0);
    window->Click(IDC_INIT);
    window->Click(IDC_CASHDRAWER);
    window->Click(IDC_CUTTER);
    EXPECT_TRUE(ws.ShownBoxes().empty());
}

TEST_F(CommandsTest, CutterSendsTextThenCutInTwoCalls) {
    OpenOnline();
    // The cut goes out even when the text did not.
    link.SetSendResult(kPrinter, -1);
    window->Click(IDC_CUTTER);
    const auto calls = link.Calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].function, "IsConPrinterServer");
    EXPECT_EQ(calls[1].function, "SendData");
    EXPECT_EQ(calls[1].bytes, Bytes("Testing the cut\n\n\n\n"));
    EXPECT_EQ(calls[1].a, 19);
    EXPECT_EQ(calls[2].function, "SendData");
    EXPECT_EQ(calls[2].bytes, Bytes({0x1B, 0x6D}));
    EXPECT_EQ(calls[2].a, 2);
}

// ---- Guard and off-line --------------------------------------------------

const int kGuardedCommands[] = {IDC_PRINT, IDC_INIT, IDC_CASHDRAWER, IDC_CUTTER, IDC_PRINT_FILE};

TEST_F(CommandsTest, OfflinePrinterStopsEveryCommandButPing) {
    Open();  // no printer in the table
    ws.QueueFileAnswer(WriteFile("f.bin", "x").string());
    for (int id : kGuardedCommands) {
        ws.ClearShownBoxes();
        window->Click(id);
        ASSERT_EQ(ws.ShownBoxes().size(), 1u) << id;
        EXPECT_EQ(ws.ShownBoxes()[0].text, "The printer is offline!") << id;
        EXPECT_EQ(ws.ShownBoxes()[0].style, kMbIconError) << id;
    }
    EXPECT_TRUE(Sends().empty());
    EXPECT_EQ(link.CallsOf("IsConPrinterServer").size(), std::size(kGuardedCommands));
    // The file dialog never opened.
    EXPECT_TRUE(ws.FileRequests().empty());

    ws.ClearShownBoxes();
    window->Click(IDC_PING);
    ASSERT_EQ(launched.size(), 1u);
    EXPECT_EQ(launched[0], (std::vector<std::string>{"ping", kPrinter}));
    EXPECT_TRUE(ws.ShownBoxes().empty());
}

TEST_F(CommandsTest, ScanBusyStopsEveryCommandButPing) {
    OpenOnline();
    MainDialogTestAccess::ActiveWorkers(*dlg) = 1;
    for (int id : kGuardedCommands) {
        ws.ClearShownBoxes();
        window->Click(id);
        ASSERT_EQ(ws.ShownBoxes().size(), 1u) << id;
        EXPECT_EQ(ws.ShownBoxes()[0].text, "Scanning,Please wait...") << id;
        EXPECT_EQ(ws.ShownBoxes()[0].style, kMbIconInformation) << id;
    }
    // The guard stops before the library is asked anything.
    EXPECT_TRUE(link.Calls().empty());
    EXPECT_TRUE(ws.FileRequests().empty());

    ws.ClearShownBoxes();
    window->Click(IDC_PING);
    EXPECT_EQ(launched.size(), 1u);
    EXPECT_TRUE(ws.ShownBoxes().empty());
    MainDialogTestAccess::ActiveWorkers(*dlg) = 0;
}

// ---- Print ---------------------------------------------------------------

TEST_F(CommandsTest, PrintWithoutEditingSendsTheTestPage) {
    OpenOnline();
    const std::string page = dlg->EditText();
    window->Click(IDC_PRINT);
    const auto sends = Sends();
    ASSERT_EQ(sends.size(), 1u);
    EXPECT_EQ(sends[0].bytes, Bytes(page));
    EXPECT_EQ(sends[0].a, static_cast<int32_t>(page.size()));
    EXPECT_TRUE(ws.ShownBoxes().empty());
}

TEST_F(CommandsTest, PrintTextModeSendsCodePageBytesUnchanged) {
    OpenOnline();
    // Hex-looking text, line breaks and a Chinese line go out as they are.
    const std::string utf8 = "1B 40\n打印测试 ¥\n\n";
    window->TypeText(IDC_PAYLOAD, utf8);
    window->Click(IDC_PRINT);
    const std::string expected = Utf8ToSystem(utf8);
    ASSERT_EQ(expected, "1B 40\n\xB4\xF2\xD3\xA1\xB2\xE2\xCA\xD4 \x81\x30\x84\x36\n\n");
    const auto sends = Sends();
    ASSERT_EQ(sends.size(), 1u);
    EXPECT_EQ(sends[0].bytes, Bytes(expected));
    EXPECT_EQ(sends[0].a, static_cast<int32_t>(expected.size()));
}

TEST_F(CommandsTest, PrintHexModeSendsParsedBytesInOneCall) {
    OpenOnline();
    window->Click(IDC_HEX);
    ASSERT_EQ(window->GetCheck(IDC_HEX), 1);
    struct Case {
        std::string text;
        std::vector<uint8_t> bytes;
    };
    const Case cases[] = {
        {"1B,40;1b 40", Bytes({0x1B, 0x40, 0x1B, 0x40})},
        {"1b4", Bytes({0x1B, 0x04})},
        {"1\n2", Bytes({0x12})},
        {"00", Bytes({0x00})},
        // Chinese characters are no digits, and do not split a pair.
        {"1打2", Bytes({0x12})},
        {"zz", {}},
        {"", {}},
    };
    for (const auto& c : cases) {
        link.ClearCalls();
        window->TypeText(IDC_PAYLOAD, c.text);
        window->Click(IDC_PRINT);
        const auto sends = Sends();
        ASSERT_EQ(sends.size(), 1u) << c.text;
        EXPECT_EQ(sends[0].bytes, c.bytes) << c.text;
        // Even an empty result is a send, of length 0.
        EXPECT_EQ(sends[0].a, static_cast<int32_t>(c.bytes.size())) << c.text;
    }
    EXPECT_TRUE(ws.ShownBoxes().empty());
}

TEST_F(CommandsTest, PrintAfterFailedRefreshSendsLastGoodText) {
    OpenOnline();
    window->TypeText(IDC_PAYLOAD, "first");
    dlg->UpdateData(true);
    window->SetText(IDC_TIMEOUT, "abc");
    window->SetText(IDC_PAYLOAD, "second");
    window->Click(IDC_PRINT);
    const auto sends = Sends();
    ASSERT_EQ(sends.size(), 1u);
    EXPECT_EQ(sends[0].bytes, Bytes("first"));
}

// ---- Print File ----------------------------------------------------------

class PrintFileTest : public CommandsTest {
protected:
    void SetUp() override {
        OpenOnline();
        // As if the file dialog had moved the current directory.
        g_startDir = (tempDir / "start").string();
        std::filesystem::current_path(tempDir / "elsewhere");
    }
    void Choose(const std::filesystem::path& path) { ws.QueueFileAnswer(path.string()); }
    void ExpectOneBox(const std::string& text, uint32_t style) {
        ASSERT_EQ(ws.ShownBoxes().size(), 1u);
        EXPECT_EQ(ws.ShownBoxes()[0].text, text);
        EXPECT_EQ(ws.ShownBoxes()[0].style, style);
    }
};

TEST_F(PrintFileTest, DialogAsksForOneFileOfAnyName) {
    window->Click(IDC_PRINT_FILE);
    ASSERT_EQ(ws.FileRequests().size(), 1u);
    const auto& r = ws.FileRequests()[0];
    EXPECT_EQ(r.filterName, "All Files (*.*)");
    // Names without a dot must show too.
    EXPECT_EQ(r.pattern, "*");
    EXPECT_EQ(r.title, "");
}

TEST_F(PrintFileTest, CancelSendsNothingShowsNothingAndLeavesDirectory) {
    ws.QueueFileAnswer(std::nullopt);
    window->Click(IDC_PRINT_FILE);
    EXPECT_EQ(ws.FileRequests().size(), 1u);
    EXPECT_TRUE(Sends().empty());
    EXPECT_TRUE(ws.ShownBoxes().empty());
    EXPECT_EQ(Cwd(), (tempDir / "elsewhere").string());
}

TEST_F(PrintFileTest, EmptyFileIsASendOfLengthZero) {
    Choose(WriteFile("empty", ""));
    window->Click(IDC_PRINT_FILE);
    const auto sends = Sends();
    ASSERT_EQ(sends.size(), 1u);
    EXPECT_EQ(sends[0].a, 0);
    EXPECT_TRUE(sends[0].bytes.empty());
    ExpectOneBox("Send finished!", kMbOk);
    EXPECT_EQ(Cwd(), g_startDir);
}

TEST_F(PrintFileTest, EveryByteValueGoesOutUnchanged) {
    std::string content;
    for (int round = 0; round < 3; ++round) {
        for (int b = 0; b < 256; ++b) {
            content.push_back(static_cast<char>(b));
        }
        content.append(100, '\0');
    }
    // A name without a dot.
    Choose(WriteFile("RAW_DATA", content));
    window->Click(IDC_PRINT_FILE);
    const auto sends = Sends();
    ASSERT_EQ(sends.size(), 1u);
    EXPECT_EQ(sends[0].address, kPrinter);
    EXPECT_EQ(sends[0].a, static_cast<int32_t>(content.size()));
    EXPECT_EQ(sends[0].bytes, Bytes(content));
    ExpectOneBox("Send finished!", kMbOk);
    EXPECT_EQ(Cwd(), g_startDir);
}

TEST_F(PrintFileTest, MissingFileReportsErrnoAndPathAndRestoresDirectory) {
    const auto path = tempDir / "no such file.prn";
    Choose(path);
    window->Click(IDC_PRINT_FILE);
    EXPECT_TRUE(Sends().empty());
    ExpectOneBox("Open File Failed!Err=2\n" + path.string(), kMbOk);
    EXPECT_EQ(Cwd(), g_startDir);
}

TEST_F(PrintFileTest, UnreadableFileReportsAccessDenied) {
    std::filesystem::path path;
    if (geteuid() != 0) {
        path = WriteFile("locked.bin", "secret");
        ASSERT_EQ(chmod(path.c_str(), 0), 0);
    } else {
        // Root reads every ordinary file; sysfs still refuses to open a
        // write-only attribute for reading.
        path = "/sys/bus/pci/rescan";
        if (!std::filesystem::exists(path)) {
            GTEST_SKIP() << "no file this user is denied";
        }
    }
    Choose(path);
    window->Click(IDC_PRINT_FILE);
    EXPECT_TRUE(Sends().empty());
    ExpectOneBox("Open File Failed!Err=13\n" + path.string(), kMbOk);
    EXPECT_EQ(Cwd(), g_startDir);
}

TEST_F(PrintFileTest, DirectoryIsNoFileToSend) {
    const auto path = tempDir / "elsewhere";
    Choose(path);
    window->Click(IDC_PRINT_FILE);
    EXPECT_TRUE(Sends().empty());
    ExpectOneBox("Open File Failed!Err=21\n" + path.string(), kMbOk);
    EXPECT_EQ(Cwd(), g_startDir);
}

TEST_F(PrintFileTest, IncompleteSendIsAnErrorNotFinished) {
    const auto path = WriteFile("ten.bin", "0123456789");
    const std::pair<int32_t, std::string> results[] = {
        {3, "Send Failed!Sent 3 of 10 bytes\n"},
        {0, "Send Failed!Sent 0 of 10 bytes\n"},
        {-1, "Send Failed!Sent 0 of 10 bytes\n"},
        // More than was handed over is no success either.
        {11, "Send Failed!Sent 11 of 10 bytes\n"},
    };
    for (const auto& [result, text] : results) {
        ws.ClearShownBoxes();
        link.ClearCalls();
        link.SetSendResult(kPrinter, result);
        Choose(path);
        window->Click(IDC_PRINT_FILE);
        ASSERT_EQ(Sends().size(), 1u);
        EXPECT_EQ(Sends()[0].bytes, Bytes("0123456789"));
        ExpectOneBox(text + path.string(), kMbIconError);
        EXPECT_EQ(Cwd(), g_startDir);
    }
}

TEST_F(PrintFileTest, ShortReadSendsWhatWasReadAndSaysSo) {
    // sysfs gives every attribute a length of a page but far fewer bytes.
    const std::filesystem::path path = "/sys/class/net/lo/address";
    std::ifstream in(path, std::ios::binary);
    ASSERT_TRUE(in.good());
    const std::string content((std::istreambuf_iterator<char>(in)), {});
    ASSERT_LT(content.size(), std::filesystem::file_size(path));
    const auto measured = std::filesystem::file_size(path);

    Choose(path);
    window->Click(IDC_PRINT_FILE);
    const auto sends = Sends();
    ASSERT_EQ(sends.size(), 1u);
    // No zero padding up to the measured length.
    EXPECT_EQ(sends[0].bytes, Bytes(content));
    EXPECT_EQ(sends[0].a, static_cast<int32_t>(content.size()));
    const std::string n = std::to_string(content.size());
    ExpectOneBox("Read File Failed!Read " + n + " of " + std::to_string(measured) +
                     " bytes, sent " + n + " of " + n + " bytes\n" + path.string(),
                 kMbIconError);
    EXPECT_EQ(Cwd(), g_startDir);
}

TEST_F(PrintFileTest, FileTooLargeForOneSendIsRefusedBeforeReading) {
    // Sparse: takes no disk space.
    const auto path = tempDir / "huge.bin";
    for (const uint64_t size : {uint64_t{0x80000000}, uint64_t{0x100000005}}) {
        ws.ClearShownBoxes();
        { std::ofstream touch(path, std::ios::binary | std::ios::trunc); }
        std::filesystem::resize_file(path, size);
        Choose(path);
        window->Click(IDC_PRINT_FILE);
        EXPECT_TRUE(Sends().empty()) << size;
        ExpectOneBox("The file is too large to send!\n" + path.string(), kMbIconError);
        EXPECT_EQ(Cwd(), g_startDir);
    }
}

TEST_F(PrintFileTest, FileAboveTheUsualLockLimitGoesOutWhole) {
    // Above the default 8 MiB locked-memory limit of an ordinary user: a
    // refused lock must not stop the send.
    std::string content(9 * 1024 * 1024 + 7, '\0');
    for (size_t i = 0; i < content.size(); i += 4093) {
        content[i] = static_cast<char>(i / 4093);
    }
    Choose(WriteFile("big.bin", content));
    window->Click(IDC_PRINT_FILE);
    const auto sends = Sends();
    ASSERT_EQ(sends.size(), 1u);
    EXPECT_EQ(sends[0].a, static_cast<int32_t>(content.size()));
    EXPECT_TRUE(sends[0].bytes == Bytes(content));
    ExpectOneBox("Send finished!", kMbOk);
}

// ---- Ping ----------------------------------------------------------------

TEST_F(CommandsTest, PingStartsPlainPingOnTheAddressAndWaitsForIt) {
    Open();
    window->SetText(IDC_IP, "10.1.2.3");
    int polls = 0;
    terminalFinished = [&] { return ++polls >= 3; };
    window->Click(IDC_PING);
    ASSERT_EQ(launched.size(), 1u);
    // No "-t": here that would set a TTL.
    EXPECT_EQ(launched[0], (std::vector<std::string>{"ping", "10.1.2.3"}));
    // Returned only once the terminal had ended.
    EXPECT_EQ(polls, 3);
    EXPECT_TRUE(link.Calls().empty());
    EXPECT_TRUE(ws.ShownBoxes().empty());
}

TEST_F(CommandsTest, PingKeepsServingTheWindowWhileItWaits) {
    std::atomic<bool> served{false};
    // A worker's request to the UI thread is answered during the wait; the
    // terminal ends only after that.
    terminalFinished = [&] { return served.load(); };
    std::thread worker;
    services.startInTerminal = [&](const std::vector<std::string>& command) {
        launched.push_back(command);
        worker = std::thread([&] { ws.Invoke([&] { served = true; }); });
        return std::make_unique<FakeTerminal>(terminalFinished);
    };
    Open();
    window->Click(IDC_PING);
    worker.join();
    EXPECT_TRUE(served.load());
    EXPECT_EQ(launched.size(), 1u);
}

TEST_F(CommandsTest, PingWithoutTerminalSaysSo) {
    Open();
    terminalAvailable = false;
    window->Click(IDC_PING);
    EXPECT_EQ(launched.size(), 1u);
    ASSERT_EQ(ws.ShownBoxes().size(), 1u);
    EXPECT_EQ(ws.ShownBoxes()[0].text, "Cannot start ping: no terminal emulator found!");
    EXPECT_EQ(ws.ShownBoxes()[0].style, kMbIconError);
}

}  // namespace
}  // namespace vorpane
