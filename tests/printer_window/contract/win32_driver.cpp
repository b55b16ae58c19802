// The printer window's contract against the Win32 window, in-process under
// wine: input as the messages the controls and scroll bars send, the view
// read back through WM_PRINTCLIENT.

#include <algorithm>
#include <map>

#include "loopback_printer.h"
#include "platform/windows/wide_text.h"
#include "printer_window/win32/printer_window.h"
#include "printer_window_contract.h"

namespace vorpane::printer_window::contract {
namespace {

std::string TextOf(HWND window) {
    wchar_t text[512] = {};
    GetWindowTextW(window, text, static_cast<int>(std::size(text)));
    return windows::WideToUtf8(text);
}

// The roll view's paints, counted in a window procedure put before its own.
int g_paints = 0;
WNDPROC g_rollProc = nullptr;
LRESULT CALLBACK CountingProc(HWND h, UINT message, WPARAM w, LPARAM l) {
    g_paints += message == WM_PAINT;
    return CallWindowProcW(g_rollProc, h, message, w, l);
}

class Win32Driver : public Driver {
public:
    Win32Driver() {
        auto created = win32::PrinterWindow::Create(*m_printer, m_mailbox, false);
        EXPECT_TRUE(created.window) << created.error;
        m_window = std::move(created.window);
        g_paints = 0;
        g_rollProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
            m_window->RollView(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CountingProc)));
        ShowWindow(m_window->Frame(), SW_SHOWNORMAL);
        UpdateWindow(m_window->Frame());
    }
    ~Win32Driver() override {
        m_window.reset();
        m_printer->Stop();
    }
    VirtualPrinter& Printer() override { return *m_printer; }
    const PaperRoll& Roll() override { return m_window->Roll(); }
    bool Until(const std::function<bool()>& done, std::chrono::milliseconds limit) override {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (m_window->Pump()) {
            if (done()) {
                return true;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        }
        return false;
    }
    void Settle() override { m_window->Pump(); }

    Shown Show() override {
        RECT view{};
        GetClientRect(m_window->RollView(), &view);
        const auto range = [&](int bar) {
            SCROLLINFO info{sizeof info, SIF_ALL, 0, 0, 0, 0, 0};
            GetScrollInfo(m_window->RollView(), bar, &info);
            return std::max(0, info.nMax + 1 - static_cast<int>(info.nPage));
        };
        Shown s{TextOf(m_window->Frame()),
                TextOf(m_window->StatusLine()),
                {},
                {},
                {},
                view.right,
                view.bottom,
                m_window->ScrollTop(),
                range(SB_VERT),
                m_window->ScrollLeft(),
                range(SB_HORZ)};
        const LRESULT zooms = SendMessageW(m_window->ZoomBox(), CB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < zooms; ++i) {
            wchar_t text[64] = {};
            SendMessageW(m_window->ZoomBox(), CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
            s.zooms.push_back(windows::WideToUtf8(text));
        }
        for (HWND child = GetWindow(m_window->Frame(), GW_CHILD); child != nullptr;
             child = GetWindow(child, GW_HWNDNEXT)) {
            wchar_t name[32] = {};
            GetClassNameW(child, name, static_cast<int>(std::size(name)));
            if (child != m_window->StatusLine() &&
                (_wcsicmp(name, L"button") == 0 || _wcsicmp(name, L"static") == 0)) {
                s.captions.push_back(TextOf(child));
            }
        }
        for (size_t i = 0; i < ConditionBoxes().size(); ++i) {
            s.checked.push_back(SendMessageW(m_window->ConditionBox(i), BM_GETCHECK, 0, 0) ==
                                BST_CHECKED);
        }
        return s;
    }
    Shot Paint() override {
        RECT r{};
        GetClientRect(m_window->RollView(), &r);
        BITMAPINFO info{};
        info.bmiHeader = {sizeof info.bmiHeader, r.right, -r.bottom, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        void* bits = nullptr;
        const win32::OwnedMemoryDc dc(CreateCompatibleDC(nullptr));
        const win32::OwnedBitmap bitmap(
            CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
        const HGDIOBJ old = SelectObject(dc.get(), bitmap.get());
        SendMessageW(m_window->RollView(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc.get()),
                     PRF_CLIENT);
        GdiFlush();
        SelectObject(dc.get(), old);
        // A 32-bit DIB keeps B, G, R, A: 0xAARRGGBB as a word.
        const auto* pixels = static_cast<const uint32_t*>(bits);
        return {r.right, r.bottom, {pixels, pixels + size_t(r.right) * size_t(r.bottom)}};
    }
    int Repaints() override { return g_paints; }

    void Do(Act act, size_t index) override {
        // Leftwards with Shift and the upright wheel, rightwards by tilting
        // it: the two ways Windows scrolls sideways.
        static const std::map<Act, std::pair<UINT, WPARAM>> kToRoll = {
            {Act::kPageUp, {WM_VSCROLL, SB_PAGEUP}},
            {Act::kTop, {WM_VSCROLL, SB_TOP}},
            {Act::kEnd, {WM_VSCROLL, SB_BOTTOM}},
            {Act::kRightEnd, {WM_HSCROLL, SB_RIGHT}},
            {Act::kWheelLeft, {WM_MOUSEWHEEL, MAKEWPARAM(MK_SHIFT, WHEEL_DELTA)}},
            {Act::kWheelRight, {WM_MOUSEHWHEEL, MAKEWPARAM(0, WHEEL_DELTA)}}};
        const HWND zoom = m_window->ZoomBox();
        if (const auto sent = kToRoll.find(act); sent != kToRoll.end()) {
            SendMessageW(m_window->RollView(), sent->second.first, sent->second.second, 0);
        } else if (act == Act::kZoom) {
            SendMessageW(zoom, CB_SETCURSEL, index, 0);
            SendMessageW(m_window->Frame(), WM_COMMAND,
                         MAKEWPARAM(GetDlgCtrlID(zoom), CBN_SELCHANGE),
                         reinterpret_cast<LPARAM>(zoom));
        } else {
            const HWND button =
                act == Act::kBox ? m_window->ConditionBox(index) : m_window->ClearButton();
            SendMessageW(button, BM_CLICK, 0, 0);
        }
    }
    void Resize(int width, int height) override {
        SetWindowPos(m_window->Frame(), nullptr, 0, 0, width, height, SWP_NOZORDER | SWP_NOMOVE);
        Settle();
    }
    std::string SaveTo(const std::string& path) override {
        const PaperRoll::Saved saved = m_window->SaveTo(path);
        return saved.ok ? std::string() : saved.error;
    }

private:
    win32::WindowMailbox m_mailbox;
    std::unique_ptr<VirtualPrinter> m_printer =
        StartLoopbackPrinter([this](VirtualPrinterConfig& c) {
            c.paperWatcher = [this](PaperUpdate u) { m_mailbox.Post(std::move(u)); };
        });
    std::unique_ptr<win32::PrinterWindow> m_window;
};

}  // namespace

std::unique_ptr<Driver> MakeDriver() {
    return std::make_unique<Win32Driver>();
}

}  // namespace vorpane::printer_window::contract
