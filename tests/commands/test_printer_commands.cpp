// Print, Init, Cashdrawer, Cutter, Print File and Ping on the headless window
// system against the table printer link.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

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

TEST_F(CommandsTest, EachFrameReachesSendDataWithExactBytesAndLength) {
    OpenOnline();
    window->Click(IDC_INIT);
    window->Click(IDC_CASHDRAWER);
    ExpectSends({Bytes({0x1B, 0x40}), Bytes({0x1B, 0x70, 0x00, 0x08, 0x08})});

    // The cut goes out in a second call, even when the text did not.
    link.ClearCalls();
    link.SetSendResult(kPrinter, -1);
    window->Click(IDC_CUTTER);
    const auto calls = link.Calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].function, "IsConPrinterServer");
    ExpectSends({Bytes("Testing the cut\n\n\n\n"), Bytes({0x1B, 0x6D})});

    // No message follows, whatever the library answers.
    link.SetSendResult(kPrinter, 0);
    window->Click(IDC_INIT);
    window->Click(IDC_CASHDRAWER);
    window->Click(IDC_CUTTER);
    EXPECT_TRUE(ws.ShownBoxes().empty());
}

TEST_F(CommandsTest, OfflineOrScanBusyStopsEveryCommandButPing) {
    const int guarded[] = {IDC_PRINT, IDC_INIT, IDC_CASHDRAWER, IDC_CUTTER, IDC_PRINT_FILE};
    for (const bool busy : {false, true}) {  // offline first: no printer in the table
        SCOPED_TRACE(busy ? "busy" : "offline");
        if (busy) {
            OpenOnline();
            MainDialogTestAccess::ActiveWorkers(*dlg) = 1;
        } else {
            Open();
        }
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
        MainDialogTestAccess::ActiveWorkers(*dlg) = 0;
    }
}

TEST_F(CommandsTest, PrintTextModeSendsCodePageBytesUnchanged) {
    OpenOnline();
    // Unedited, the test page goes out.
    const std::string page = dlg->EditText();
    window->Click(IDC_PRINT);
    // Hex-looking text, line breaks and a Chinese line go out as they are.
    const std::string utf8 = "1B 40\n打印测试 ¥\n\n";
    window->TypeText(IDC_PAYLOAD, utf8);
    window->Click(IDC_PRINT);
    const std::string gb = "1B 40\n\xB4\xF2\xD3\xA1\xB2\xE2\xCA\xD4 \x81\x30\x84\x36\n\n";
    ASSERT_EQ(Utf8ToSystem(utf8), gb);
    // After a failed refresh, the last good text.
    window->SetText(IDC_TIMEOUT, "abc");
    window->SetText(IDC_PAYLOAD, "second");
    window->Click(IDC_PRINT);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Please enter an integer."});
    ExpectSends({Bytes(page), Bytes(gb), Bytes(gb)});
}

TEST_F(CommandsTest, PrintHexModeSendsParsedBytesInOneCall) {
    OpenOnline();
    window->Click(IDC_HEX);
    ASSERT_EQ(window->GetCheck(IDC_HEX), 1);
    // Chinese characters are no digits and do not split a pair; even an
    // empty result is a send, of length 0.
    const std::pair<std::string, std::vector<uint8_t>> cases[] = {
        {"1B,40;1b 40", Bytes({0x1B, 0x40, 0x1B, 0x40})},
        {"1\n2", Bytes({0x12})},
        {"1打2", Bytes({0x12})},
        {"zz", {}},
    };
    for (const auto& [text, bytes] : cases) {
        link.ClearCalls();
        window->TypeText(IDC_PAYLOAD, text);
        window->Click(IDC_PRINT);
        SCOPED_TRACE(text);
        ExpectSends({bytes});
    }
    EXPECT_TRUE(ws.ShownBoxes().empty());
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
    // Chooses `path` in the file dialog and presses Print File: the one box
    // that follows, and the directory put back.
    void PrintFile(const std::filesystem::path& path, const std::string& text, uint32_t style) {
        ws.ClearShownBoxes();
        ws.QueueFileAnswer(path.string());
        window->Click(IDC_PRINT_FILE);
        EXPECT_EQ(Boxes(), (BoxList{{text, style}}));
        EXPECT_EQ(Cwd(), g_startDir);
    }
};

TEST_F(PrintFileTest, CancelledDialogSendsNothingShowsNothingAndLeavesDirectory) {
    ws.QueueFileAnswer(std::nullopt);
    window->Click(IDC_PRINT_FILE);
    ASSERT_EQ(ws.FileRequests().size(), 1u);
    const auto& r = ws.FileRequests()[0];
    EXPECT_EQ(r.filterName, "All Files (*.*)");
    EXPECT_EQ(r.pattern, "*");  // names without a dot must show too
    EXPECT_EQ(r.title, "");
    EXPECT_TRUE(Sends().empty());
    EXPECT_TRUE(ws.ShownBoxes().empty());
    EXPECT_EQ(Cwd(), (tempDir / "elsewhere").string());
}

