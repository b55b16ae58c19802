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

constexpr uint32_t kQuestion = ui::kMbOkCancel | ui::kMbIconQuestion;

class SetIpTest : public CommandsTest {
protected:
    void SetUp() override {
        OpenOnline();
        window->SetText(IDC_NEW_IP, "192.168.1.20");
    }
    std::vector<std::pair<std::string, int32_t>> Probes() {
        std::lock_guard lock(probes->mutex);
        return probes->probes;
    }
    // The boxes of one click: text and style.
    std::vector<std::pair<std::string, uint32_t>> Boxes() const {
        std::vector<std::pair<std::string, uint32_t>> out;
        for (const auto& b : ws.ShownBoxes()) {
            out.emplace_back(b.text, b.style);
        }
        return out;
    }
};

using BoxList = std::vector<std::pair<std::string, uint32_t>>;

TEST_F(SetIpTest, ScanBusyStopsBeforeAnythingElse) {
    MainDialogTestAccess::ActiveWorkers(*dlg) = 1;
    window->Click(IDC_SET_IP);
    EXPECT_EQ(Boxes(), (BoxList{{"Scanning,Please wait...", kMbIconInformation}}));
    EXPECT_TRUE(link.Calls().empty());
    EXPECT_TRUE(Probes().empty());
    MainDialogTestAccess::ActiveWorkers(*dlg) = 0;
}

TEST_F(SetIpTest, OfflinePrinterStopsBeforeTheQuestion) {
    link.RemovePrinter(kPrinter);
    window->Click(IDC_SET_IP);
    EXPECT_EQ(Boxes(), (BoxList{{"The printer is offline!", kMbIconError}}));
    EXPECT_TRUE(Sends().empty());
    EXPECT_TRUE(Probes().empty());
}

TEST_F(SetIpTest, SameAddressIsRefusedBeforeTheQuestion) {
    window->SetText(IDC_NEW_IP, kPrinter);
    window->Click(IDC_SET_IP);
    EXPECT_EQ(Boxes(), (BoxList{{"Please input a different IP Address!", kMbIconInformation}}));
    EXPECT_TRUE(Sends().empty());
    EXPECT_TRUE(Probes().empty());
}

TEST_F(SetIpTest, CancelAtTheQuestionSendsAndProbesNothing) {
    ws.QueueAnswer(kIdCancel);
    window->Click(IDC_SET_IP);
    EXPECT_EQ(Boxes(), (BoxList{{"Are you sure to set the new IP:192.168.1.20?", kQuestion}}));
    EXPECT_TRUE(Sends().empty());
    EXPECT_TRUE(Probes().empty());
}

TEST_F(SetIpTest, AddressThatAnswersIsOccupied) {
    for (int32_t answer : {1, 2}) {
        ws.ClearShownBoxes();
        {
            std::lock_guard lock(probes->mutex);
            probes->answers["192.168.1.20"] = answer;
            probes->probes.clear();
        }
        ws.QueueAnswer(kIdOk);
        window->Click(IDC_SET_IP);
        EXPECT_EQ(Boxes(),
                  (BoxList{{"Are you sure to set the new IP:192.168.1.20?", kQuestion},
                           {"This IP(192.168.1.20) has been occupied by other network equipment!",
                            kMbIconInformation}}));
        // The new address is probed, for a second, after the question.
        EXPECT_EQ(Probes(), (std::vector<std::pair<std::string, int32_t>>{{"192.168.1.20", 1000}}));
        EXPECT_TRUE(Sends().empty());
    }
}

TEST_F(SetIpTest, FrameGoesToTheCurrentAddressAndOnlySevenIsSuccess) {
    const std::pair<int32_t, const char*> results[] = {
        {7, "Success!\nPlease restart the printer!"}, {0, "Modify the IP Address failed!"},
        {6, "Modify the IP Address failed!"},         {8, "Modify the IP Address failed!"},
        {-1, "Modify the IP Address failed!"},
    };
    for (const auto& [result, text] : results) {
        ws.ClearShownBoxes();
        link.ClearCalls();
        link.SetSendResult(kPrinter, result);
        ws.QueueAnswer(kIdOk);
        window->Click(IDC_SET_IP);
        EXPECT_EQ(Boxes(), (BoxList{{"Are you sure to set the new IP:192.168.1.20?", kQuestion},
                                    {text, kMbIconInformation}}))
            << result;
        const auto sends = Sends();
        ASSERT_EQ(sends.size(), 1u) << result;
        EXPECT_EQ(sends[0].address, kPrinter);
        EXPECT_EQ(sends[0].bytes, Bytes({0x1D, 0x44, 0xC0, 0xA8, 0x01, 0x14, 0x7D}));
        EXPECT_EQ(sends[0].a, 7);
    }
    // Neither address control changes, whatever the outcome.
    EXPECT_EQ(window->GetText(IDC_IP), kPrinter);
    EXPECT_EQ(window->GetText(IDC_NEW_IP), "192.168.1.20");
}

