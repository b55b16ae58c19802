// Layout check: the main window, the status dialog and the About box built
// by the Win32 backend, side by side, with some content in them.
// Usage: vorpane_win32_demo [--quit-after MS]

#include "ui/win32/windows_api.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "app/main_dialog_template.h"
#include "status/status_dialog_template.h"
#include "ui/dialog.h"
#include "ui/win32/win32_window_system.h"

namespace {

using namespace vorpane;

// Paints like the percentage bar: two fills and the split-colour text (the
// bar itself is not part of the Windows build yet).
class DemoProgress : public ui::CustomControl {
public:
    explicit DemoProgress(ui::WindowSystem& ws)
        : m_bar(ws.GetSysColor(ui::SysColor::Highlight)),
          m_back(ws.GetSysColor(ui::SysColor::Window)) {}
    void OnPaint(ui::PaintSurface& s, const ui::Rect& r) override {
        const int barRight = r.left + r.Width() * 50 / 100;
        const ui::Rect bar{r.left, r.top, barRight, r.bottom};
        const ui::Rect rest{barRight, r.top, r.right, r.bottom};
        s.FillSolidRect(bar, m_bar);
        s.FillSolidRect(rest, m_back);
        s.SetClip(&bar);
        s.DrawCenteredText(r, "50%", m_back);
        s.SetClip(&rest);
        s.DrawCenteredText(r, "50%", m_bar);
        s.SetClip(nullptr);
    }
    void OnSize() override {}
    void OnSetText(const std::optional<std::string>&) override {}

private:
    ui::Color m_bar;
    ui::Color m_back;
};

void Place(HWND h, int x, int y) {
    SetWindowPos(h, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(h, SW_SHOWNOACTIVATE);
}

}  // namespace

int main(int argc, char** argv) {
    int quitAfter = -1;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--quit-after") == 0) {
            quitAfter = std::atoi(argv[i + 1]);
        }
    }
    win32::Win32WindowSystem ws;
    ui::CDialog main(MainDialogTemplate(), ws);
    ui::CDialog status(StatusDialogTemplate(), ws, &main);
    ui::CDialog about(AboutDialogTemplate(), ws, &main);
    if (!main.Create() || !status.Create() || !about.Create()) {
        return 1;
    }

    ui::Window* w = main.GetWindow();
    w->SetTitle("Vorpane V2.1");
    w->SetIcon(IDR_MAINFRAME);
    w->AppendSystemMenuSeparator();
    w->AppendSystemMenuItem(IDM_ABOUTBOX, "About Vorpane(&A)...");
    w->SetText(IDC_IP, "192.168.1.10");
    w->SetText(IDC_NEW_IP, "192.168.1.10");
    w->SetText(IDC_TIMEOUT, "1000");
    w->ComboAdd(IDC_PRINTER_LIST, "192.168.1.23");
    w->ComboAdd(IDC_PRINTER_LIST, "192.168.1.87");
    w->ComboSetCurSel(IDC_PRINTER_LIST, 0);
    w->SetText(IDC_PAYLOAD,
               "Date Time:26-12-06 09:05:03\n\n0123456789\nabcdefghijklmnopqrstuvwxyz\n"
               "ABCDEFGHIJKLMNOPQRSTUVWXYZ\n~!@#$%^&*()_+-={}[]|,./?';:\\\"\n\nQuillory\n\n");
    DemoProgress progress(ws);
    w->AttachCustomControl(IDC_PROGRESS, &progress);

    ui::Window* s = status.GetWindow();
    s->SetText(IDC_MONITOR, "End &Monitor");
    s->SetText(IDC_ONLINE_TEXT, "On-line");
    s->SetStaticIcon(IDC_ONLINE_LAMP, IDI_LAMP_GREEN);
    s->SetText(IDC_COVER_TEXT, "Cover is Open");
    s->SetStaticIcon(IDC_COVER_LAMP, IDI_LAMP_RED);
    s->SetStaticIcon(IDC_BUSY_LAMP, IDI_LAMP_GREEN);
    s->SetText(IDC_BUSY_TEXT, "Idle");

    const HWND mh = win32::Win32WindowSystem::HandleOf(w);
    const HWND sh = win32::Win32WindowSystem::HandleOf(s);
    const HWND ah = win32::Win32WindowSystem::HandleOf(about.GetWindow());
    Place(mh, 10, 10);
    RECT mr, sr;
    GetWindowRect(mh, &mr);
    Place(sh, mr.right + 20, 10);
    GetWindowRect(sh, &sr);
    Place(ah, mr.right + 20, sr.bottom + 20);
    SetForegroundWindow(mh);

    if (quitAfter >= 0) {
        SetTimer(nullptr, 0, static_cast<UINT>(quitAfter),
                 [](HWND, UINT, UINT_PTR, DWORD) { PostQuitMessage(0); });
    }
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        win32::Win32WindowSystem::DeliverMessage(msg);
        if (!IsWindowVisible(mh)) {
            break;
        }
    }
    return 0;
}
