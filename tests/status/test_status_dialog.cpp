// The status dialog opened from the main window, with the table link and
// timer ticks fired by the test.

#include <gtest/gtest.h>

#include <functional>

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

const Indicator kOffline{"Off-line", IDI_LAMP_GREY};

class StatusTest : public StatusDialogTest {
protected:
    void SetUp() override {
        Open();
        link.AddPrinter(kPrinter, {kNormal});
        window->SetText(IDC_IP, kPrinter);
        link.ClearCalls();
    }
    void TearDown() override {
        // No status window outlives the click that opened it.
        EXPECT_EQ(ws.FindWindow(IDD_PRINTER_STATUS), nullptr);
    }
    int GetStatusCalls() { return static_cast<int>(link.CallsOf("GetStatus").size()); }
};

TEST_F(StatusTest, OpensAsTheTemplateStartTurnsGreenTicksReadEndTurnsGrey) {
    link.SetStatus(kPrinter, -1);
    EXPECT_TRUE(RunStatus([&](HeadlessWindow& w) {
        EXPECT_EQ(w.Title(), "Printer Status");
        EXPECT_EQ(ReadIndicators(w), TemplateIndicators());
        EXPECT_EQ(w.GetText(IDC_MONITOR), "Start &Monitor");
        EXPECT_FALSE(w.TimerActive(kMonitorTimerId));
        // The only library call is the main window's check before opening.
        const auto calls = link.Calls();
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].function, "IsConPrinterServer");
        EXPECT_EQ(calls[0].address, kPrinter);
        // Start then End before the first tick.
        w.Click(IDC_MONITOR);
        w.Click(IDC_MONITOR);
        EXPECT_EQ(ReadIndicators(w), TemplateIndicators());
        EXPECT_FALSE(w.TimerActive(kMonitorTimerId));

        w.Click(IDC_MONITOR);
        EXPECT_EQ(w.GetText(IDC_MONITOR), "End &Monitor");
        EXPECT_TRUE(w.TimerActive(kMonitorTimerId));
        EXPECT_EQ(w.TimerPeriod(kMonitorTimerId), kMonitorPeriodMs);
        Indicators expected = TemplateIndicators().WithLamps(IDI_LAMP_GREEN);
        EXPECT_EQ(ReadIndicators(w), expected);
        // Other timers of the window change nothing.
        for (int id : {7, 0}) {
            w.SetTimer(id, 500);
            w.FireTimer(id);
            w.KillTimer(id);
        }
        EXPECT_EQ(ReadIndicators(w), expected);
        EXPECT_EQ(GetStatusCalls(), 0);
        // Off-line from the first tick: grey, never red; the rest stays.
        w.FireTimer(kMonitorTimerId);
        expected.online = kOffline;
        EXPECT_EQ(ReadIndicators(w), expected);

        // End greys the lamps and keeps the texts; Start again turns them green.
        link.SetStatus(kPrinter, kNormal | kTemp);
        w.FireTimer(kMonitorTimerId);
        const Indicators shown = ReadIndicators(w);
        ASSERT_EQ(shown, OnlineReading(kTempAlarm));
        w.Click(IDC_MONITOR);
        EXPECT_EQ(w.GetText(IDC_MONITOR), "Start &Monitor");
        EXPECT_EQ(ReadIndicators(w), shown.WithLamps(IDI_LAMP_GREY));
        EXPECT_FALSE(w.TimerActive(kMonitorTimerId));
        w.Click(IDC_MONITOR);
        EXPECT_EQ(ReadIndicators(w), shown.WithLamps(IDI_LAMP_GREEN));
        link.SetStatus(kPrinter, kNormal);
        w.FireTimer(kMonitorTimerId);
        EXPECT_EQ(ReadIndicators(w), OnlineReading(0));
    }));
    EXPECT_EQ(GetStatusCalls(), 3);
    EXPECT_TRUE(ws.ShownBoxes().empty());
}

