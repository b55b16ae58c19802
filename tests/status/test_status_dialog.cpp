// The status dialog opened from the main window, with the table link and
// timer ticks fired by the test.

#include <gtest/gtest.h>

#include <algorithm>

#include "status_fixture.h"

namespace vorpane {
namespace {

using ui::HeadlessWindow;

// Status-word bits the table link tests for each condition.
constexpr int32_t kNormal = 0x12121212;
constexpr int32_t kCover = 0x00000400;
constexpr int32_t kBusy = 0x00000008;
constexpr int32_t kTemp = 0x00400000;
constexpr int32_t kPause = 0x00000020;
constexpr int32_t kPaper = 0x20000000;

constexpr const char* kPrinter = "10.1.2.3";

const Indicator kOnline{"On-line", IDI_LAMP_GREEN};
const Indicator kOffline{"Off-line", IDI_LAMP_GREY};

class StatusTest : public StatusDialogTest {
protected:
    void SetUp() override {
        Open();
        link.AddPrinter(kPrinter, {kNormal});
        window->SetText(IDC_IP, kPrinter);
    }
    void TearDown() override {
        // No status window outlives the click that opened it.
        EXPECT_TRUE(ws.FindWindow(IDD_PRINTER_STATUS) == nullptr);
    }
    int GetStatusCalls() { return static_cast<int>(link.CallsOf("GetStatus").size()); }
};

std::vector<std::string> Lamps(int icon) {
    // Cover, pause, temperature, on-line, paper, busy: the order the dialog
    // always sets all six in.
    std::vector<std::string> out;
    for (int id : {IDC_COVER_LAMP, IDC_PAUSE_LAMP, IDC_TEMP_LAMP, IDC_ONLINE_LAMP, IDC_PAPER_LAMP,
                   IDC_BUSY_LAMP}) {
        out.push_back("icon " + std::to_string(id) + " " + std::to_string(icon));
    }
    return out;
}

TEST_F(StatusTest, OpensAsTheTemplateShowsItWithoutReadingAnything) {
    bool ran = false;
    EXPECT_TRUE(RunStatus([&](HeadlessWindow& w) {
        ran = true;
        EXPECT_EQ(w.Title(), "Printer Status");
        EXPECT_EQ(ReadIndicators(w), TemplateIndicators());
        EXPECT_EQ(w.GetText(IDC_MONITOR), "Start &Monitor");
        EXPECT_FALSE(w.TimerActive(kMonitorTimerId));
        // The only library call is the main window's check before opening.
        EXPECT_EQ(events, EventLog{std::string("IsConPrinterServer ") + kPrinter});
    }));
    EXPECT_TRUE(ran);
    // Owned by the main window; no message box anywhere.
    ASSERT_EQ(logWs.owners.size(), 1u);
    EXPECT_EQ(logWs.owners[0], dlg->GetWindow());
    EXPECT_TRUE(ws.ShownBoxes().empty());
}

TEST_F(StatusTest, DoesNotOpenForAnOfflinePrinterOrDuringAScan) {
    window->SetText(IDC_IP, "10.1.2.4");
    EXPECT_FALSE(RunStatus([](HeadlessWindow&) { ADD_FAILURE() << "opened"; }));
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"The printer is offline!"});
    EXPECT_EQ(ws.ShownBoxes()[0].style, ui::kMbIconError);

    ws.ClearShownBoxes();
    link.ClearCalls();
    window->SetText(IDC_IP, kPrinter);
    MainDialogTestAccess::ActiveWorkers(*dlg) = 2;
    window->Click(IDC_STATUS);
    MainDialogTestAccess::ActiveWorkers(*dlg) = 0;
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Scanning,Please wait..."});
    EXPECT_TRUE(link.Calls().empty());
    EXPECT_TRUE(ws.ModalRuns().empty());
}

