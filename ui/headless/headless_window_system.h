#pragma once
// A window system without a screen, for tests. Controls live in memory; the
// test plays the user (Click, TypeText, Key, ...), answers message boxes and
// file dialogs from queues it filled, lets time pass on a clock of its own
// for the timers, and — as the UI thread — serves the requests that worker
// threads make through Invoke. Controls notify the logic the way the
// platform's controls do: setting the text of an edit box or an address
// control reports a change, setting anything else reports nothing.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ui/dialog_template.h"
#include "ui/window_system.h"

namespace vorpane::ui {

class HeadlessWindowSystem;

class HeadlessWindow : public Window {
public:
    HeadlessWindow(HeadlessWindowSystem& ws, const DialogTemplate& tmpl, DialogEvents& events);
    ~HeadlessWindow() override;

    // Window
    int RunModal() override;
    void EndDialog(int result) override;
    void SetTitle(const std::string& utf8) override { m_title = utf8; }
    void SetIcon(int iconId) override { m_iconId = iconId; }
    bool HasSystemMenu() override { return m_template.hasSystemMenu; }
    void AppendSystemMenuSeparator() override { m_systemMenu.push_back({0, ""}); }
    void AppendSystemMenuItem(uint32_t commandId, const std::string& utf8) override {
        m_systemMenu.push_back({commandId, utf8});
    }
    std::string GetText(int id) override;
    void SetText(int id, const std::string& utf8) override;
    void Enable(int id, bool enable) override;
    bool IsEnabled(int id) override;
    std::array<uint8_t, 4> GetIpOctets(int id) override;
    void ComboReset(int id) override;
    int ComboAdd(int id, const std::string& utf8) override;
    int ComboCount(int id) override;
    void ComboSetCurSel(int id, int index) override;
    int ComboGetCurSel(int id) override;
    std::string ComboItemText(int id, int index) override;
    int GetCheck(int id) override;
    void SetCheck(int id, int state) override;
    void SetStaticIcon(int id, int iconId) override;
    int GetStaticIcon(int id) override;
    void AttachCustomControl(int id, CustomControl* control) override;
    Rect ControlClientRect(int id) override;
    void RedrawControlNow(int id) override;
    void InvalidateControl(int id) override;
    void SetTimer(int timerId, int periodMs) override;
    void KillTimer(int timerId) override;
    int MessageBox(const std::string& utf8, uint32_t style) override;

    // What the test looks at.
    const DialogTemplate& Template() const { return m_template; }
    const std::string& Title() const { return m_title; }
    int IconId() const { return m_iconId; }
    struct MenuItem {
        uint32_t commandId;  // 0 for a separator
        std::string text;
    };
    const std::vector<MenuItem>& SystemMenu() const { return m_systemMenu; }
    std::optional<int> EndResult() const { return m_endResult; }
    bool TimerActive(int timerId) const { return m_timers.count(timerId) != 0; }
    int TimerPeriod(int timerId) const;
    // Every Enable call in order, as (control ID, enable).
    const std::vector<std::pair<int, bool>>& EnableLog() const { return m_enableLog; }
    void ClearEnableLog() { m_enableLog.clear(); }
    int RedrawCount(int id) const;
    int InvalidateCount(int id) const;
    void SetClientWidth(int id, int width);

    // What the test does as the user. Each one dispatches like the real
    // window would; a disabled control does not react.
    void Click(int id);
    void TypeText(int id, const std::string& utf8);  // replaces the text, notifies
    // A click still waiting in the input queue: LetTimePass delivers it,
    // ServeUntil leaves it there.
    void QueueClick(int id);
    void SelectItem(int id, int index);
    int Spin(int id, int delta);
    // Key down then up through the pre-translation; returns whether the
    // down was consumed. Enter, Esc and Space get the dialog's default
    // handling when not consumed.
    bool PressKey(int virtualKey, int focusId = 0, bool control = false);
    void FireTimer(int timerId);  // only an active timer ticks
    void ChooseSystemMenu(uint32_t commandId) { m_events.OnSysCommand(commandId); }
    // The close box: command 2, as Esc gives.
    void CloseBox() { m_events.OnCommand(kIdCancel, Notify::Clicked); }
    void SetBlankIp(int id);

private:
    friend class HeadlessWindowSystem;
    struct Control {
        const ControlTemplate* tmpl;
        std::string text;
        bool enabled = true;
        int check = 0;
        std::vector<std::string> items;
        int curSel = -1;
        int iconId = 0;
        std::array<std::optional<uint8_t>, 4> octets;
        CustomControl* custom = nullptr;
        int clientWidth = 0;
        int redraws = 0;
        int invalidates = 0;
        bool invalid = false;
    };
    struct Timer {
        int periodMs;
        int64_t dueMs;
    };
    Control& Get(int id);
    const Control& Get(int id) const;
    void Paint(int id);
    // Paints what was invalidated; fires the first timer due at or before
    // `nowMs`, returning whether one was.
    void PaintInvalidated();
    bool FireDueTimer(int64_t nowMs);
    std::optional<int64_t> NextDue() const;