TEST_F(SetIpTest, ProbeThatCannotBeMadeCountsAsFree) {
    {
        std::lock_guard lock(probes->mutex);
        probes->answers["10.255.255.1"] = -1;
    }
    window->SetText(IDC_NEW_IP, "10.255.255.1");
    ws.QueueAnswer(kIdOk);
    window->Click(IDC_SET_IP);
    const auto sends = Sends();
    ASSERT_EQ(sends.size(), 1u);
    EXPECT_EQ(sends[0].bytes, Bytes({0x1D, 0x44, 0x0A, 0xFF, 0xFF, 0x01, 0x09}));
    EXPECT_EQ(ws.ShownBoxes().back().text, "Success!\nPlease restart the printer!");
}

TEST_F(SetIpTest, BlankNewAddressIsFourZeroOctets) {
    window->SetBlankIp(IDC_NEW_IP);
    ws.QueueAnswer(kIdOk);
    window->Click(IDC_SET_IP);
    EXPECT_EQ(ws.ShownBoxes().front().text, "Are you sure to set the new IP:0.0.0.0?");
    EXPECT_EQ(Probes(), (std::vector<std::pair<std::string, int32_t>>{{"0.0.0.0", 1000}}));
    const auto sends = Sends();
    ASSERT_EQ(sends.size(), 1u);
    EXPECT_EQ(sends[0].bytes, Bytes({0x1D, 0x44, 0, 0, 0, 0, 0}));
}

TEST_F(SetIpTest, NoProbeFactoryCountsAsFree) {
    services.makeProber = [] { return std::unique_ptr<EchoProber>(); };
    dlg.reset();
    Open();
    window->SetText(IDC_NEW_IP, "192.168.1.20");
    ws.ClearShownBoxes();
    ws.QueueAnswer(kIdOk);
    window->Click(IDC_SET_IP);
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
    window->Click(IDC_SET_MAC);
    MainDialogTestAccess::ActiveWorkers(*dlg) = 0;
    EXPECT_EQ(Boxes(), (BoxList{{"Scanning,Please wait...", kMbIconInformation}}));
    EXPECT_TRUE(link.Calls().empty());

    ws.ClearShownBoxes();
    link.RemovePrinter(kPrinter);
    window->Click(IDC_SET_MAC);
    EXPECT_EQ(Boxes(), (BoxList{{"The printer is offline!", kMbIconError}}));

    ws.ClearShownBoxes();
    link.AddPrinter(kPrinter);
    ws.QueueAnswer(kIdCancel);
    window->Click(IDC_SET_MAC);
    EXPECT_EQ(Boxes(), (BoxList{{"Are you sure to modify the Mac address?", kQuestion}}));

    EXPECT_TRUE(Sends().empty());
    EXPECT_EQ(clockReads, 0);
    EXPECT_TRUE(generatorLog.empty());
    EXPECT_TRUE(purged.empty());
}

TEST_F(SetMacTest, WorkedExampleOnTheWireAndOnScreen) {
    ws.QueueAnswer(kIdOk);
    window->Click(IDC_SET_MAC);
    const auto sends = Sends();
    ASSERT_EQ(sends.size(), 1u);
    EXPECT_EQ(sends[0].address, kPrinter);
    EXPECT_EQ(sends[0].bytes, Bytes({0x1D, 0x45, 0xAE, 0x2B, 0x64, 0x14, 0x2C, 0x6C, 0xE9}));
    EXPECT_EQ(sends[0].a, 9);
    EXPECT_EQ(Boxes(), (BoxList{{"Are you sure to modify the Mac address?", kQuestion},
                                {"Mac:AE-2B-64-14-2C-6C\nSuccess!\nPlease restart the printer!",
                                 kMbIconInformation}}));
    // The ARP row of the address in control 1000 is purged.
    EXPECT_EQ(purged, (std::vector<uint32_t>{0xC0A8010Au}));
    // The clock is read once; every draw re-seeds with the calendar time.
    EXPECT_EQ(clockReads, 1);
    const int64_t s = calendar;
    EXPECT_EQ(generatorLog, (std::vector<int64_t>{s, -1, s, -1, s, -1, s, -1, s, -1}));
}

