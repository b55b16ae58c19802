#pragma once
// The main dialog on the headless window system, seen through a window
// system that writes down, in order, what the status dialog does to its
// window (texts, lamps, timers, its end) and which library calls it makes.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "main_dialog_fixture.h"
#include "status/printer_status_dlg.h"

namespace vorpane {

using EventLog = std::vector<std::string>;

// Forwards every call to a real window and logs those of the status dialog
// that change what the user sees.
class LoggingWindow : public ui::Window {
public:
    LoggingWindow(std::unique_ptr<ui::Window> inner, int templateId, EventLog& log)
        : m_inner(std::move(inner)), m_templateId(templateId), m_log(log) {}
    ~LoggingWindow() override { Log("closed"); }
    ui::Window& Inner() { return *m_inner; }

    int RunModal() override { return m_inner->RunModal(); }
    void EndDialog(int result) override { m_inner->EndDialog(result); }
    void SetTitle(const std::string& s) override { m_inner->SetTitle(s); }
    void SetIcon(int iconId) override { m_inner->SetIcon(iconId); }
    bool IsMinimized() override { return m_inner->IsMinimized(); }
    bool HasSystemMenu() override { return m_inner->HasSystemMenu(); }
    void AppendSystemMenuSeparator() override { m_inner->AppendSystemMenuSeparator(); }
    void AppendSystemMenuItem(uint32_t id, const std::string& s) override {
        m_inner->AppendSystemMenuItem(id, s);
    }
    std::string GetText(int id) override { return m_inner->GetText(id); }
    void SetText(int id, const std::string& s) override {
        Log("text " + std::to_string(id) + " " + s);
        m_inner->SetText(id, s);
    }
    void Enable(int id, bool enable) override { m_inner->Enable(id, enable); }
    bool IsEnabled(int id) override { return m_inner->IsEnabled(id); }
    std::array<uint8_t, 4> GetIpOctets(int id) override { return m_inner->GetIpOctets(id); }
    void ComboReset(int id) override { m_inner->ComboReset(id); }
    int ComboAdd(int id, const std::string& s) override { return m_inner->ComboAdd(id, s); }
    int ComboCount(int id) override { return m_inner->ComboCount(id); }
    void ComboSetCurSel(int id, int index) override { m_inner->ComboSetCurSel(id, index); }
    int ComboGetCurSel(int id) override { return m_inner->ComboGetCurSel(id); }
    std::string ComboItemText(int id, int index) override {
        return m_inner->ComboItemText(id, index);
    }
    int GetCheck(int id) override { return m_inner->GetCheck(id); }
    void SetCheck(int id, int state) override { m_inner->SetCheck(id, state); }
    void SetStaticIcon(int id, int iconId) override {
        Log("icon " + std::to_string(id) + " " + std::to_string(iconId));
        m_inner->SetStaticIcon(id, iconId);
    }
    int GetStaticIcon(int id) override { return m_inner->GetStaticIcon(id); }
    void AttachCustomControl(int id, ui::CustomControl* c) override {
        m_inner->AttachCustomControl(id, c);
    }
    ui::Rect ControlClientRect(int id) override { return m_inner->ControlClientRect(id); }
    void RedrawControlNow(int id) override { m_inner->RedrawControlNow(id); }
    void InvalidateControl(int id) override { m_inner->InvalidateControl(id); }
    void SetTimer(int timerId, int periodMs) override {
        Log("timer+ " + std::to_string(timerId) + " " + std::to_string(periodMs));
        m_inner->SetTimer(timerId, periodMs);
    }
    void KillTimer(int timerId) override {
        Log("timer- " + std::to_string(timerId));
        m_inner->KillTimer(timerId);
    }
    int MessageBox(const std::string& s, uint32_t style) override {
        Log("box " + s);
        return m_inner->MessageBox(s, style);
    }

private:
    void Log(const std::string& event) {
        if (m_templateId == IDD_PRINTER_STATUS) {
            m_log.push_back(event);
        }
    }
    std::unique_ptr<ui::Window> m_inner;
    int m_templateId;
    EventLog& m_log;
};

class LoggingWindowSystem : public ui::WindowSystem {
public:
    LoggingWindowSystem(ui::WindowSystem& inner, EventLog& log) : m_inner(inner), m_log(log) {}

