#pragma once
// The seam between the system's logic and a window system. The logic (the
// dialogs in app/, status/, ...) drives windows only through these
// interfaces; the Qt backend shows real widgets, the headless backend keeps
// controls in memory for tests. Everything here is called on the UI thread,
// except WindowSystem::Invoke, which exists to get there from a worker.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ui/geometry.h"

namespace vorpane::ui {

struct DialogTemplate;

// Message box style values, as the dialogs pass them.
enum MessageBoxStyle : uint32_t {
    kMbOk = 0x00,
    kMbOkCancel = 0x01,
    kMbIconError = 0x10,
    kMbIconQuestion = 0x20,
    kMbIconWarning = 0x30,
    kMbIconInformation = 0x40,
    kMbTypeMask = 0x0F,
    kMbIconMask = 0xF0,
};
// Message box results.
enum : int { kIdOk = 1, kIdCancel = 2 };

// Command notification codes a control reports.
enum class Notify {
    Clicked,    // button or check box pressed
    Changed,    // edit text changed by the user
    SelChange,  // drop-down list selection changed by the user
};

// Virtual key codes the key filter looks at.
enum : int { kVkReturn = 0x0D, kVkControl = 0x11, kVkEscape = 0x1B, kVkSpace = 0x20, kVkT = 0x54 };

// A keyboard message as the dialog's pre-translation sees it.
struct KeyMessage {
    enum class Kind { KeyDown, KeyUp };
    Kind kind = Kind::KeyDown;
    int virtualKey = 0;
    int controlId = 0;  // control with the focus; 0 for the dialog itself
};

// Standard colours a custom control asks for.
enum class SysColor { Highlight, Window };

// Drawing target of a custom control's paint; coordinates are the control's
// client coordinates. The backend buffers the drawing and shows it in one go.
class PaintSurface {
public:
    virtual ~PaintSurface() = default;
    virtual void FillSolidRect(const Rect& r, Color c) = 0;
    // Limits later drawing to r; nullptr removes the limit.
    virtual void SetClip(const Rect* r) = 0;
    // One line of text centred horizontally and vertically in r, drawn
    // transparently in the surface's default font.
    virtual void DrawCenteredText(const Rect& r, const std::string& utf8, Color c) = 0;
};

// A control whose painting and text the logic owns (the progress bar).
class CustomControl {
public:
    virtual ~CustomControl() = default;
    virtual void OnPaint(PaintSurface& surface, const Rect& client) = 0;
    virtual void OnSize() = 0;
    // The window text of the control was set (nullopt: set to nothing).
    virtual void OnSetText(const std::optional<std::string>& text) = 0;
};

// Callbacks from a dialog window into its logic. CDialog implements them
// with the dialog framework's defaults.
class DialogEvents {
public:
    virtual ~DialogEvents() = default;
    virtual bool OnInitDialog() = 0;
    virtual void OnCommand(int controlId, Notify code) = 0;
    // An up-down control proposes a change of position; the result is the
    // notification's result (0 lets the control move).
    virtual int OnDeltaPos(int controlId, int delta) = 0;
    virtual void OnTimer(int timerId) = 0;
    virtual void OnSysCommand(uint32_t commandId) = 0;
    // True when the message is consumed and must not reach the control.
    virtual bool PreTranslateMessage(const KeyMessage& msg) = 0;
    virtual void OnDestroy() = 0;
};

// One dialog window built from a template. Control operations name the
// control by its template ID.
class Window {
public:
    virtual ~Window() = default;

    // Runs the window modally until EndDialog; returns EndDialog's result.
    virtual int RunModal() = 0;
    virtual void EndDialog(int result) = 0;

    virtual void SetTitle(const std::string& utf8) = 0;
    virtual void SetIcon(int iconId) = 0;
    virtual bool HasSystemMenu() = 0;
    virtual void AppendSystemMenuSeparator() = 0;
    virtual void AppendSystemMenuItem(uint32_t commandId, const std::string& utf8) = 0;

    // Any control.
    virtual std::string GetText(int id) = 0;
    virtual void SetText(int id, const std::string& utf8) = 0;
    virtual void Enable(int id, bool enable) = 0;
    virtual bool IsEnabled(int id) = 0;

    // IPv4 address control: text is "%d.%d.%d.%d", a blank field reads as 0.
    virtual std::array<uint8_t, 4> GetIpOctets(int id) = 0;

    // Drop-down list.
    virtual void ComboReset(int id) = 0;
    virtual int ComboAdd(int id, const std::string& utf8) = 0;
    virtual int ComboCount(int id) = 0;
    virtual void ComboSetCurSel(int id, int index) = 0;
    virtual int ComboGetCurSel(int id) = 0;
    virtual std::string ComboItemText(int id, int index) = 0;

    // Check box: 0 clear, 1 ticked.
    virtual int GetCheck(int id) = 0;
    virtual void SetCheck(int id, int state) = 0;

    // Static icon control.
    virtual void SetStaticIcon(int id, int iconId) = 0;
    virtual int GetStaticIcon(int id) = 0;

    // Custom-drawn control (the control of that ID must be of class
    // Progress). The control must outlive the window or be detached.
    virtual void AttachCustomControl(int id, CustomControl* control) = 0;
    virtual Rect ControlClientRect(int id) = 0;
    virtual void RedrawControlNow(int id) = 0;
    virtual void InvalidateControl(int id) = 0;
    // What assistive technology reads from a custom control that shows a
    // value (the progress bar): its value, range and shown text. Backends
    // without accessibility ignore it.
    virtual void SetAccessibleValue(int /*id*/, int /*value*/, int /*minimum*/, int /*maximum*/,
                                    const std::string& /*text*/) {}

    // Window timers; a tick arrives as DialogEvents::OnTimer on the UI thread.
    virtual void SetTimer(int timerId, int periodMs) = 0;
    virtual void KillTimer(int timerId) = 0;

    // A message box owned by this window; returns kIdOk or kIdCancel.
    virtual int MessageBox(const std::string& utf8, uint32_t style) = 0;
};

struct OpenFileRequest {
    std::string title;  // empty: the platform's default title
    std::string filterName;
    std::string pattern;
};

class WindowSystem {
public:
    virtual ~WindowSystem() = default;

    // Builds a dialog from its template; owner may be null. No event reaches
    // `events` before the logic initialises the dialog.
    virtual std::unique_ptr<Window> CreateDialogWindow(const DialogTemplate& tmpl,
                                                       DialogEvents& events, Window* owner) = 0;

    // The application's name: the title of message boxes without a caption.
    virtual std::string ApplicationName() = 0;

    // An application-modal message box without an owner window.
    virtual int MessageBox(const std::string& utf8, uint32_t style) = 0;

    // The platform's open-file dialog for one file; nullopt when cancelled.
    virtual std::optional<std::string> GetOpenFileName(Window* owner,
                                                       const OpenFileRequest& request) = 0;

    virtual Color GetSysColor(SysColor which) = 0;
    virtual bool IsControlKeyDown() = 0;

    // Applies a skin file; false when it cannot be read or used. Never fatal.
    virtual bool ApplySkin(const std::string& path) = 0;

    virtual bool IsUiThread() = 0;
    // Runs fn on the UI thread and returns when it has run. Called on the
    // UI thread it runs fn at once. Calls from one thread run in order.
    virtual void Invoke(const std::function<void()>& fn) = 0;
    // On the UI thread: keeps serving Invoke requests and repainting, but
    // takes no user input, until done() is true.
    virtual void ServeUntil(const std::function<bool()>& done) = 0;
};

}  // namespace vorpane::ui
