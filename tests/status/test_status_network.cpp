// The status monitor end to end: the main window and the status dialog on
// the headless window system, the network link, and the virtual printer on
// loopback whose condition changes while the monitor runs. The test fires
// each tick itself, so every change must show on the very next one.

#include <gtest/gtest.h>

#include "loopback_printer.h"

#include <chrono>
#include <initializer_list>
#include <memory>

#include "emulator/virtual_printer.h"
#include "printer_link/network_printer_link.h"
#include "status_fixture.h"

namespace vorpane {
namespace {

using ui::HeadlessWindow;

constexpr const char* kLoopback = "127.0.0.1";

std::unique_ptr<VirtualPrinter> StartPrinter(uint16_t port) {
    return StartLoopbackPrinter([port](VirtualPrinterConfig& c) { c.port = port; });
}

ConditionSet Conditions(std::initializer_list<Condition> list) {
    ConditionSet set;
    for (Condition c : list) {
        set.Add(c);
    }
    return set;
}

const Indicator kOnline{"On-line", IDI_LAMP_GREEN};
const Indicator kOffline{"Off-line", IDI_LAMP_GREY};
const Indicator kCoverClosed{"Cover is Close", IDI_LAMP_GREEN};
const Indicator kCoverOpen{"Cover is Open", IDI_LAMP_RED};
const Indicator kIdle{"Idle", IDI_LAMP_GREEN};
const Indicator kBusy{"Busy", IDI_LAMP_RED};
const Indicator kTempNormal{"Temp Normal", IDI_LAMP_GREEN};
const Indicator kOverTemp{"Over Temp", IDI_LAMP_RED};
const Indicator kNotPaused{"Normal", IDI_LAMP_GREEN};
const Indicator kPaused{"Pause", IDI_LAMP_RED};
const Indicator kHavePaper{"Have paper", IDI_LAMP_GREEN};
const Indicator kPaperEnd{"Paper is end", IDI_LAMP_RED};

class StatusNetworkTest : public StatusDialogTest {
protected:
    void SetUp() override {
        printer = StartPrinter(0);
        ASSERT_TRUE(printer);
        netLink = std::make_unique<NetworkPrinterLink>(printer->Port());
        services.link = netLink.get();
        Open();
        window->SetText(IDC_IP, kLoopback);
    }

    std::unique_ptr<VirtualPrinter> printer;
    std::unique_ptr<NetworkPrinterLink> netLink;
};

TEST_F(StatusNetworkTest, IndicatorsFollowThePrinterOnTheNextTick) {
    const uint16_t port = printer->Port();
    bool ran = false;
    EXPECT_TRUE(RunStatus([&](HeadlessWindow& w) {
        ran = true;
        w.Click(IDC_MONITOR);

        w.FireTimer(kMonitorTimerId);
        EXPECT_EQ(ReadIndicators(w),
                  (Indicators{kOnline, kCoverClosed, kIdle, kTempNormal, kNotPaused, kHavePaper}));

        // A printer with its cover open stops and reports itself off-line,
        // which the busy test sees; the status itself still arrives.
        printer->SetConditions(Conditions({Condition::kCoverOpen}));
        w.FireTimer(kMonitorTimerId);
        EXPECT_EQ(ReadIndicators(w),
                  (Indicators{kOnline, kCoverOpen, kBusy, kTempNormal, kNotPaused, kHavePaper}));

        printer->SetConditions(Conditions({Condition::kPaperEnd}));
        w.FireTimer(kMonitorTimerId);
        EXPECT_EQ(ReadIndicators(w),
                  (Indicators{kOnline, kCoverClosed, kBusy, kTempNormal, kNotPaused, kPaperEnd}));

        // Its own off-line flag is a busy printer that still answers.
        printer->SetConditions(Conditions({Condition::kOffline}));
        w.FireTimer(kMonitorTimerId);
        EXPECT_EQ(ReadIndicators(w),
                  (Indicators{kOnline, kCoverClosed, kBusy, kTempNormal, kNotPaused, kHavePaper}));

        printer->SetConditions(Conditions({Condition::kOverTemp, Condition::kWaitingRecovery}));
        w.FireTimer(kMonitorTimerId);
        EXPECT_EQ(ReadIndicators(w),
                  (Indicators{kOnline, kCoverClosed, kBusy, kOverTemp, kPaused, kHavePaper}));

        printer->SetConditions({});
        w.FireTimer(kMonitorTimerId);
        EXPECT_EQ(ReadIndicators(w),
                  (Indicators{kOnline, kCoverClosed, kIdle, kTempNormal, kNotPaused, kHavePaper}));

        // Switched off with paper out: the next tick reads nothing, so only
        // the on-line indicator changes and the paper lamp keeps its red.
        printer->SetConditions(Conditions({Condition::kPaperEnd}));
        w.FireTimer(kMonitorTimerId);
        printer->Stop();
        w.FireTimer(kMonitorTimerId);
        EXPECT_EQ(ReadIndicators(w),
                  (Indicators{kOffline, kCoverClosed, kBusy, kTempNormal, kNotPaused, kPaperEnd}));
        EXPECT_TRUE(w.TimerActive(kMonitorTimerId));

        // Switched on again at the same address: on-line on the first tick.
        printer = StartPrinter(port);
        ASSERT_TRUE(printer);
        w.FireTimer(kMonitorTimerId);
        EXPECT_EQ(ReadIndicators(w),
                  (Indicators{kOnline, kCoverClosed, kIdle, kTempNormal, kNotPaused, kHavePaper}));

        w.Click(ui::kIdOk);
    }));
    EXPECT_TRUE(ran);
    EXPECT_TRUE(ws.ShownBoxes().empty());
}

TEST_F(StatusNetworkTest, OpeningAsksOnlyWhetherTheServerAnswers) {
    EXPECT_TRUE(RunStatus([&](HeadlessWindow& w) {
        EXPECT_EQ(ReadIndicators(w), TemplateIndicators());
        // One connection from the main window's check, no status request.
        EXPECT_TRUE(
            printer->GetJournal().WaitForPrefix("session 1 closed", std::chrono::seconds(5)));
        EXPECT_EQ(printer->SessionsOpened(), 1u);
        w.Click(IDC_MONITOR);
        w.Click(IDC_MONITOR);
    }));
    EXPECT_EQ(printer->SessionsOpened(), 1u);
    for (const auto& line : printer->GetJournal().Lines()) {
        EXPECT_EQ(line.find("DLE EOT"), std::string::npos) << line;
    }
}

TEST_F(StatusNetworkTest, AStoppedPrinterKeepsTheDialogShut) {
    printer->Stop();
    EXPECT_FALSE(RunStatus([](HeadlessWindow&) {}));
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"The printer is offline!"});
}

}  // namespace
}  // namespace vorpane