TEST_F(StatusTest, DoesNotOpenForAnOfflinePrinterOrDuringAScan) {
    window->SetText(IDC_IP, "10.1.2.4");
    EXPECT_FALSE(RunStatus([](HeadlessWindow&) { ADD_FAILURE() << "opened"; }));
    ASSERT_EQ(ws.ShownBoxes().size(), 1u);
    EXPECT_EQ(ws.ShownBoxes()[0].text, "The printer is offline!");
    EXPECT_EQ(ws.ShownBoxes()[0].style, ui::kMbIconError);

    ws.ClearShownBoxes();
    link.ClearCalls();
    window->SetText(IDC_IP, kPrinter);
    ScanTestAccess::ActiveWorkers(dlg->Scan()) = 2;
    window->Click(IDC_STATUS);
    ScanTestAccess::ActiveWorkers(dlg->Scan()) = 0;
    ASSERT_EQ(ws.ShownBoxes().size(), 1u);
    EXPECT_EQ(ws.ShownBoxes()[0].text, "Scanning,Please wait...");
    EXPECT_TRUE(link.Calls().empty());
    EXPECT_TRUE(ws.ModalRuns().empty());
}

TEST_F(StatusTest, EachFlagLightsOnlyItsOwnIndicatorFromTheAddressGivenAtOpening) {
    EXPECT_TRUE(RunStatus([&](HeadlessWindow& w) {
        window->SetText(IDC_IP, "10.1.2.9");  // editing the main window later changes nothing
        w.Click(IDC_MONITOR);
        const int32_t bits[] = {kCover, kBusy, kTemp, kPause, kPaper};
        // Every combination of the five flags, so no indicator depends on
        // another.
        for (int mask = 0; mask < 32; ++mask) {
            int32_t status = kNormal;
            for (int b = 0; b < 5; ++b) {
                status |= (mask & (1 << b)) != 0 ? bits[b] : 0;
            }
            link.SetStatus(kPrinter, status);
            w.FireTimer(kMonitorTimerId);
            EXPECT_EQ(ReadIndicators(w), OnlineReading(mask)) << "mask " << mask;
        }
    }));
    const auto calls = link.CallsOf("GetStatus");
    EXPECT_EQ(calls.size(), 32u);
    for (const auto& call : calls) {
        EXPECT_EQ(call.address, kPrinter);
    }
}

TEST_F(StatusTest, OfflineTickChangesOnlyTheOnlineIndicatorAndTheMonitorGoesOn) {
    EXPECT_TRUE(RunStatus([&](HeadlessWindow& w) {
        w.Click(IDC_MONITOR);
        link.SetStatus(kPrinter, kNormal | kCover | kPause);
        w.FireTimer(kMonitorTimerId);
        w.FireTimer(kMonitorTimerId);
        Indicators expected = OnlineReading(kCoverAlarm | kPauseAlarm);
        ASSERT_EQ(ReadIndicators(w), expected);
        // GetStatus now answers -1; testing its flags would turn busy,
        // temperature and paper red.
        link.RemovePrinter(kPrinter);
        w.FireTimer(kMonitorTimerId);
        expected.online = kOffline;
        EXPECT_EQ(ReadIndicators(w), expected);
        EXPECT_TRUE(w.TimerActive(kMonitorTimerId));
    }));
}

TEST_F(StatusTest, EveryWayOfClosingWhileMonitoringStopsTheTimer) {
    const std::pair<const char*, std::function<void(HeadlessWindow&)>> ways[] = {
        {"Close button", [](HeadlessWindow& w) { w.Click(ui::kIdOk); }},
        {"Esc", [](HeadlessWindow& w) { w.PressKey(ui::kVkEscape, IDC_MONITOR); }},
        // Left running: the window is closed as by its close box.
        {"close box", [](HeadlessWindow&) {}},
    };
    for (const auto& [name, close] : ways) {
        ws.timerRunningAtClose.clear();
        EXPECT_TRUE(RunStatus([&](HeadlessWindow& w) {
            w.Click(IDC_MONITOR);
            w.FireTimer(kMonitorTimerId);
            ASSERT_TRUE(w.TimerActive(kMonitorTimerId));
            close(w);
        })) << name;
        EXPECT_EQ(ws.timerRunningAtClose, std::vector<bool>{false}) << name;
    }
}

}  // namespace
}  // namespace vorpane
