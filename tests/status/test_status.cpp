// The status dialog on the headless window system: with the table link for
// every flag combination and every way of closing, and end to end with the
// network link and the virtual printer on loopback. The monitor's ticks come
// from the headless clock, so the two-second period is part of every run.

#include <gtest/gtest.h>

#include <functional>

#include "emulator/virtual_printer.h"
#include "loopback_printer.h"
#include "printer_link/network_printer_link.h"
#include "status/printer_status_dlg.h"
#include "table_printer_link.h"
#include "ui/headless/headless_window_system.h"

namespace vorpane {
namespace {

using ui::HeadlessWindow;

// Notes, for every status window that goes, whether its monitor timer was
// still running at that moment.
class ClosingWindowSystem : public ui::HeadlessWindowSystem {
public:
    std::unique_ptr<ui::Window> CreateDialogWindow(const ui::DialogTemplate& tmpl,
                                                   ui::DialogEvents& events, ui::Window*) override {
        return std::make_unique<Window>(*this, tmpl, events);
    }
    std::vector<bool> timerRunningAtClose;

private:
    struct Window : ui::HeadlessWindow {
        Window(ClosingWindowSystem& ws, const ui::DialogTemplate& t, ui::DialogEvents& e)
            : HeadlessWindow(ws, t, e), owner(ws) {}
        ~Window() override { owner.timerRunningAtClose.push_back(TimerActive(kMonitorTimerId)); }
        ClosingWindowSystem& owner;
    };
};

// The six indicators as the user sees them: text and lamp of on-line,
// cover, busy, temperature, pause, paper.
using Indicators = std::vector<std::pair<std::string, int>>;
constexpr int kLampIds[] = {IDC_ONLINE_LAMP, IDC_COVER_LAMP, IDC_BUSY_LAMP,
                            IDC_TEMP_LAMP,   IDC_PAUSE_LAMP, IDC_PAPER_LAMP};
constexpr int kTextIds[] = {IDC_ONLINE_TEXT, IDC_COVER_TEXT, IDC_BUSY_TEXT,
                            IDC_TEMP_TEXT,   IDC_PAUSE_TEXT, IDC_PAPER_TEXT};

Indicators Read(ui::Window& w) {
    Indicators out;
    for (size_t i = 0; i < 6; ++i) {
        out.emplace_back(w.GetText(kTextIds[i]), w.GetStaticIcon(kLampIds[i]));
    }
    return out;
}
Indicators WithLamps(Indicators shown, int lamp) {
    for (auto& i : shown) {
        i.second = lamp;
    }
    return shown;
}
const Indicators kAtOpening = {{"Off-line", IDI_LAMP_GREY}, {"Cover open", IDI_LAMP_GREY},
                               {"Busy", IDI_LAMP_GREY},     {"OverTemp", IDI_LAMP_GREY},
                               {"Pause", IDI_LAMP_GREY},    {"Paper end", IDI_LAMP_GREY}};
// After a reading from a printer that answers; `alarms` as status bits.
Indicators Reading(int32_t alarms) {
    const std::tuple<int32_t, const char*, const char*> rows[] = {
        {kStatusCoverOpen, "Cover is Open", "Cover is Close"},
        {kStatusBusy, "Busy", "Idle"},
        {kStatusTempOver, "Over Temp", "Temp Normal"},
        {kStatusPause, "Pause", "Normal"},
        {kStatusPaperEnd, "Paper is end", "Have paper"}};
    Indicators out = {{"On-line", IDI_LAMP_GREEN}};
    for (const auto& [bit, alarm, normal] : rows) {
        const bool on = (alarms & bit) != 0;
        out.emplace_back(on ? alarm : normal, on ? IDI_LAMP_RED : IDI_LAMP_GREEN);
    }
    return out;
}

constexpr const char* kPrinter = "10.1.2.3";
constexpr int32_t kIdle = 0x12121212;

class StatusTest : public ::testing::Test {
protected:
    // The dialog, created and initialised but not run modally.
    HeadlessWindow& Open(PrinterLink& link) {
        dlg = std::make_unique<CPrinterStatusDlg>(ws, link);
        dlg->m_address = kPrinter;
        EXPECT_TRUE(dlg->Create());
        return *static_cast<HeadlessWindow*>(dlg->GetWindow());
    }
    void Tick() { ws.LetTimePass(kMonitorPeriodMs); }

