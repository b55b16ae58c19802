// The contract's driver for the Win32 backend: input is posted to the
// thread's queue as the keyboard and mouse would put it there and goes
// through the dialogs' own message path, and a thread timer, which ticks in
// whatever message loop runs, answers message boxes, file dialogs and modal
// runs as they come up.

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <map>
#include <set>

#include "ui/win32/win32_text.h"
#include "ui/win32/win32_window.h"
#include "ui/win32/win32_window_system.h"
#include "window_contract.h"

namespace vorpane::ui::contract {
namespace {

using win32::Win32Window;
using Clock = std::chrono::steady_clock;

constexpr UINT kWatchMs = 5;
constexpr auto kAnswerDeadline = std::chrono::seconds(10);
constexpr UINT kRunScript = WM_APP + 7;
// The message box's text and icon (Windows' number, then wine's), the file
// dialog's name box.
constexpr int kBoxText = 0xFFFF;
constexpr int kBoxIcons[] = {0x14, 0x440};
constexpr int kFileNameCombo = 0x47C;
constexpr int kFileNameEdit = 0x480;

LPARAM KeyParam(int vk, bool up) {
    LPARAM l =
        1 | (static_cast<LPARAM>(MapVirtualKeyW(static_cast<UINT>(vk), MAPVK_VK_TO_VSC)) << 16);
    return up ? l | (LPARAM{3} << 30) : l;
}

class Win32Driver : public Driver {
public:
    Win32Driver() {
        s_driver = this;
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = &Win32Driver::ScriptProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"VorpaneContractDriver";
        RegisterClassExW(&wc);
        m_scriptWindow = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                         nullptr, wc.hInstance, nullptr);
        m_watch = SetTimer(nullptr, 0, kWatchMs, &Win32Driver::WatchProc);
    }
    ~Win32Driver() override {
        KillTimer(nullptr, m_watch);
        DestroyWindow(m_scriptWindow);
        s_driver = nullptr;
    }

    WindowSystem& System() override { return m_ws; }

    void Show(Window& w) override {
        const HWND h = Handle(w);
        ShowWindow(h, SW_SHOW);
        SetForegroundWindow(h);
        SetActiveWindow(h);
        Pump();
    }
    std::string Title(Window& w) override { return win32::WindowText(Handle(w)); }

    void Click(Window& w, int id) override {
        const HWND c = Control(w, id);
        RECT rc;
        GetClientRect(c, &rc);
        MouseClick(c, rc.right / 2, rc.bottom / 2);
    }

    void QueueClick(Window& w, int id) override {
        const HWND c = Control(w, id);
        RECT rc;
        GetClientRect(c, &rc);
        const LPARAM at = MAKELPARAM(rc.right / 2, rc.bottom / 2);
        PostMessageW(c, WM_LBUTTONDOWN, MK_LBUTTON, at);
        PostMessageW(c, WM_LBUTTONUP, 0, at);
    }

    void Type(Window& w, int id, const std::string& utf8) override {
        const HWND c = Control(w, id);
        wchar_t cls[32] = {};
        GetClassNameW(c, cls, 32);
        const std::wstring text = win32::Widen(win32::ToWindowsLineEnds(utf8));
        if (lstrcmpiW(cls, L"RICHEDIT") == 0) {
            // As pasted over the whole text.
            SendMessageW(c, EM_SETSEL, 0, -1);
            SendMessageW(c, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text.c_str()));
            return;
        }
        // A user replacing an address clears its fields first; the control
        // then hands the focus to its first field.
        SendMessageW(c, IPM_CLEARADDRESS, 0, 0);
        SetFocus(c);
        HWND focus = GetFocus();
        SendMessageW(focus, EM_SETSEL, 0, -1);
        if (text.empty()) {
            Key(focus, VK_DELETE);
        }
        // Each character goes where the focus is at that moment, as typing
        // does: '.' moves on to the address control's next field.
        for (wchar_t ch : text) {
            PostMessageW(GetFocus(), WM_CHAR, ch, 1);
            Pump();
        }
    }