TEST_F(StatusTest, StartTurnsAllSixGreenBeforeAnyStatusIsRead) {
    EXPECT_TRUE(RunStatus([&](HeadlessWindow& w) {
        const size_t mark = events.size();
        w.Click(IDC_MONITOR);
        EventLog expected{"text 1022 End &Monitor", "timer+ 1 2000"};
        for (auto& e : Lamps(IDI_LAMP_GREEN)) {
            expected.push_back(e);
        }
        EXPECT_EQ(Since(mark), expected);
        EXPECT_TRUE(w.TimerActive(kMonitorTimerId));
        EXPECT_EQ(w.TimerPeriod(kMonitorTimerId), kMonitorPeriodMs);
        Indicators shown = ReadIndicators(w);
        for (Indicator* i :
             {&shown.online, &shown.cover, &shown.busy, &shown.temp, &shown.pause, &shown.paper}) {
            EXPECT_EQ(i->lamp, IDI_LAMP_GREEN);
        }
        EXPECT_EQ(shown.online.text, "Off-line");
        EXPECT_EQ(shown.paper.text, "Paper end");
    }));
    EXPECT_EQ(GetStatusCalls(), 0);
}

TEST_F(StatusTest, ATickAsksOnceAndTestsTheFlagsInOrder) {
    EXPECT_TRUE(RunStatus([&](HeadlessWindow& w) {
        w.Click(IDC_MONITOR);
        link.SetStatus(kPrinter, kNormal | kBusy | kPaper);
        const size_t mark = events.size();
        w.FireTimer(kMonitorTimerId);
        EXPECT_EQ(Since(mark), (EventLog{
                                   std::string("GetStatus ") + kPrinter,
                                   "text 1018 On-line",
                                   "icon 1019 133",
                                   "IsCoverOpen",
                                   "text 1024 Cover is Close",
                                   "icon 1025 133",
                                   "IsBusy",
                                   "text 1017 Busy",
                                   "icon 1020 132",
                                   "IsTempOver",
                                   "text 1028 Temp Normal",
                                   "icon 1026 133",
                                   "IsPause",
                                   "text 1027 Normal",
                                   "icon 1023 133",
                                   "IsPaperEnd",
                                   "text 1029 Paper is end",
                                   "icon 1021 132",
                               }));
        // The timer keeps running for the next tick.
        EXPECT_TRUE(w.TimerActive(kMonitorTimerId));
    }));
}

TEST_F(StatusTest, EachFlagLightsOnlyItsOwnIndicator) {
    EXPECT_TRUE(RunStatus([&](HeadlessWindow& w) {
        w.Click(IDC_MONITOR);
        const int32_t bits[] = {kCover, kBusy, kTemp, kPause, kPaper};
        // Every combination of the five flags, so no indicator depends on
        // another.
        for (int mask = 0; mask < 32; ++mask) {
            int32_t status = kNormal;
            for (int b = 0; b < 5; ++b) {
                if (mask & (1 << b)) {
                    status |= bits[b];
                }
            }
            link.SetStatus(kPrinter, status);
            w.FireTimer(kMonitorTimerId);
            auto pick = [&](int b, const char* alarm, const char* normal) {
                return (mask & (1 << b)) ? Indicator{alarm, IDI_LAMP_RED}
                                         : Indicator{normal, IDI_LAMP_GREEN};
            };
            const Indicators expected{kOnline,
                                      pick(0, "Cover is Open", "Cover is Close"),
                                      pick(1, "Busy", "Idle"),
                                      pick(2, "Over Temp", "Temp Normal"),
                                      pick(3, "Pause", "Normal"),
                                      pick(4, "Paper is end", "Have paper")};
            EXPECT_EQ(ReadIndicators(w), expected) << "mask " << mask;
        }
        EXPECT_EQ(GetStatusCalls(), 32);
    }));
}

