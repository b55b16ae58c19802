#pragma once
// The main dialog on the headless window system with the status dialog
// opened from its Status button, and the six indicators as the user sees them.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "main_dialog_fixture.h"
#include "status/printer_status_dlg.h"

namespace vorpane {

// Notes, for every status window that goes, whether its monitor timer was
// still running at that moment.
class StatusWindowSystem : public ui::HeadlessWindowSystem {
public:
    std::unique_ptr<ui::Window> CreateDialogWindow(const ui::DialogTemplate& tmpl,
                                                   ui::DialogEvents& events,
                                                   ui::Window* owner) override {
        if (tmpl.id != IDD_PRINTER_STATUS) {
            return HeadlessWindowSystem::CreateDialogWindow(tmpl, events, owner);
        }
        return std::make_unique<Window>(*this, tmpl, events);
    }
    std::vector<bool> timerRunningAtClose;

private:
    class Window : public ui::HeadlessWindow {
    public:
        Window(StatusWindowSystem& ws, const ui::DialogTemplate& t, ui::DialogEvents& e)
            : HeadlessWindow(ws, t, e), m_ws(ws) {}
        ~Window() override { m_ws.timerRunningAtClose.push_back(TimerActive(kMonitorTimerId)); }

    private:
        StatusWindowSystem& m_ws;
    };
};

// One indicator as the user sees it.
struct Indicator {
    std::string text;
    int lamp;
    bool operator==(const Indicator&) const = default;
};
inline std::ostream& operator<<(std::ostream& os, const Indicator& i) {
    return os << '"' << i.text << "\"/" << i.lamp;
}

// On-line, cover, busy, temperature, pause, paper.
struct Indicators {
    Indicator online, cover, busy, temp, pause, paper;
    bool operator==(const Indicators&) const = default;
    Indicators WithLamps(int lamp) const {
        Indicators out = *this;
        for (Indicator* i :
             {&out.online, &out.cover, &out.busy, &out.temp, &out.pause, &out.paper}) {
            i->lamp = lamp;
        }
        return out;
    }
};
inline std::ostream& operator<<(std::ostream& os, const Indicators& i) {
    return os << "{online " << i.online << ", cover " << i.cover << ", busy " << i.busy << ", temp "
              << i.temp << ", pause " << i.pause << ", paper " << i.paper << "}";
}

inline Indicators ReadIndicators(ui::Window& w) {
    auto one = [&](int text, int lamp) {
        return Indicator{w.GetText(text), w.GetStaticIcon(lamp)};
    };
    return {one(IDC_ONLINE_TEXT, IDC_ONLINE_LAMP), one(IDC_COVER_TEXT, IDC_COVER_LAMP),
            one(IDC_BUSY_TEXT, IDC_BUSY_LAMP),     one(IDC_TEMP_TEXT, IDC_TEMP_LAMP),
            one(IDC_PAUSE_TEXT, IDC_PAUSE_LAMP),   one(IDC_PAPER_TEXT, IDC_PAPER_LAMP)};
}

// What the dialog shows when it opens.
inline Indicators TemplateIndicators() {
    return {{"Off-line", IDI_LAMP_GREY}, {"Cover open", IDI_LAMP_GREY},
            {"Busy", IDI_LAMP_GREY},     {"OverTemp", IDI_LAMP_GREY},
            {"Pause", IDI_LAMP_GREY},    {"Paper end", IDI_LAMP_GREY}};
}

// The six indicators after a reading from a printer that answers: bits of
// `alarms` for the five conditions.
enum Alarm { kCoverAlarm = 1, kBusyAlarm = 2, kTempAlarm = 4, kPauseAlarm = 8, kPaperAlarm = 16 };
inline Indicators OnlineReading(int alarms) {
    auto pick = [alarms](int bit, const char* alarm, const char* normal) {
        return (alarms & bit) != 0 ? Indicator{alarm, IDI_LAMP_RED}
                                   : Indicator{normal, IDI_LAMP_GREEN};
    };
    return {
        {"On-line", IDI_LAMP_GREEN},          pick(kCoverAlarm, "Cover is Open", "Cover is Close"),
        pick(kBusyAlarm, "Busy", "Idle"),     pick(kTempAlarm, "Over Temp", "Temp Normal"),
        pick(kPauseAlarm, "Pause", "Normal"), pick(kPaperAlarm, "Paper is end", "Have paper")};
}

class StatusDialogTest : public MainDialogTest {
protected:
    StatusDialogTest() { services.ws = &ws; }
    // The dialog's windows go before the window system they belong to.
    ~StatusDialogTest() override { dlg.reset(); }

    // Clicks Status with `script` playing the user of the status dialog;
    // true when the dialog ran and the script with it.
    bool RunStatus(const ui::HeadlessWindowSystem::ModalScript& script) {
        const size_t runsBefore = ws.ModalRuns().size();
        // Owns what it needs: a script the click does not use stays queued.
        auto ran = std::make_shared<bool>(false);
        ws.QueueModalScript(IDD_PRINTER_STATUS, [ran, script](ui::HeadlessWindow& w) {
            *ran = true;
            script(w);
        });
        window->Click(IDC_STATUS);
        return *ran && ws.ModalRuns().size() == runsBefore + 1;
    }

    // Hides the base fixture's window system, so every use in these tests
    // reaches the one the dialogs run on.
    StatusWindowSystem ws;
};

}  // namespace vorpane