    void Select(Window& w, int id, int index) override {
        const HWND c = Control(w, id);
        SetFocus(c);
        for (int step = 0; step < 100; ++step) {
            const auto current = static_cast<int>(SendMessageW(c, CB_GETCURSEL, 0, 0));
            if (current == index) {
                return;
            }
            Key(c, current < index ? VK_DOWN : VK_UP);
        }
        ADD_FAILURE() << "could not pick item " << index << " of control " << id;
    }

    void Spin(Window& w, int id, int delta) override {
        const HWND c = Control(w, id);
        RECT rc;
        GetClientRect(c, &rc);
        // The upper arrow is the upper half of a vertical up-down control.
        MouseClick(c, rc.right / 2, delta < 0 ? rc.bottom / 4 : rc.bottom * 3 / 4);
    }

    void PressKey(Window& w, int focusId, int virtualKey, bool control) override {
        SetFocus(focusId != 0 ? Control(w, focusId) : Handle(w));
        const HWND target = GetFocus() != nullptr ? GetFocus() : Handle(w);
        if (control) {
            PostMessageW(target, WM_KEYDOWN, VK_CONTROL, KeyParam(VK_CONTROL, false));
            Pump();
            SetControlState(true);
        }
        Key(target, virtualKey);
        if (control) {
            SetControlState(false);
            PostMessageW(target, WM_KEYUP, VK_CONTROL, KeyParam(VK_CONTROL, true));
            Pump();
        }
    }

    void ChooseSystemMenu(Window& w, uint32_t commandId) override {
        const HWND h = Handle(w);
        HMENU menu = GetSystemMenu(h, FALSE);
        if (menu == nullptr ||
            GetMenuState(menu, commandId, MF_BYCOMMAND) == static_cast<UINT>(-1)) {
            ADD_FAILURE() << "no system-menu item " << commandId;
            return;
        }
        PostMessageW(h, WM_SYSCOMMAND, commandId, 0);
        Pump();
    }

    void CloseBox(Window& w) override {
        PostMessageW(Handle(w), WM_SYSCOMMAND, SC_CLOSE, 0);
        Pump();
    }

    void AnswerMessageBox(BoxAnswer answer, std::function<bool()> when) override {
        m_boxAnswers.push_back({answer, std::move(when)});
    }
    std::vector<SeenBox> SeenBoxes() override { return m_seen; }
    void AnswerFileDialog(std::optional<std::string> path) override {
        m_fileAnswers.push_back(std::move(path));
    }
    void WhenModal(int templateId, std::function<void(Window&)> script) override {
        m_scripts[templateId].push_back(std::move(script));
    }

    bool LetTimePass(int ms, const std::function<bool()>& until) override {
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (!(until && until())) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
            if (left.count() <= 0) {
                break;
            }
            MsgWaitForMultipleObjectsEx(0, nullptr,
                                        static_cast<DWORD>(std::min<long long>(left.count(), 5)),
                                        QS_ALLINPUT, MWMO_INPUTAVAILABLE);
            Pump();
        }
        return !until || until();
    }