    std::unique_ptr<ui::Window> CreateDialogWindow(const ui::DialogTemplate& tmpl,
                                                   ui::DialogEvents& events,
                                                   ui::Window* owner) override {
        ui::Window* innerOwner =
            owner != nullptr ? &static_cast<LoggingWindow*>(owner)->Inner() : nullptr;
        if (tmpl.id == IDD_PRINTER_STATUS) {
            owners.push_back(owner);
        }
        return std::make_unique<LoggingWindow>(m_inner.CreateDialogWindow(tmpl, events, innerOwner),
                                               tmpl.id, m_log);
    }
    std::string ApplicationName() override { return m_inner.ApplicationName(); }
    int MessageBox(const std::string& s, uint32_t style) override {
        return m_inner.MessageBox(s, style);
    }
    std::optional<std::string> GetOpenFileName(ui::Window* owner,
                                               const ui::OpenFileRequest& request) override {
        return m_inner.GetOpenFileName(owner, request);
    }
    ui::Color GetSysColor(ui::SysColor which) override { return m_inner.GetSysColor(which); }
    bool IsControlKeyDown() override { return m_inner.IsControlKeyDown(); }
    bool ApplySkin(const std::string& path) override { return m_inner.ApplySkin(path); }
    bool IsUiThread() override { return m_inner.IsUiThread(); }
    void Invoke(const std::function<void()>& fn) override { m_inner.Invoke(fn); }
    void ServeUntil(const std::function<bool()>& done) override { m_inner.ServeUntil(done); }

    // The owner window each status dialog was created with.
    std::vector<ui::Window*> owners;

private:
    ui::WindowSystem& m_inner;
    EventLog& m_log;
};

// Answers from the table link and writes each call into the same log.
class LoggingLink : public PrinterLink {
public:
    LoggingLink(PrinterLink& inner, EventLog& log) : m_inner(inner), m_log(log) {}
    int32_t SetTimeOut(int32_t s, int32_t ms) override { return m_inner.SetTimeOut(s, ms); }
    int32_t IsConPrinterServer(const char* a) override {
        m_log.push_back(std::string("IsConPrinterServer ") + a);
        return m_inner.IsConPrinterServer(a);
    }
    int32_t GetStatus(const char* a) override {
        m_log.push_back(std::string("GetStatus ") + a);
        return m_inner.GetStatus(a);
    }
    int32_t IsCoverOpen(int32_t s) override { return Flag("IsCoverOpen", m_inner.IsCoverOpen(s)); }
    int32_t IsBusy(int32_t s) override { return Flag("IsBusy", m_inner.IsBusy(s)); }
    int32_t IsTempOver(int32_t s) override { return Flag("IsTempOver", m_inner.IsTempOver(s)); }
    int32_t IsPause(int32_t s) override { return Flag("IsPause", m_inner.IsPause(s)); }
    int32_t IsPaperEnd(int32_t s) override { return Flag("IsPaperEnd", m_inner.IsPaperEnd(s)); }
    int32_t SendData(const char* a, const uint8_t* b, int32_t n) override {
        m_log.push_back(std::string("SendData ") + a);
        return m_inner.SendData(a, b, n);
    }

private:
    int32_t Flag(const char* name, int32_t result) {
        m_log.push_back(name);
        return result;
    }
    PrinterLink& m_inner;
    EventLog& m_log;
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

class StatusDialogTest : public MainDialogTest {
protected:
    StatusDialogTest() {
        services.ws = &logWs;
        services.link = &logLink;
    }

    // The main dialog's own window is the headless one behind the logger.
    void Open() {
        dlg = std::make_unique<CPrinterToolDlg>(services);
        ASSERT_TRUE(dlg->Create());
        window = ws.FindWindow(IDD_PRINTER_TOOL);
        ASSERT_NE(window, nullptr);
    }

    // Clicks Status with `script` playing the user of the status dialog;
    // true when the dialog ran.
    bool RunStatus(ui::HeadlessWindowSystem::ModalScript script) {
        const size_t runsBefore = ws.ModalRuns().size();
        ws.QueueModalScript(IDD_PRINTER_STATUS, std::move(script));
        window->Click(IDC_STATUS);
        return ws.ModalRuns().size() == runsBefore + 1 &&
               ws.ModalRuns().back() == IDD_PRINTER_STATUS;
    }

    // Events logged since `mark`.
    EventLog Since(size_t mark) const {
        return EventLog(events.begin() + static_cast<std::ptrdiff_t>(mark), events.end());
    }

    EventLog events;
    LoggingWindowSystem logWs{ws, events};
    LoggingLink logLink{link, events};
};

}  // namespace vorpane
