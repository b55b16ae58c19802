// The status monitor end to end: the main window and the status dialog on
// the headless window system, the network link, and the virtual printer on
// loopback whose condition changes while the monitor runs. The test fires
// each tick itself, so every change must show on the very next one.

#include <gtest/gtest.h>

#include "loopback_printer.h"

#include <memory>
#include <vector>

#include "emulator/virtual_printer.h"
#include "printer_link/network_printer_link.h"
#include "status_fixture.h"

namespace vorpane {
namespace {

std::unique_ptr<VirtualPrinter> StartPrinter(uint16_t port) {
    return StartLoopbackPrinter([port](VirtualPrinterConfig& c) { c.port = port; });
}

TEST_F(StatusDialogTest, IndicatorsFollowTheNetworkPrinterOnTheNextTick) {
    std::unique_ptr<VirtualPrinter> printer = StartPrinter(0);
    ASSERT_TRUE(printer);
    const uint16_t port = printer->Port();
    NetworkPrinterLink netLink(port);
    services.link = &netLink;
    Open();
    window->SetText(IDC_IP, "127.0.0.1");

    struct Step {
        std::vector<Condition> conditions;
        int alarms;
    };
    const Step steps[] = {
        {{}, 0},
        // A printer with its cover open stops and reports itself off-line,
        // which the busy test sees; the status itself still arrives.
        {{Condition::kCoverOpen}, kCoverAlarm | kBusyAlarm},
        {{Condition::kPaperEnd}, kBusyAlarm | kPaperAlarm},
        // Its own off-line flag is a busy printer that still answers.
        {{Condition::kOffline}, kBusyAlarm},
        {{Condition::kOverTemp, Condition::kWaitingRecovery},
         kBusyAlarm | kTempAlarm | kPauseAlarm},
        {{}, 0},
        {{Condition::kPaperEnd}, kBusyAlarm | kPaperAlarm},
    };
    EXPECT_TRUE(RunStatus([&](ui::HeadlessWindow& w) {
        w.Click(IDC_MONITOR);
        for (const Step& step : steps) {
            ConditionSet set;
            for (Condition c : step.conditions) {
                set.Add(c);
            }
            printer->SetConditions(set);
            w.FireTimer(kMonitorTimerId);
            EXPECT_EQ(ReadIndicators(w), OnlineReading(step.alarms)) << &step - steps;
        }

        // Switched off with paper out: the next tick reads nothing, so only
        // the on-line indicator changes and the paper lamp keeps its red.
        printer->Stop();
        w.FireTimer(kMonitorTimerId);
        Indicators off = OnlineReading(kBusyAlarm | kPaperAlarm);
        off.online = {"Off-line", IDI_LAMP_GREY};
        EXPECT_EQ(ReadIndicators(w), off);
        EXPECT_TRUE(w.TimerActive(kMonitorTimerId));

        // Switched on again at the same address: on-line on the first tick.
        printer = StartPrinter(port);
        ASSERT_TRUE(printer);
        w.FireTimer(kMonitorTimerId);
        EXPECT_EQ(ReadIndicators(w), OnlineReading(0));
        w.Click(ui::kIdOk);
    }));
    EXPECT_TRUE(ws.ShownBoxes().empty());
    dlg.reset();  // before the link it was given
}

}  // namespace
}  // namespace vorpane