private:
    struct BoxReply {
        BoxAnswer answer;
        std::function<bool()> when;
    };
    struct PendingScript {
        HWND dialog;
        std::function<void(Window&)> script;
    };

    static HWND Handle(Window& w) { return win32::Win32WindowSystem::HandleOf(&w); }
    static HWND Control(Window& w, int id) {
        const HWND c = win32::Win32WindowSystem::ControlHandleOf(&w, id);
        EXPECT_NE(c, nullptr) << "no control " << id;
        return c;
    }

    // Everything queued now, through the dialogs' own message path.
    static void Pump() {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            win32::Win32WindowSystem::DeliverMessage(msg);
        }
    }
    static void Key(HWND target, int vk) {
        PostMessageW(target, WM_KEYDOWN, static_cast<WPARAM>(vk), KeyParam(vk, false));
        Pump();
        PostMessageW(target, WM_KEYUP, static_cast<WPARAM>(vk), KeyParam(vk, true));
        Pump();
    }
    static void MouseClick(HWND target, int x, int y) {
        // A disabled window gets no mouse input from the system.
        if (!IsWindowEnabled(target) || !IsWindowVisible(target)) {
            return;
        }
        PostMessageW(target, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
        Pump();
        PostMessageW(target, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
        Pump();
    }
    // The thread's key state, as the keyboard would have left it.
    static void SetControlState(bool down) {
        BYTE keys[256];
        GetKeyboardState(keys);
        keys[VK_CONTROL] = down ? 0x80 : 0;
        keys[VK_LCONTROL] = keys[VK_CONTROL];
        SetKeyboardState(keys);
    }

    static void CALLBACK WatchProc(HWND, UINT, UINT_PTR, DWORD) {
        if (s_driver != nullptr) {
            s_driver->Watch();
        }
    }
    static LRESULT CALLBACK ScriptProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
        if (msg == kRunScript && s_driver != nullptr) {
            s_driver->RunScript();
            return 0;
        }
        return DefWindowProcW(h, msg, w, l);
    }

    // Every tick, in whatever loop runs: looks at the thread's windows.
    void Watch() {
        std::vector<HWND> windows;
        EnumThreadWindows(
            GetCurrentThreadId(),
            [](HWND h, LPARAM out) -> BOOL {
                if (IsWindowVisible(h)) {
                    reinterpret_cast<std::vector<HWND>*>(out)->push_back(h);
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&windows));
        for (HWND h : windows) {
            if (Win32Window* ours = Win32Window::FromHandle(h)) {
                if (ours->InModalRun()) {
                    WatchDialog(h, *ours);
                }
            } else if (GetDlgItem(h, kFileNameCombo) != nullptr ||
                       GetDlgItem(h, kFileNameEdit) != nullptr) {
                WatchFiles(h);
            } else if (GetDlgItem(h, kBoxText) != nullptr) {
                WatchBox(h);
            }
        }
    }

    void WatchBox(HWND box) {
        if (m_answered.count(box) != 0) {
            return;
        }
        if (m_box != box) {
            m_box = box;
            uint32_t style = IsWindowVisible(GetDlgItem(box, IDCANCEL)) ? kMbOkCancel : kMbOk;
            HWND iconControl = nullptr;
            for (int id : kBoxIcons) {
                iconControl = iconControl != nullptr ? iconControl : GetDlgItem(box, id);
            }
            const auto icon =
                reinterpret_cast<HICON>(iconControl != nullptr && IsWindowVisible(iconControl)
                                            ? SendMessageW(iconControl, STM_GETICON, 0, 0)
                                            : 0);
            if (icon != nullptr) {
                const std::pair<LPCWSTR, uint32_t> icons[] = {{IDI_HAND, kMbIconError},
                                                              {IDI_QUESTION, kMbIconQuestion},
                                                              {IDI_EXCLAMATION, kMbIconWarning},
                                                              {IDI_ASTERISK, kMbIconInformation}};
                for (const auto& [name, bits] : icons) {
                    if (LoadIconW(nullptr, name) == icon) {
                        style |= bits;
                    }
                }
            }
            m_seen.push_back({win32::WindowText(box), win32::WindowText(GetDlgItem(box, kBoxText)),
                              style, GetWindow(box, GW_OWNER) != nullptr});
            m_reply = BoxReply{BoxAnswer::Close, nullptr};
            if (!m_boxAnswers.empty()) {
                m_reply = std::move(m_boxAnswers.front());
                m_boxAnswers.pop_front();
            }
            m_boxDeadline = Clock::now() + kAnswerDeadline;
        }
        if (m_reply.when && !m_reply.when()) {
            if (Clock::now() < m_boxDeadline) {
                return;  // the box stays up meanwhile
            }
            ADD_FAILURE() << "box \"" << win32::WindowText(GetDlgItem(box, kBoxText))
                          << "\" waited in vain";
        }
        m_answered.insert(box);
        // Posted, so that the box's own loop carries it out after this tick.
        switch (m_reply.answer) {
            case BoxAnswer::Ok:
                PostMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
                break;
            case BoxAnswer::Cancel:
                PostMessageW(GetDlgItem(box, IDCANCEL), BM_CLICK, 0, 0);
                break;
            case BoxAnswer::Close: {
                const HWND focus = GetFocus() != nullptr ? GetFocus() : box;
                PostMessageW(focus, WM_KEYDOWN, VK_ESCAPE, KeyParam(VK_ESCAPE, false));
                PostMessageW(focus, WM_KEYUP, VK_ESCAPE, KeyParam(VK_ESCAPE, true));
                break;
            }
        }
    }

    void WatchFiles(HWND dialog) {
        // Tried again now and then until the dialog has taken the answer.
        auto& tries = m_fileTries[dialog];
        if (tries++ % 20 != 0) {
            return;
        }
        if (tries == 1) {
            m_fileAnswer.reset();
            if (!m_fileAnswers.empty()) {
                m_fileAnswer = std::move(m_fileAnswers.front());
                m_fileAnswers.pop_front();
            }
        }
        if (!m_fileAnswer) {
            PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
            return;
        }
        const int nameBox =
            GetDlgItem(dialog, kFileNameCombo) != nullptr ? kFileNameCombo : kFileNameEdit;
        SetDlgItemTextW(dialog, nameBox, win32::Widen(*m_fileAnswer).c_str());
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
    }

    void WatchDialog(HWND h, Win32Window& w) {
        if (!m_dialogs.insert(h).second) {
            return;
        }
        std::function<void(Window&)> script;
        auto& queue = m_scripts[w.Template().id];
        if (!queue.empty()) {
            script = std::move(queue.front());
            queue.pop_front();
        }
        // Outside the watcher's own tick, so that the watcher keeps
        // answering whatever the script brings up.
        m_pending.push_back({h, std::move(script)});
        PostMessageW(m_scriptWindow, kRunScript, 0, 0);
    }

    void RunScript() {
        if (m_pending.empty()) {
            return;
        }
        PendingScript next = std::move(m_pending.front());
        m_pending.pop_front();
        if (next.script) {
            if (Win32Window* w = Win32Window::FromHandle(next.dialog)) {
                next.script(*w);
            }
        }
        Win32Window* w = Win32Window::FromHandle(next.dialog);
        if (w != nullptr && w->InModalRun() && IsWindowVisible(next.dialog)) {
            SendMessageW(next.dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        }
    }

    static inline Win32Driver* s_driver = nullptr;

    win32::Win32WindowSystem m_ws;
    HWND m_scriptWindow = nullptr;
    UINT_PTR m_watch = 0;
    std::deque<BoxReply> m_boxAnswers;
    std::vector<SeenBox> m_seen;
    HWND m_box = nullptr;
    std::set<HWND> m_answered;
    BoxReply m_reply{BoxAnswer::Close, nullptr};
    Clock::time_point m_boxDeadline;
    std::deque<std::optional<std::string>> m_fileAnswers;
    std::map<HWND, int> m_fileTries;
    std::optional<std::string> m_fileAnswer;
    std::map<int, std::deque<std::function<void(Window&)>>> m_scripts;
    std::set<HWND> m_dialogs;
    std::deque<PendingScript> m_pending;
};

}  // namespace

std::unique_ptr<Driver> MakeDriver() {
    return std::make_unique<Win32Driver>();
}

}  // namespace vorpane::ui::contract