TEST_F(StatusTest, OfflineTickChangesOnlyTheOnlineIndicatorAndTheMonitorGoesOn) {
    EXPECT_TRUE(RunStatus([&](HeadlessWindow& w) {
        w.Click(IDC_MONITOR);
        link.SetStatus(kPrinter, kNormal | kCover | kPause);
        w.FireTimer(kMonitorTimerId);
        w.FireTimer(kMonitorTimerId);
        Indicators before = ReadIndicators(w);
        ASSERT_EQ(before.online, kOnline);
        ASSERT_EQ(before.cover.lamp, IDI_LAMP_RED);

        link.RemovePrinter(kPrinter);  // GetStatus now answers negative
        const size_t mark = events.size();
        w.FireTimer(kMonitorTimerId);
        // Off-line is grey, never red, and none of the five tests runs.
        EXPECT_EQ(Since(mark), (EventLog{std::string("GetStatus ") + kPrinter, "text 1018 Off-line",
                                         "icon 1019 134"}));
        Indicators after = before;
        after.online = kOffline;
        EXPECT_EQ(ReadIndicators(w), after);
        w.FireTimer(kMonitorTimerId);
        EXPECT_EQ(ReadIndicators(w), after);
        EXPECT_TRUE(w.TimerActive(kMonitorTimerId));

        link.AddPrinter(kPrinter, {kNormal});
        w.FireTimer(kMonitorTimerId);
        EXPECT_EQ(ReadIndicators(w), (Indicators{kOnline,
                                                 {"Cover is Close", IDI_LAMP_GREEN},
                                                 {"Idle", IDI_LAMP_GREEN},
                                                 {"Temp Normal", IDI_LAMP_GREEN},
                                                 {"Normal", IDI_LAMP_GREEN},
                                                 {"Have paper", IDI_LAMP_GREEN}}));
    }));
}

TEST_F(StatusTest, OfflineFromTheFirstTickKeepsTheOthersGreen) {
    link.SetStatus(kPrinter, -1);
    EXPECT_TRUE(RunStatus([&](HeadlessWindow& w) {
        w.Click(IDC_MONITOR);
        w.FireTimer(kMonitorTimerId);
        Indicators expected = TemplateIndicators();
        for (Indicator* i :
             {&expected.cover, &expected.busy, &expected.temp, &expected.pause, &expected.paper}) {
            i->lamp = IDI_LAMP_GREEN;
        }
        EXPECT_EQ(ReadIndicators(w), expected);
    }));
}

TEST_F(StatusTest, EndTurnsAllGreyAndKeepsTheTextsAndStartAgainResumes) {
    EXPECT_TRUE(RunStatus([&](HeadlessWindow& w) {
        w.Click(IDC_MONITOR);
        link.SetStatus(kPrinter, kNormal | kTemp);
        w.FireTimer(kMonitorTimerId);
        const Indicators shown = ReadIndicators(w);

        const size_t mark = events.size();
        w.Click(IDC_MONITOR);
        EventLog expected{"text 1022 Start &Monitor", "timer- 1"};
        for (auto& e : Lamps(IDI_LAMP_GREY)) {
            expected.push_back(e);
        }
        EXPECT_EQ(Since(mark), expected);
        Indicators grey = shown;
        for (Indicator* i :
             {&grey.online, &grey.cover, &grey.busy, &grey.temp, &grey.pause, &grey.paper}) {
            i->lamp = IDI_LAMP_GREY;
        }
        EXPECT_EQ(ReadIndicators(w), grey);
        EXPECT_EQ(grey.temp.text, "Over Temp");
        EXPECT_FALSE(w.TimerActive(kMonitorTimerId));

        // Stopped to monitoring again: green at once, then the next reading.
        w.Click(IDC_MONITOR);
        EXPECT_EQ(w.GetText(IDC_MONITOR), "End &Monitor");
        EXPECT_EQ(ReadIndicators(w).temp, (Indicator{"Over Temp", IDI_LAMP_GREEN}));
        link.SetStatus(kPrinter, kNormal);
        w.FireTimer(kMonitorTimerId);
        EXPECT_EQ(ReadIndicators(w).temp, (Indicator{"Temp Normal", IDI_LAMP_GREEN}));
    }));
    EXPECT_EQ(GetStatusCalls(), 2);
}