TEST_F(SetMacTest, PurgeFailureChoosesTheWaitText) {
    purgeResult = 0;
    ws.QueueAnswer(kIdOk);
    window->Click(IDC_SET_MAC);
    ASSERT_EQ(ws.ShownBoxes().size(), 2u);
    EXPECT_EQ(ws.ShownBoxes()[1].text,
              "Mac:AE-2B-64-14-2C-6C\nSuccess!\nBut you may have to connect the printer a few "
              "minutes later !");
    EXPECT_EQ(ws.ShownBoxes()[1].style, kMbIconInformation);
}

TEST_F(SetMacTest, NothingSentIsFailureAndPurgesNothing) {
    link.SetSendResult(kPrinter, 0);
    ws.QueueAnswer(kIdOk);
    window->Click(IDC_SET_MAC);
    EXPECT_EQ(Boxes(), (BoxList{{"Are you sure to modify the Mac address?", kQuestion},
                                {"Modify Mac address failed, Please Confirm the printer is online "
                                 "and try again!",
                                 kMbIconInformation}}));
    EXPECT_EQ(Sends().size(), 1u);
    EXPECT_TRUE(purged.empty());
}

TEST_F(SetMacTest, NegativeResultCountsAsSent) {
    link.SetSendResult(kPrinter, -1);
    ws.QueueAnswer(kIdOk);
    window->Click(IDC_SET_MAC);
    ASSERT_EQ(ws.ShownBoxes().size(), 2u);
    EXPECT_EQ(ws.ShownBoxes()[1].text,
              "Mac:AE-2B-64-14-2C-6C\nSuccess!\nPlease restart the printer!");
    EXPECT_EQ(purged.size(), 1u);
}

TEST_F(SetMacTest, WriteBackLeavesControlsAsTheUserLeftThem) {
    window->TypeText(IDC_PAYLOAD, "typed text");
    window->TypeText(IDC_TIMEOUT, "2500");
    window->SetText(IDC_NEW_IP, "10.0.0.9");
    ws.QueueAnswer(kIdOk);
    window->Click(IDC_SET_MAC);
    EXPECT_EQ(window->GetText(IDC_PAYLOAD), "typed text");
    EXPECT_EQ(window->GetText(IDC_TIMEOUT), "2500");
    EXPECT_EQ(window->GetText(IDC_IP), kPrinter);
    EXPECT_EQ(window->GetText(IDC_NEW_IP), "10.0.0.9");
}

TEST_F(SetMacTest, WriteBackAfterABadTimeoutKeepsWhatWasTypedInThePayload) {
    window->SetText(IDC_PAYLOAD, "typed before the bad value");
    window->TypeText(IDC_TIMEOUT, "");
    ws.ClearShownBoxes();
    ws.QueueAnswer(kIdOk);  // the refresh's complaint
    ws.QueueAnswer(kIdOk);  // the question
    window->Click(IDC_SET_MAC);
    ASSERT_EQ(Sends().size(), 1u);
    EXPECT_EQ(window->GetText(IDC_PAYLOAD), "typed before the bad value");
    // The time-out box gets the last good value back.
    EXPECT_EQ(window->GetText(IDC_TIMEOUT), "1000");
}

TEST_F(SetMacTest, DrawsFollowTheGeneratorInOrder) {
    int next = 0;
    const int sequence[] = {7, 3, 2, 1, 0};
    dlg.reset();
    services.drawRandom = [&] { return sequence[next++]; };
    Open();
    EXPECT_EQ(dlg->MakeRandomMac(),
              MacText(MacFromClock(PinnedTime(2026, 12, 6, 1, 42, 46), {7, 3, 2, 1, 0})));
    EXPECT_EQ(next, 5);
}

TEST_F(SetMacTest, RealGeneratorReseededInOneSecondGivesEqualDraws) {
    dlg.reset();
    services.seedRandom = [](unsigned seed) { std::srand(seed); };
    services.drawRandom = [] { return std::rand(); };
    Open();
    std::srand(static_cast<unsigned>(calendar));
    const int r = std::rand();
    const std::string expected =
        MacText(MacFromClock(PinnedTime(2026, 12, 6, 1, 42, 46), {r, r, r, r, r}));
    EXPECT_EQ(dlg->MakeRandomMac(), expected);
    // Same second, same address.
    EXPECT_EQ(dlg->MakeRandomMac(), expected);
    calendar += 1;
    std::srand(static_cast<unsigned>(calendar));
    const int r2 = std::rand();
    EXPECT_EQ(dlg->MakeRandomMac(),
              MacText(MacFromClock(PinnedTime(2026, 12, 6, 1, 42, 46), {r2, r2, r2, r2, r2})));
}

}  // namespace
}  // namespace vorpane
