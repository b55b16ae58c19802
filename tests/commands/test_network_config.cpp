// Set IP and Set MAC on the headless window system against the table printer
// link, with a scripted probe, a pinned clock and a pinned generator.

#include <gtest/gtest.h>

#include <cstdlib>

#include "commands/command_frames.h"
#include "commands_fixture.h"

namespace vorpane {
namespace {

using ui::kIdCancel;
using ui::kIdOk;
using ui::kMbIconError;
using ui::kMbIconInformation;
using Probes = std::vector<std::pair<std::string, int32_t>>;

constexpr uint32_t kQuestion = ui::kMbOkCancel | ui::kMbIconQuestion;

class SetIpTest : public CommandsTest {
protected:
    void SetUp() override {
        OpenOnline();
        window->SetText(IDC_NEW_IP, "192.168.1.20");
    }
    Probes TakeProbes() {
        std::lock_guard lock(probes->mutex);
        return std::exchange(probes->probes, {});
    }
    // Clicks `button` with `answer` queued for the question; the boxes shown.
    BoxList Click(int button, int answer = kIdOk) {
        ws.ClearShownBoxes();
        link.ClearCalls();
        ws.QueueAnswer(answer);
        window->Click(button);
        return Boxes();
    }
};

// The refusals before the question, and Cancel at it: nothing sent, nothing
// probed.
TEST_F(SetIpTest, FailuresBeforeTheFrameSendAndProbeNothing) {
    const std::string question = "Are you sure to set the new IP:192.168.1.20?";
    const struct {
        const char* name;
        std::function<void()> arrange;
        BoxList boxes;
        size_t onlineChecks;
    } cases[] = {
        {"scan busy",
         [&] { MainDialogTestAccess::ActiveWorkers(*dlg) = 1; },
         {{"Scanning,Please wait...", kMbIconInformation}},
         0},
        {"offline",
         [&] { link.RemovePrinter(kPrinter); },
         {{"The printer is offline!", kMbIconError}},
         1},
        {"same address",
         [&] { window->SetText(IDC_NEW_IP, kPrinter); },
         {{"Please input a different IP Address!", kMbIconInformation}},
         1},
        {"cancel", [] {}, {{question, kQuestion}}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.arrange();
        EXPECT_EQ(Click(IDC_SET_IP, kIdCancel), c.boxes);
        EXPECT_EQ(link.CallsOf("IsConPrinterServer").size(), c.onlineChecks);
        EXPECT_TRUE(Sends().empty());
        EXPECT_TRUE(TakeProbes().empty());
        MainDialogTestAccess::ActiveWorkers(*dlg) = 0;
        link.AddPrinter(kPrinter);
        window->SetText(IDC_NEW_IP, "192.168.1.20");
    }
}

TEST_F(SetIpTest, AddressThatAnswersIsOccupied) {
    for (int32_t answer : {1, 2}) {
        {
            std::lock_guard lock(probes->mutex);
            probes->answers["192.168.1.20"] = answer;
        }
        EXPECT_EQ(Click(IDC_SET_IP),
                  (BoxList{{"Are you sure to set the new IP:192.168.1.20?", kQuestion},
                           {"This IP(192.168.1.20) has been occupied by other network equipment!",
                            kMbIconInformation}}));
        // The new address is probed, for a second, after the question.
        EXPECT_EQ(TakeProbes(), (Probes{{"192.168.1.20", 1000}}));
        EXPECT_TRUE(Sends().empty());
    }
}

TEST_F(SetIpTest, FrameGoesToTheCurrentAddressAndOnlySevenIsSuccess) {
    for (const int32_t result : {7, 0, 6, 8, -1}) {
        link.SetSendResult(kPrinter, result);
        EXPECT_EQ(Click(IDC_SET_IP),
                  (BoxList{{"Are you sure to set the new IP:192.168.1.20?", kQuestion},
                           {result == 7 ? "Success!\nPlease restart the printer!"
                                        : "Modify the IP Address failed!",
                            kMbIconInformation}}))
            << result;
        ExpectSends({Bytes({0x1D, 0x44, 0xC0, 0xA8, 0x01, 0x14, 0x7D})});
    }
    // Neither address control changes, whatever the outcome.
    EXPECT_EQ(window->GetText(IDC_IP), kPrinter);
    EXPECT_EQ(window->GetText(IDC_NEW_IP), "192.168.1.20");
}

TEST_F(SetIpTest, OctetsAndTheirSumModulo256MakeTheFrame) {
    const struct {
        const char* newAddress;  // null: blank control
        int32_t probe;           // -1: the probe could not be made, counts as free
        std::vector<uint8_t> frame;
    } cases[] = {
        {"10.255.255.1", -1, Bytes({0x1D, 0x44, 0x0A, 0xFF, 0xFF, 0x01, 0x09})},
        {nullptr, 0, Bytes({0x1D, 0x44, 0, 0, 0, 0, 0})},
    };
    for (const auto& c : cases) {
        const std::string shown = c.newAddress ? c.newAddress : "0.0.0.0";
        SCOPED_TRACE(shown);
        if (c.newAddress) {
            window->SetText(IDC_NEW_IP, c.newAddress);
        } else {
            window->SetBlankIp(IDC_NEW_IP);
        }
        {
            std::lock_guard lock(probes->mutex);
            probes->answers[shown] = c.probe;
        }
        EXPECT_EQ(Click(IDC_SET_IP),
                  (BoxList{{"Are you sure to set the new IP:" + shown + "?", kQuestion},
                           {"Success!\nPlease restart the printer!", kMbIconInformation}}));
        EXPECT_EQ(TakeProbes(), (Probes{{shown, 1000}}));
        ExpectSends({c.frame});
    }
}

TEST_F(SetIpTest, NoProbeFactoryCountsAsFree) {
    services.makeProber = [] { return std::unique_ptr<EchoProber>(); };
    dlg.reset();
    Open();
    window->SetText(IDC_NEW_IP, "192.168.1.20");
    Click(IDC_SET_IP);
    EXPECT_EQ(Sends().size(), 1u);
}

// ---- Set MAC ---------------------------------------------------------------

class SetMacTest : public SetIpTest {
protected:
    void SetUp() override {
        services.localTime = [this] {
            ++clockReads;
            return PinnedTime(2026, 12, 6, 1, 42, 46);
        };
        services.calendarTime = [this] { return calendar; };
        services.seedRandom = [this](unsigned seed) { generatorLog.push_back(int64_t{seed}); };
        services.drawRandom = [this] {
            generatorLog.push_back(-1);
            return draw;
        };
        OpenOnline();
        clockReads = 0;
    }
    std::time_t calendar = 1796521366;
    int draw = 5;
    int clockReads = 0;
    // Seeds as themselves, draws as -1, in call order.
    std::vector<int64_t> generatorLog;
};

TEST_F(SetMacTest, GuardOfflineAndCancelMakeNoAddress) {
    MainDialogTestAccess::ActiveWorkers(*dlg) = 1;
    EXPECT_EQ(Click(IDC_SET_MAC), (BoxList{{"Scanning,Please wait...", kMbIconInformation}}));
    MainDialogTestAccess::ActiveWorkers(*dlg) = 0;
    EXPECT_TRUE(link.Calls().empty());

    link.RemovePrinter(kPrinter);
    EXPECT_EQ(Click(IDC_SET_MAC), (BoxList{{"The printer is offline!", kMbIconError}}));

    link.AddPrinter(kPrinter);
    EXPECT_EQ(Click(IDC_SET_MAC, kIdCancel),
              (BoxList{{"Are you sure to modify the Mac address?", kQuestion}}));

    EXPECT_TRUE(Sends().empty());
    EXPECT_EQ(clockReads, 0);
    EXPECT_TRUE(generatorLog.empty());
    EXPECT_TRUE(purged.empty());
}

TEST_F(SetMacTest, WorkedExampleOnTheWireAndOnScreen) {
    const std::string mac = "Mac:AE-2B-64-14-2C-6C\nSuccess!\n";
    const struct {
        int32_t sendResult;  // -1 counts as sent
        int32_t purgeResult;
        std::string text;
        size_t purges;
    } cases[] = {
        {9, 1, mac + "Please restart the printer!", 1},
        {-1, 1, mac + "Please restart the printer!", 1},
        {9, 0, mac + "But you may have to connect the printer a few minutes later !", 1},
        {0, 1, "Modify Mac address failed, Please Confirm the printer is online and try again!", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sendResult);
        link.SetSendResult(kPrinter, c.sendResult);
        purgeResult = c.purgeResult;
        purged.clear();
        clockReads = 0;
        generatorLog.clear();
        EXPECT_EQ(Click(IDC_SET_MAC),
                  (BoxList{{"Are you sure to modify the Mac address?", kQuestion},
                           {c.text, kMbIconInformation}}));
        ExpectSends({Bytes({0x1D, 0x45, 0xAE, 0x2B, 0x64, 0x14, 0x2C, 0x6C, 0xE9})});
        // The ARP row of the address in control 1000 is purged.
        EXPECT_EQ(purged, std::vector<uint32_t>(c.purges, 0xC0A8010Au));
        // The clock is read once; every draw re-seeds with the calendar time.
        EXPECT_EQ(clockReads, 1);
        const int64_t s = calendar;
        EXPECT_EQ(generatorLog, (std::vector<int64_t>{s, -1, s, -1, s, -1, s, -1, s, -1}));
    }
}

TEST_F(SetMacTest, WriteBackLeavesControlsAsTheUserLeftThem) {
    window->TypeText(IDC_PAYLOAD, "typed text");
    window->TypeText(IDC_TIMEOUT, "2500");
    window->SetText(IDC_NEW_IP, "10.0.0.9");
    Click(IDC_SET_MAC);
    EXPECT_EQ(window->GetText(IDC_PAYLOAD), "typed text");
    EXPECT_EQ(window->GetText(IDC_TIMEOUT), "2500");
    EXPECT_EQ(window->GetText(IDC_IP), kPrinter);
    EXPECT_EQ(window->GetText(IDC_NEW_IP), "10.0.0.9");

    // After a bad time-out the payload keeps what was typed, and the time-out
    // box gets the last good value back.
    window->SetText(IDC_PAYLOAD, "typed before the bad value");
    window->TypeText(IDC_TIMEOUT, "");
    ws.QueueAnswer(kIdOk);  // the refresh's complaint, before the question
    Click(IDC_SET_MAC);
    ASSERT_EQ(Sends().size(), 1u);
    EXPECT_EQ(window->GetText(IDC_PAYLOAD), "typed before the bad value");
    EXPECT_EQ(window->GetText(IDC_TIMEOUT), "2500");
}

TEST_F(SetMacTest, DrawsComeFromTheGeneratorReseededEachTime) {
    int next = 0;
    const int sequence[] = {7, 3, 2, 1, 0};
    dlg.reset();
    services.drawRandom = [&] { return sequence[next++]; };
    Open();
    EXPECT_EQ(dlg->MakeRandomMac(),
              MacText(MacFromClock(PinnedTime(2026, 12, 6, 1, 42, 46), {7, 3, 2, 1, 0})));
    EXPECT_EQ(next, 5);

    // With the C generator: one second, one draw repeated; the next second
    // another.
    dlg.reset();
    services.seedRandom = [](unsigned seed) { std::srand(seed); };
    services.drawRandom = [] { return std::rand(); };
    Open();
    for (int second = 0; second < 2; ++second) {
        std::srand(static_cast<unsigned>(calendar));
        const int r = std::rand();
        const std::string expected =
            MacText(MacFromClock(PinnedTime(2026, 12, 6, 1, 42, 46), {r, r, r, r, r}));
        EXPECT_EQ(dlg->MakeRandomMac(), expected);
        EXPECT_EQ(dlg->MakeRandomMac(), expected);
        calendar += 1;
    }
}

}  // namespace
}  // namespace vorpane