    HeadlessWindowSystem& m_ws;
    const DialogTemplate& m_template;
    DialogEvents& m_events;
    std::map<int, Control> m_controls;
    std::string m_title;
    int m_iconId = 0;
    std::vector<MenuItem> m_systemMenu;
    std::map<int, Timer> m_timers;
    std::optional<int> m_endResult;
    std::vector<std::pair<int, bool>> m_enableLog;
};

class HeadlessWindowSystem : public WindowSystem {
public:
    HeadlessWindowSystem();
    ~HeadlessWindowSystem() override;

    // WindowSystem
    std::unique_ptr<Window> CreateDialogWindow(const DialogTemplate& tmpl, DialogEvents& events,
                                               Window* owner) override;
    std::string ApplicationName() override { return "Vorpane"; }
    int MessageBox(const std::string& utf8, uint32_t style) override;
    std::optional<std::string> GetOpenFileName(Window* owner,
                                               const OpenFileRequest& request) override;
    Color GetSysColor(SysColor which) override;
    bool IsControlKeyDown() override { return m_controlDown; }
    bool ApplySkin(const std::string& path) override;
    bool IsUiThread() override { return std::this_thread::get_id() == m_uiThread; }
    void Invoke(const std::function<void()>& fn) override;
    void ServeUntil(const std::function<bool()>& done) override;

    // Message boxes: answers are taken from the front of the queue. Answer
    // 0, like an empty queue, closes the box as Esc does: an OK-only box
    // answers OK and an OK/Cancel box Cancel. With `when`, the box stays up,
    // serving worker requests as a modal loop does, until when() holds (at
    // most ten seconds).
    struct ShownBox {
        std::string text;
        uint32_t style;
        int answer;
        bool owned;  // shown over a window
    };
    void QueueAnswer(int answer, std::function<bool()> when = nullptr) {
        m_answers.push_back({answer, std::move(when)});
    }
    const std::vector<ShownBox>& ShownBoxes() const { return m_shown; }
    void ClearShownBoxes() { m_shown.clear(); }

    // File dialogs: nullopt answers Cancel; an empty queue answers Cancel.
    void QueueFileAnswer(std::optional<std::string> path) { m_fileAnswers.push_back(path); }
    const std::vector<OpenFileRequest>& FileRequests() const { return m_fileRequests; }

    // Modal runs: a script queued for a template ID drives the next modal
    // run of that template; without one the run ends at once with Cancel.
    using ModalScript = std::function<void(HeadlessWindow&)>;
    void QueueModalScript(int templateId, ModalScript script);
    const std::vector<int>& ModalRuns() const { return m_modalRuns; }

    void SetControlKeyDown(bool down) { m_controlDown = down; }
    void SetSkinResult(bool applied) { m_skinResult = applied; }
    const std::vector<std::string>& SkinRequests() const { return m_skinRequests; }

    // Serves worker requests until done() or the deadline; false on timeout.
    bool ServeUntilFor(const std::function<bool()>& done, std::chrono::milliseconds deadline);
    // Moves the timers' clock on by up to `ms`, firing every tick that falls
    // due in order, serving requests and painting invalidated controls, and
    // stops early once until() holds. With nothing left due it still serves
    // worker requests for up to `ms` of real time while until() is false.
    // Returns until()'s last value (true without one).
    bool LetTimePass(int ms, const std::function<bool()>& until = nullptr);
    int64_t NowMs() const { return m_nowMs; }
    // Serves whatever requests are waiting now; returns how many ran.
    int ServePending();
    std::vector<HeadlessWindow*>& Windows() { return m_windows; }
    HeadlessWindow* FindWindow(int templateId);

private:
    friend class HeadlessWindow;
    struct Request {
        std::function<void()> fn;
        bool done = false;
    };
    std::thread::id m_uiThread;
    std::mutex m_mutex;
    std::condition_variable m_requestArrived;
    std::condition_variable m_requestDone;
    std::deque<Request*> m_requests;
    struct Answer {
        int answer;
        std::function<bool()> when;
    };
    int ShowBox(const std::string& utf8, uint32_t style, bool owned);
    void PaintAll();
    std::deque<Answer> m_answers;
    int64_t m_nowMs = 0;
    std::vector<ShownBox> m_shown;
    std::deque<std::optional<std::string>> m_fileAnswers;
    std::vector<OpenFileRequest> m_fileRequests;
    std::map<int, std::deque<ModalScript>> m_scripts;
    std::vector<int> m_modalRuns;
    bool m_controlDown = false;
    bool m_skinResult = false;
    std::vector<std::string> m_skinRequests;
    std::vector<HeadlessWindow*> m_windows;
    std::vector<std::pair<HeadlessWindow*, int>> m_queuedClicks;
};

}  // namespace vorpane::ui