TEST_F(StatusTest, StartThenEndWithinOnePeriodReadsNothing) {
    EXPECT_TRUE(RunStatus([&](HeadlessWindow& w) {
        const size_t mark = events.size();
        w.Click(IDC_MONITOR);
        w.Click(IDC_MONITOR);
        EventLog lamps;
        for (const auto& e : Since(mark)) {
            if (e.rfind("icon ", 0) == 0) {
                lamps.push_back(e);
            }
        }
        EventLog expected = Lamps(IDI_LAMP_GREEN);
        for (auto& e : Lamps(IDI_LAMP_GREY)) {
            expected.push_back(e);
        }
        EXPECT_EQ(lamps, expected);
        EXPECT_EQ(ReadIndicators(w), TemplateIndicators());
    }));
    EXPECT_EQ(GetStatusCalls(), 0);
}

TEST_F(StatusTest, EveryWayOfClosingWhileMonitoringStopsTheTimer) {
    const std::pair<const char*, std::function<void(HeadlessWindow&)>> ways[] = {
        {"Close button", [](HeadlessWindow& w) { w.Click(ui::kIdOk); }},
        {"Esc", [](HeadlessWindow& w) { w.PressKey(ui::kVkEscape, IDC_MONITOR); }},
        // Left running: the window is closed as by its close box.
        {"close box", [](HeadlessWindow&) {}},
    };
    for (const auto& [name, close] : ways) {
        events.clear();
        EXPECT_TRUE(RunStatus([&](HeadlessWindow& w) {
            w.Click(IDC_MONITOR);
            w.FireTimer(kMonitorTimerId);
            close(w);
        })) << name;
        // The timer is stopped on the window, before the window goes.
        auto started = std::find(events.begin(), events.end(), "timer+ 1 2000");
        auto stopped = std::find(started, events.end(), "timer- 1");
        auto closed = std::find(events.begin(), events.end(), "closed");
        ASSERT_NE(started, events.end()) << name;
        ASSERT_NE(stopped, events.end()) << name;
        ASSERT_NE(closed, events.end()) << name;
        EXPECT_LT(stopped, closed) << name;
        EXPECT_EQ(closed + 1, events.end()) << name;
    }

    // A new click starts over from the opened state.
    link.SetStatus(kPrinter, kNormal | kCover);
    EXPECT_TRUE(RunStatus([&](HeadlessWindow& w) {
        EXPECT_EQ(ReadIndicators(w), TemplateIndicators());
        EXPECT_EQ(w.GetText(IDC_MONITOR), "Start &Monitor");
        EXPECT_FALSE(w.TimerActive(kMonitorTimerId));
    }));
}

TEST_F(StatusTest, OtherTimersChangeNothing) {
    EXPECT_TRUE(RunStatus([&](HeadlessWindow& w) {
        w.Click(IDC_MONITOR);
        const Indicators green = ReadIndicators(w);
        // Another timer on the same window.
        w.SetTimer(7, 500);
        w.SetTimer(0, 500);
        const size_t mark = events.size();
        w.FireTimer(7);
        w.FireTimer(0);
        EXPECT_TRUE(Since(mark).empty());
        EXPECT_EQ(ReadIndicators(w), green);
        w.KillTimer(7);
        w.KillTimer(0);
    }));
    EXPECT_EQ(GetStatusCalls(), 0);
}

TEST_F(StatusTest, ReadsTheAddressThatWasInTheControlWhenOpened) {
    link.AddPrinter("10.1.2.9", {kNormal | kPause});
    window->SetText(IDC_IP, "10.1.2.9");
    EXPECT_TRUE(RunStatus([&](HeadlessWindow& w) {
        // Editing the main window's address later changes nothing here.
        window->SetText(IDC_IP, kPrinter);
        w.Click(IDC_MONITOR);
        w.FireTimer(kMonitorTimerId);
        EXPECT_EQ(ReadIndicators(w).pause, (Indicator{"Pause", IDI_LAMP_RED}));
    }));
    auto calls = link.CallsOf("GetStatus");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].address, "10.1.2.9");
}

}  // namespace
}  // namespace vorpane
