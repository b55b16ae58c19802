// Set IP and Set MAC on the headless window system against the table printer
// link, with a scripted probe, a pinned clock and a pinned generator.

#include <gtest/gtest.h>

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
const std::string kAskIp = "Are you sure to set the new IP:192.168.1.20?";
const std::string kAskMac = "Are you sure to modify the Mac address?";

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
    void Answer(const std::string& address, int32_t result) {
        std::lock_guard lock(probes->mutex);
        probes->answers[address] = result;
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

TEST_F(SetIpTest, AddressThatAnswersIsOccupied) {
    for (int32_t answer : {1, 2}) {
        Answer("192.168.1.20", answer);
        EXPECT_EQ(Click(IDC_SET_IP),
                  (BoxList{{kAskIp, kQuestion},
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
        EXPECT_EQ(Click(IDC_SET_IP), (BoxList{{kAskIp, kQuestion},
                                              {result == 7 ? "Success!\nPlease restart the printer!"
                                                           : "Modify the IP Address failed!",
                                               kMbIconInformation}}))
            << result;
        ExpectSends({{0x1D, 0x44, 0xC0, 0xA8, 0x01, 0x14, 0x7D}});
    }
    EXPECT_EQ(window->GetText(IDC_IP), kPrinter);
    EXPECT_EQ(window->GetText(IDC_NEW_IP), "192.168.1.20");
    // A probe that could not be made (-1), or no prober at all, counts as free.
    window->SetText(IDC_NEW_IP, "10.255.255.1");
    Answer("10.255.255.1", -1);
    link.SetSendResult(kPrinter, 7);
    Click(IDC_SET_IP);
    ExpectSends({{0x1D, 0x44, 0x0A, 0xFF, 0xFF, 0x01, 0x09}});
    services.makeProber = [] { return std::unique_ptr<EchoProber>(); };
    Open();
    window->SetBlankIp(IDC_NEW_IP);
    Click(IDC_SET_IP);
    ExpectSends({Frame{0x1D, 0x44, 0, 0, 0, 0, 0}});
    EXPECT_EQ(Boxes()[0].first, "Are you sure to set the new IP:0.0.0.0?");
}

class SetMacTest : public SetIpTest {
protected:
    void SetUp() override {
        services.localTime = [this] {
            ++clockReads;
            return PinnedTime(2026, 12, 6, 1, 42, 46);
        };
        services.calendarTime = [] { return std::time_t{1796521366}; };
        services.seedRandom = [this](unsigned seed) { generatorLog.push_back(int64_t{seed}); };
        services.drawRandom = [this] {
            generatorLog.push_back(-1);
            return 5;
        };
        OpenOnline();
        clockReads = 0;
    }
    int clockReads = 0;
    std::vector<int64_t> generatorLog;  // seeds as themselves, draws as -1
};

// The refusals before the question, and Cancel at it: nothing sent, probed,
// read from the clock or drawn.
TEST_F(SetMacTest, GuardsOfflineAndCancelSendAndProbeNothing) {
    const BoxList busy = {{"Scanning,Please wait...", kMbIconInformation}},
                  offline = {{"The printer is offline!", kMbIconError}},
                  same = {{"Please input a different IP Address!", kMbIconInformation}};
    const struct {
        int button, workers;
        bool online;
        const char* newIp;
        BoxList boxes;
        size_t libraryCalls;
    } cases[] = {
        {IDC_SET_IP, 1, true, "192.168.1.20", busy, 0},
        {IDC_SET_IP, 0, false, "192.168.1.20", offline, 1},
        {IDC_SET_IP, 0, true, kPrinter, same, 1},
        {IDC_SET_IP, 0, true, "192.168.1.20", {{kAskIp, kQuestion}}, 1},
        {IDC_SET_MAC, 1, true, "192.168.1.20", busy, 0},
        {IDC_SET_MAC, 0, false, "192.168.1.20", offline, 1},
        {IDC_SET_MAC, 0, true, "192.168.1.20", {{kAskMac, kQuestion}}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.boxes[0].first);
        ScanTestAccess::ActiveWorkers(dlg->Scan()) = c.workers;
        c.online ? link.AddPrinter(kPrinter) : link.RemovePrinter(kPrinter);
        window->SetText(IDC_NEW_IP, c.newIp);
        EXPECT_EQ(Click(c.button, kIdCancel), c.boxes);
        EXPECT_EQ(link.Calls().size(), c.libraryCalls);
        EXPECT_TRUE(TakeProbes().empty());
        EXPECT_EQ(clockReads, 0);
        EXPECT_TRUE(generatorLog.empty());
        EXPECT_TRUE(purged.empty());
    }
}

TEST_F(SetMacTest, WorkedExampleOnTheWireAndOnScreen) {
    const std::string mac = "Mac:AE-2B-64-14-2C-6C\nSuccess!\n";
    const struct {
        int32_t sendResult;  // -1 counts as sent
        int32_t purgeResult;
        std::string text;
    } cases[] = {
        {9, 1, mac + "Please restart the printer!"},
        {-1, 1, mac + "Please restart the printer!"},
        {9, 0, mac + "But you may have to connect the printer a few minutes later !"},
        {0, 1, "Modify Mac address failed, Please Confirm the printer is online and try again!"},
    };
    // The controls keep what the user typed.
    window->TypeText(IDC_PAYLOAD, "typed text");
    window->TypeText(IDC_TIMEOUT, "2500");
    window->SetText(IDC_NEW_IP, "10.0.0.9");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sendResult);
        link.SetSendResult(kPrinter, c.sendResult);
        purgeResult = c.purgeResult;
        purged.clear();
        clockReads = 0;
        generatorLog.clear();
        EXPECT_EQ(Click(IDC_SET_MAC),
                  (BoxList{{kAskMac, kQuestion}, {c.text, kMbIconInformation}}));
        ExpectSends({{0x1D, 0x45, 0xAE, 0x2B, 0x64, 0x14, 0x2C, 0x6C, 0xE9}});
        // The ARP row of the address in control 1000 is purged.
        EXPECT_EQ(purged, std::vector<uint32_t>(c.sendResult != 0, 0xC0A8010Au));
        // The clock is read once; every draw re-seeds with the calendar time.
        EXPECT_EQ(clockReads, 1);
        const int64_t s = 1796521366;
        EXPECT_EQ(generatorLog, (std::vector<int64_t>{s, -1, s, -1, s, -1, s, -1, s, -1}));
        EXPECT_EQ(window->GetText(IDC_PAYLOAD), "typed text");
        EXPECT_EQ(window->GetText(IDC_TIMEOUT), "2500");
        EXPECT_EQ(window->GetText(IDC_IP), kPrinter);
        EXPECT_EQ(window->GetText(IDC_NEW_IP), "10.0.0.9");
    }
    // After a bad time-out the payload keeps what was typed, and the time-out
    // box gets the last good value back.
    window->SetText(IDC_PAYLOAD, "typed before the bad value");
    window->TypeText(IDC_TIMEOUT, "");
    link.SetSendResult(kPrinter, 9);
    ws.QueueAnswer(kIdOk);  // the refresh's complaint, before the question
    Click(IDC_SET_MAC);
    EXPECT_EQ(window->GetText(IDC_PAYLOAD), "typed before the bad value");
    EXPECT_EQ(window->GetText(IDC_TIMEOUT), "2500");
}

TEST_F(SetMacTest, DrawsGoToTheirFieldsInOrder) {
    const int sequence[] = {7, 3, 2, 1, 0};
    int next = 0;
    services.drawRandom = [&] { return sequence[next++]; };
    const MacSource source{services.localTime, services.seedRandom, services.drawRandom,
                           services.calendarTime};
    EXPECT_EQ(MakeRandomMac(source),
              MacFromClock(PinnedTime(2026, 12, 6, 1, 42, 46), {7, 3, 2, 1, 0}));
}

}  // namespace
}  // namespace vorpane
