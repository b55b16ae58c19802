// The status dialog on the headless window system: with the table link for
// every flag combination, and end to end with the network link and the
// virtual printer on loopback. The monitor's ticks come
// from the headless clock, so the two-second period is part of every run.

#include "loopback_printer.h"
#include "printer_link/network_printer_link.h"
#include "status/printer_status_dlg.h"
#include "table_printer_link.h"
#include "ui/headless/headless_window_system.h"
#include "virtual_printer/virtual_printer.h"

namespace vorpane {
namespace {

using ui::HeadlessWindow;

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
// Indicators as the user reads them after a reading, in the dialog's order,
// each "text:lamp" with the lamp G(reen), R(ed) or -(grey).
Indicators Shown(const std::string& spelled) {
    Indicators out;
    size_t start = 0;
    while (start < spelled.size()) {
        const size_t end = std::min(spelled.find('|', start), spelled.size());
        const std::string item = spelled.substr(start, end - start);
        const char lamp = item.back();
        out.emplace_back(item.substr(0, item.size() - 2), lamp == 'G'   ? IDI_LAMP_GREEN
                                                          : lamp == 'R' ? IDI_LAMP_RED
                                                                        : IDI_LAMP_GREY);
        start = end + 1;
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

    ui::HeadlessWindowSystem ws;
    TablePrinterLink link;
    std::unique_ptr<CPrinterStatusDlg> dlg;
};

TEST_F(StatusTest, OpensAsTheTemplateStartGreensTicksEveryTwoSecondsEndGreys) {
    link.AddPrinter(kPrinter, {-1});
    HeadlessWindow& w = Open(link);
    EXPECT_EQ(Read(w), kAtOpening);
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
    EXPECT_EQ(Read(w), Shown("On-line:G|Cover is Open:R|Idle:G|Over Temp:R|Normal:G|Have paper:G"));
    // Off-line again: only the on-line indicator changes, the monitor goes on.
    link.SetStatus(kPrinter, -1);
    Tick();
    expected = Shown("Off-line:-|Cover is Open:R|Idle:G|Over Temp:R|Normal:G|Have paper:G");
    EXPECT_EQ(Read(w), expected);
    // End greys the lamps and keeps the texts; ticks stop.
    w.Click(IDC_MONITOR);
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
    const std::pair<int32_t, const char*> rows[] = {
        {0, "On-line:G|Cover is Close:G|Idle:G|Temp Normal:G|Normal:G|Have paper:G"},
        {kStatusCoverOpen, "On-line:G|Cover is Open:R|Idle:G|Temp Normal:G|Normal:G|Have paper:G"},
        {kStatusBusy, "On-line:G|Cover is Close:G|Busy:R|Temp Normal:G|Normal:G|Have paper:G"},
        {kStatusTempOver, "On-line:G|Cover is Close:G|Idle:G|Over Temp:R|Normal:G|Have paper:G"},
        {kStatusPause, "On-line:G|Cover is Close:G|Idle:G|Temp Normal:G|Pause:R|Have paper:G"},
        {kStatusPaperEnd,
         "On-line:G|Cover is Close:G|Idle:G|Temp Normal:G|Normal:G|Paper is end:R"},
        {kStatusCoverOpen | kStatusBusy | kStatusTempOver | kStatusPause | kStatusPaperEnd,
         "On-line:G|Cover is Open:R|Busy:R|Over Temp:R|Pause:R|Paper is end:R"},
        {0, "On-line:G|Cover is Close:G|Idle:G|Temp Normal:G|Normal:G|Have paper:G"},
    };
    for (const auto& [alarms, shown] : rows) {
        link.SetStatus(kPrinter, kIdle | alarms);
        Tick();
        EXPECT_EQ(Read(w), Shown(shown)) << shown;
    }
}

// End to end: the network link against the virtual printer, whose condition
// changes while the monitor runs; every change shows on the very next tick.
TEST_F(StatusTest, IndicatorsFollowTheNetworkPrinter) {
    std::unique_ptr<VirtualPrinter> printer = StartLoopbackPrinter();
    ASSERT_TRUE(printer);
    NetworkPrinterLink netLink(printer->Port());
    HeadlessWindow& w = Open(netLink);
    dlg->m_address = "127.0.0.1";
    w.Click(IDC_MONITOR);
    const std::pair<std::vector<Condition>, const char*> steps[] = {
        {{}, "On-line:G|Cover is Close:G|Idle:G|Temp Normal:G|Normal:G|Have paper:G"},
        // A printer with its cover open stops and says it is off-line.
        {{Condition::kCoverOpen},
         "On-line:G|Cover is Open:R|Busy:R|Temp Normal:G|Normal:G|Have paper:G"},
        {{Condition::kOffline},
         "On-line:G|Cover is Close:G|Busy:R|Temp Normal:G|Normal:G|Have paper:G"},
        {{Condition::kOverTemp, Condition::kWaitingRecovery},
         "On-line:G|Cover is Close:G|Busy:R|Over Temp:R|Pause:R|Have paper:G"},
        {{Condition::kPaperEnd},
         "On-line:G|Cover is Close:G|Busy:R|Temp Normal:G|Normal:G|Paper is end:R"},
    };
    for (const auto& [conditions, shown] : steps) {
        ConditionSet set;
        for (Condition c : conditions) {
            set.Add(c);
        }
        printer->SetConditions(set);
        Tick();
        EXPECT_EQ(Read(w), Shown(shown)) << shown;
    }
    // Switched off with paper out: only the on-line indicator changes.
    printer->Stop();
    Tick();
    EXPECT_EQ(Read(w),
              Shown("Off-line:-|Cover is Close:G|Busy:R|Temp Normal:G|Normal:G|Paper is end:R"));
    dlg.reset();  // before the link it was given
}

}  // namespace
}  // namespace vorpane