    ClosingWindowSystem ws;
    TablePrinterLink link;
    std::unique_ptr<CPrinterStatusDlg> dlg;
};

TEST_F(StatusTest, OpensAsTheTemplateStartGreensTicksEveryTwoSecondsEndGreys) {
    link.AddPrinter(kPrinter, {-1});
    HeadlessWindow& w = Open(link);
    EXPECT_EQ(Read(w), kAtOpening);
    EXPECT_EQ(w.GetText(IDC_MONITOR), "Start &Monitor");
    w.Click(IDC_MONITOR);  // Start then End before the first tick
    w.Click(IDC_MONITOR);
    Tick();
    EXPECT_EQ(Read(w), kAtOpening);
    EXPECT_TRUE(link.Calls().empty());  // nothing is read at opening

    w.Click(IDC_MONITOR);
    EXPECT_EQ(w.GetText(IDC_MONITOR), "End &Monitor");
    EXPECT_EQ(Read(w), WithLamps(kAtOpening, IDI_LAMP_GREEN));
    ws.LetTimePass(kMonitorPeriodMs - 1);
    EXPECT_TRUE(link.Calls().empty());
    // Off-line from the first tick: grey, never red; the rest stays.
    ws.LetTimePass(1);
    Indicators expected = WithLamps(kAtOpening, IDI_LAMP_GREEN);
    expected[0] = {"Off-line", IDI_LAMP_GREY};
    EXPECT_EQ(Read(w), expected);
    link.SetStatus(kPrinter, kIdle | kStatusTempOver | kStatusCoverOpen);
    Tick();
    EXPECT_EQ(Read(w), Reading(kStatusTempOver | kStatusCoverOpen));
    // Off-line again: only the on-line indicator changes, the monitor goes on.
    link.SetStatus(kPrinter, -1);
    Tick();
    expected = Reading(kStatusTempOver | kStatusCoverOpen);
    expected[0] = {"Off-line", IDI_LAMP_GREY};
    EXPECT_EQ(Read(w), expected);
    // End greys the lamps and keeps the texts; ticks stop.
    w.Click(IDC_MONITOR);
    EXPECT_EQ(w.GetText(IDC_MONITOR), "Start &Monitor");
    EXPECT_EQ(Read(w), WithLamps(expected, IDI_LAMP_GREY));
    Tick();
    EXPECT_EQ(link.CallsOf("GetStatus").size(), 3u);
    for (const auto& call : link.CallsOf("GetStatus")) {
        EXPECT_EQ(call.address, kPrinter);
    }
}

TEST_F(StatusTest, EachFlagLightsOnlyItsOwnIndicator) {
    link.AddPrinter(kPrinter);
    HeadlessWindow& w = Open(link);
    w.Click(IDC_MONITOR);
    const int32_t bits[] = {kStatusCoverOpen, kStatusBusy, kStatusTempOver, kStatusPause,
                            kStatusPaperEnd};
    for (int mask = 0; mask < 32; ++mask) {
        int32_t alarms = 0;
        for (int b = 0; b < 5; ++b) {
            alarms |= (mask & (1 << b)) != 0 ? bits[b] : 0;
        }
        link.SetStatus(kPrinter, kIdle | alarms);
        Tick();
        EXPECT_EQ(Read(w), Reading(alarms)) << "mask " << mask;
    }
}

TEST_F(StatusTest, EveryWayOfClosingWhileMonitoringStopsTheTimer) {
    link.AddPrinter(kPrinter);
    const std::pair<const char*, std::function<void(HeadlessWindow&)>> ways[] = {
        {"Close button", [](HeadlessWindow& w) { w.Click(ui::kIdOk); }},
        {"Esc", [](HeadlessWindow& w) { w.PressKey(ui::kVkEscape, IDC_MONITOR); }},
        {"close box", [](HeadlessWindow&) {}},  // left to the modal run's close
    };
    for (const auto& [name, close] : ways) {
        ws.timerRunningAtClose.clear();
        CPrinterStatusDlg status(ws, link);
        ws.QueueModalScript(IDD_PRINTER_STATUS, [&](HeadlessWindow& w) {
            w.Click(IDC_MONITOR);
            Tick();
            close(w);
        });
        status.DoModal();
        EXPECT_EQ(ws.timerRunningAtClose, std::vector<bool>{false}) << name;
    }
}

// End to end: the network link against the virtual printer, whose condition
// changes while the monitor runs; every change shows on the very next tick.
TEST_F(StatusTest, IndicatorsFollowTheNetworkPrinter) {
    std::unique_ptr<VirtualPrinter> printer = StartLoopbackPrinter();
    ASSERT_TRUE(printer);
    const uint16_t port = printer->Port();
    NetworkPrinterLink netLink(port);
    HeadlessWindow& w = Open(netLink);
    dlg->m_address = "127.0.0.1";
    w.Click(IDC_MONITOR);
    const std::pair<std::vector<Condition>, int32_t> steps[] = {
        {{}, 0},
        // A printer with its cover open stops and says it is off-line.
        {{Condition::kCoverOpen}, kStatusCoverOpen | kStatusBusy},
        {{Condition::kOffline}, kStatusBusy},
        {{Condition::kOverTemp, Condition::kWaitingRecovery},
         kStatusBusy | kStatusTempOver | kStatusPause},
        {{Condition::kPaperEnd}, kStatusBusy | kStatusPaperEnd},
    };
    for (const auto& [conditions, alarms] : steps) {
        ConditionSet set;
        for (Condition c : conditions) {
            set.Add(c);
        }
        printer->SetConditions(set);
        Tick();
        EXPECT_EQ(Read(w), Reading(alarms)) << alarms;
    }
    // Switched off with paper out: only the on-line indicator changes.
    printer->Stop();
    Tick();
    Indicators off = Reading(kStatusBusy | kStatusPaperEnd);
    off[0] = {"Off-line", IDI_LAMP_GREY};
    EXPECT_EQ(Read(w), off);
    // Switched on again at the same address: on-line on the first tick.
    printer = StartLoopbackPrinter([port](VirtualPrinterConfig& c) { c.port = port; });
    ASSERT_TRUE(printer);
    Tick();
    EXPECT_EQ(Read(w), Reading(0));
    dlg.reset();  // before the link it was given
}

}  // namespace
}  // namespace vorpane
