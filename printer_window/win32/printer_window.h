#pragma once
// The live window of vorpane-printer on Windows: the paper roll in a
// scrolling child window, a zoom choice, Save PNG and Clear, the printer's
// conditions as check boxes and a status line. What it shows is decided by
// the roll (printer_window/paper_roll.h); this is the drawing and the
// controls around it.

#include <windows.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/windows/unique_handle.h"
#include "printer_window/paper_roll.h"
#include "printer_window/window_model.h"
#include "virtual_printer/virtual_printer.h"

namespace vorpane::printer_window::win32 {

template <class Handle, auto Release>
using Owned = windows::UniqueHandle<Handle, Release>;

inline void DeleteGdiObject(HGDIOBJ h) {
    DeleteObject(h);
}
inline void DeleteMemoryDc(HDC h) {
    DeleteDC(h);
}
using OwnedFont = Owned<HFONT, DeleteGdiObject>;
using OwnedBitmap = Owned<HBITMAP, DeleteGdiObject>;
using OwnedBrush = Owned<HBRUSH, DeleteGdiObject>;
using OwnedMemoryDc = Owned<HDC, DeleteMemoryDc>;

// The way in from other threads: the serving thread's paper updates and the
// control lines' close. Made before the printer (it is the printer's
// watcher) and outlives the window.
class WindowMailbox {
public:
    // Any thread. Wakes the window when the inbox was empty.
    void Post(PaperUpdate update);
    // Any thread, before, while or after the window is there.
    void Close();

    // The window's thread.
    void Attach(HWND window);
    void Detach();
    std::vector<PaperUpdate> Take() { return m_inbox.Take(); }

    static constexpr UINT kPaperMessage = WM_APP + 1;

private:
    PaperInbox m_inbox;
    std::mutex m_mutex;
    HWND m_window = nullptr;
    bool m_closeRequested = false;
};

class PrinterWindow {
public:
    struct Created;
    // Makes the window, shown or not, for `printer`, which outlives it.
    static Created Create(VirtualPrinter& printer, WindowMailbox& mailbox, bool show);
    ~PrinterWindow();
    PrinterWindow(const PrinterWindow&) = delete;
    PrinterWindow& operator=(const PrinterWindow&) = delete;

    // Pumps messages until the window is closed.
    void Run();
    // Handles the messages that are waiting; false once the window is gone.
    bool Pump();

    HWND Frame() const { return m_frame; }
    HWND RollView() const { return m_roll; }
    HWND ZoomBox() const { return m_zoom; }
    HWND ClearButton() const { return m_clear; }
    HWND ConditionBox(size_t index) const { return m_conditions.at(index); }
    HWND StatusLine() const { return m_status; }
    const PaperRoll& Roll() const { return m_paper; }
    // The roll's row at the top of the view.
    int ScrollTop() const { return m_top; }
    // The roll's column at the left of the view.
    int ScrollLeft() const { return m_left; }
    // What Save PNG... does once the user picked `path` (UTF-8).
    PaperRoll::Saved SaveTo(const std::string& path) const { return m_paper.SavePng(path); }

private:
    PrinterWindow(VirtualPrinter& printer, WindowMailbox& mailbox, OwnedFont font, int labelHeight);
    static LRESULT CALLBACK FrameProc(HWND, UINT, WPARAM, LPARAM);
    static LRESULT CALLBACK RollProc(HWND, UINT, WPARAM, LPARAM);
    LRESULT OnFrame(UINT message, WPARAM w, LPARAM l);
    LRESULT OnRoll(UINT message, WPARAM w, LPARAM l);
    void MakeControls();
    void Arrange();
    void OnCommand(int id, int code);
    void TakePaper();
    void ShowConditions();
    void UpdateStatus();
    // After the roll or the view changed: the scroll bar, the top, a repaint.
    void Relayout();
    void ScrollTo(int top, bool byUser);
    void ScrollSideways(int left);
    void PaintRoll(HDC target);
    void SaveWithDialog();
    int ViewWidth() const;
    int ViewHeight() const;

    WindowModel m_model;
    WindowMailbox& m_mailbox;
    OwnedFont m_font;
    PaperRoll m_paper;
    int m_top = 0;
    int m_left = 0;
    HWND m_frame = nullptr;  // destroyed with this unless closed before; children go with it
    HWND m_roll = nullptr;
    HWND m_zoomLabel = nullptr;
    HWND m_zoom = nullptr;
    HWND m_conditionGroup = nullptr;
    HWND m_save = nullptr;
    HWND m_clear = nullptr;
    HWND m_status = nullptr;
    std::vector<HWND> m_conditions;
};

struct PrinterWindow::Created {
    std::unique_ptr<PrinterWindow> window;  // null on failure
    std::string error;
};

}  // namespace vorpane::printer_window::win32
