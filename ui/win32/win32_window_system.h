#pragma once
// The native Windows backend of the window-system seam: dialogs built by the
// dialog manager from in-memory templates, the common controls, message
// boxes, the open-file dialog and window timers. Build it on the thread that
// is to be the UI thread; that thread's message loops serve Invoke.

#include "ui/win32/windows_api.h"

#include <string>

#include "ui/win32/win32_handles.h"
#include "ui/window_system.h"

namespace vorpane::win32 {

class Win32WindowSystem : public ui::WindowSystem {
public:
    explicit Win32WindowSystem(std::string applicationName = "Vorpane");
    ~Win32WindowSystem() override;
    Win32WindowSystem(const Win32WindowSystem&) = delete;
    Win32WindowSystem& operator=(const Win32WindowSystem&) = delete;

    std::unique_ptr<ui::Window> CreateDialogWindow(const ui::DialogTemplate& tmpl,
                                                   ui::DialogEvents& events,
                                                   ui::Window* owner) override;
    std::string ApplicationName() override { return m_appName; }
    int MessageBox(const std::string& utf8, uint32_t style) override;
    std::optional<std::string> GetOpenFileName(ui::Window* owner,
                                               const ui::OpenFileRequest& request) override;
    ui::Color GetSysColor(ui::SysColor which) override;
    bool IsControlKeyDown() override;
    bool ApplySkin(const std::string& path) override;
    bool IsUiThread() override;
    void Invoke(const std::function<void()>& fn) override;
    void ServeUntil(const std::function<bool()>& done) override;

    // A message box over owner (may be null) with the application's name as
    // title; kIdOk or kIdCancel.
    int ShowMessageBox(HWND owner, const std::string& utf8, uint32_t style);

    // The module whose resources (icons) the dialogs load.
    HINSTANCE Instance() const { return m_instance; }

    // The dialog window of a window this backend made (null for any other),
    // and the window of its control `id`: for the application's start-up,
    // the demo and tests.
    static HWND HandleOf(ui::Window* window);
    static HWND ControlHandleOf(ui::Window* window, int id);

    // Hands one message on as a dialog's own modal loop does (the logic's
    // key filter first, then the dialog manager), for a message loop of the
    // caller's own.
    static void DeliverMessage(const MSG& msg);

private:
    static LRESULT CALLBACK InvokeProc(HWND h, UINT msg, WPARAM w, LPARAM l);

    std::string m_appName;
    DWORD m_uiThread;
    HINSTANCE m_instance;
    UniqueModule m_richEdit;
    // Message-only window of the UI thread that runs what workers send it.
    UniqueWindow m_invokeWindow;
};

}  // namespace vorpane::win32