TEST_F(PrintFileTest, EveryByteGoesOutUnchangedInOneSend) {
    std::string everyByte;
    for (int round = 0; round < 3; ++round) {
        for (int b = 0; b < 256; ++b) {
            everyByte.push_back(static_cast<char>(b));
        }
        everyByte.append(100, '\0');
    }
    // Above the default 8 MiB locked-memory limit of an ordinary user: a
    // refused lock must not stop the send.
    std::string big(9 * 1024 * 1024 + 7, '\0');
    for (size_t i = 0; i < big.size(); i += 4093) {
        big[i] = static_cast<char>(i / 4093);
    }
    const std::pair<const char*, const std::string*> files[] = {
        {"empty", nullptr}, {"RAW_DATA", &everyByte}, {"big.bin", &big}};
    for (const auto& [name, content] : files) {
        SCOPED_TRACE(name);
        link.ClearCalls();
        PrintFile(WriteFile(name, content ? *content : ""), "Send finished!", kMbOk);
        ExpectSends({content ? Bytes(*content) : std::vector<uint8_t>{}});
    }
}

TEST_F(PrintFileTest, FileThatCannotBeOpenedReportsErrnoAndPath) {
    std::filesystem::path denied;
    if (geteuid() != 0) {
        denied = WriteFile("locked.bin", "secret");
        ASSERT_EQ(chmod(denied.c_str(), 0), 0);
    } else {
        // Root reads every ordinary file; sysfs still refuses to open a
        // write-only attribute for reading.
        denied = "/sys/bus/pci/rescan";
    }
    const std::pair<std::filesystem::path, int> cases[] = {
        {tempDir / "no such file.prn", 2}, {denied, 13}, {tempDir / "elsewhere", 21}};
    for (const auto& [path, error] : cases) {
        if (error == 13 && !std::filesystem::exists(path)) {
            continue;  // no file this user is denied
        }
        SCOPED_TRACE(path);
        PrintFile(path, "Open File Failed!Err=" + std::to_string(error) + "\n" + path.string(),
                  kMbOk);
        EXPECT_TRUE(Sends().empty());
    }
}

TEST_F(PrintFileTest, IncompleteSendIsAnErrorNotFinished) {
    const auto path = WriteFile("ten.bin", "0123456789");
    // More than was handed over is no success either.
    for (const int32_t result : {3, 0, -1, 11}) {
        link.ClearCalls();
        link.SetSendResult(kPrinter, result);
        PrintFile(path,
                  "Send Failed!Sent " + std::to_string(std::max(result, 0)) + " of 10 bytes\n" +
                      path.string(),
                  kMbIconError);
        ExpectSends({Bytes("0123456789")});
    }
}

TEST_F(PrintFileTest, ShortReadSendsWhatWasReadAndSaysSo) {
    // sysfs gives every attribute a length of a page but far fewer bytes.
    const std::filesystem::path path = "/sys/class/net/lo/address";
    std::ifstream in(path, std::ios::binary);
    ASSERT_TRUE(in.good());
    const std::string content((std::istreambuf_iterator<char>(in)), {});
    const auto measured = std::filesystem::file_size(path);
    ASSERT_LT(content.size(), measured);

    const std::string n = std::to_string(content.size());
    PrintFile(path,
              "Read File Failed!Read " + n + " of " + std::to_string(measured) + " bytes, sent " +
                  n + " of " + n + " bytes\n" + path.string(),
              kMbIconError);
    ExpectSends({Bytes(content)});  // no zero padding up to the measured length
}

TEST_F(PrintFileTest, FileTooLargeForOneSendIsRefusedBeforeReading) {
    const auto path = tempDir / "huge.bin";
    for (const uint64_t size : {uint64_t{0x80000000}, uint64_t{0x100000005}}) {
        WriteFile("huge.bin", "");
        std::filesystem::resize_file(path, size);  // sparse: takes no disk space
        PrintFile(path, "The file is too large to send!\n" + path.string(), kMbIconError);
        EXPECT_TRUE(Sends().empty()) << size;
    }
}

// ---- Ping ----------------------------------------------------------------

TEST_F(CommandsTest, PingStartsPlainPingOnTheAddressAndWaitsForIt) {
    Open();
    window->SetText(IDC_IP, "10.1.2.3");
    int polls = 0;
    terminalFinished = [&] { return ++polls >= 3; };
    window->Click(IDC_PING);
    // No "-t": here that would set a TTL.
    EXPECT_EQ(launched, (std::vector<std::vector<std::string>>{{"ping", "10.1.2.3"}}));
    EXPECT_EQ(polls, 3);  // returned only once the terminal had ended
    EXPECT_TRUE(link.Calls().empty());
    EXPECT_TRUE(ws.ShownBoxes().empty());

    terminalAvailable = false;
    window->Click(IDC_PING);
    EXPECT_EQ(launched.size(), 2u);
    EXPECT_EQ(Boxes(), (BoxList{{"Cannot start ping: no terminal emulator found!", kMbIconError}}));
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

}  // namespace
}  // namespace vorpane
