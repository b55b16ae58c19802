#pragma once
// One dialog window of the Win32 backend. Internal to the backend; reach it
// through Win32WindowSystem.

#include "ui/win32/windows_api.h"

#include <map>
#include <memory>

#include "ui/dialog_template.h"
#include "ui/win32/win32_handles.h"
#include "ui/window_system.h"

namespace vorpane::win32 {

class Win32WindowSystem;

class Win32Window final : public ui::Window {
public:
    // Null when the dialog manager could not build the window.
    static std::unique_ptr<Win32Window> Create(Win32WindowSystem& system,
                                               const ui::DialogTemplate& tmpl,
                                               ui::DialogEvents& events, HWND owner);
    ~Win32Window() override;
    Win32Window(const Win32Window&) = delete;
    Win32Window& operator=(const Win32Window&) = delete;

    // The window object of a dialog this backend made; null for any other.
    static Win32Window* FromHandle(HWND h);
    // Hands one message of the thread's queue on as a dialog's own loop
    // does: a key message of one of our dialogs passes that dialog's
    // PreTranslateMessage first, then its keyboard navigation; everything
    // else is translated and dispatched.
    static void DeliverMessage(const MSG& msg);

    HWND Handle() const { return m_hwnd; }
    HWND ControlHandle(int id) const;
    const ui::DialogTemplate& Template() const { return m_template; }
    // True while RunModal's loop runs.
    bool InModalRun() const { return m_life->running; }

    int RunModal() override;
    void EndDialog(int result) override;
    void SetTitle(const std::string& utf8) override;
    void SetIcon(int iconId) override;
    bool HasSystemMenu() override;
    void AppendSystemMenuSeparator() override;
    void AppendSystemMenuItem(uint32_t commandId, const std::string& utf8) override;
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
    void AttachCustomControl(int id, ui::CustomControl* control) override;
    ui::Rect ControlClientRect(int id) override;
    void RedrawControlNow(int id) override;
    void InvalidateControl(int id) override;
    void SetAccessibleValue(int id, int value, int minimum, int maximum,
                            const std::string& text) override;
    void SetTimer(int timerId, int periodMs) override;
    void KillTimer(int timerId) override;
    int MessageBox(const std::string& utf8, uint32_t style) override;

private:
    // What the modal loop and the dialog procedure still need when a
    // handler they called has destroyed this object.
    struct Life {
        bool alive = true;
        bool ended = false;
        bool running = false;
        int result = ui::kIdCancel;
        HWND disabledOwner = nullptr;
    };

    Win32Window(Win32WindowSystem& system, const ui::DialogTemplate& tmpl,
                ui::DialogEvents& events);
    static INT_PTR CALLBACK DialogProc(HWND h, UINT msg, WPARAM w, LPARAM l);
    void OnCommandMessage(int id, int code, HWND from);
    bool PreTranslate(const MSG& msg);
    int ControlIdOf(HWND h) const;
    HICON LoadIconOfSize(int iconId, int cx, int cy);
    template <class F>
    void Dispatch(F&& f);

    Win32WindowSystem& m_system;
    const ui::DialogTemplate& m_template;
    ui::DialogEvents* m_events;
    HWND m_hwnd = nullptr;
    std::shared_ptr<Life> m_life = std::make_shared<Life>();
    UniqueIcon m_bigIcon;
    UniqueIcon m_smallIcon;
    std::map<int, UniqueIcon> m_staticIconHandles;  // by icon ID
    std::map<int, int> m_staticIcons;               // control ID -> icon ID
};

}  // namespace vorpane::win32
