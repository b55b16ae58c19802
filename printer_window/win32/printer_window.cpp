#include "printer_window/win32/printer_window.h"

#include <commdlg.h>

#include <algorithm>
#include <cmath>
#include <optional>

#include "platform/windows/wide_text.h"

namespace vorpane::printer_window::win32 {
namespace {

constexpr wchar_t kFrameClass[] = L"VorpanePrinterWindow";
constexpr wchar_t kRollClass[] = L"VorpanePaperRoll";
constexpr int kZoomId = 100;
constexpr int kSaveId = 101;
constexpr int kClearId = 102;
constexpr int kFirstConditionId = 110;
constexpr UINT_PTR kConditionsTimer = 1;
constexpr int kPanelWidth = 200;
constexpr int kPad = 8;
constexpr int kWheelStep = 60;  // pixels a wheel notch scrolls
constexpr COLORREF Colour(uint32_t rgb) {
    return RGB(rgb >> 16 & 0xFF, rgb >> 8 & 0xFF, rgb & 0xFF);
}
constexpr COLORREF kBackground = Colour(kDeskColour);
constexpr COLORREF kLabelText = Colour(kLabelColour);

// A screen DC, for measuring text before any window exists.
class ScreenDc {
public:
    ScreenDc() : m_dc(GetDC(nullptr)) {}
    ~ScreenDc() {
        if (m_dc != nullptr) {
            ReleaseDC(nullptr, m_dc);
        }
    }
    ScreenDc(const ScreenDc&) = delete;
    ScreenDc& operator=(const ScreenDc&) = delete;
    HDC get() const { return m_dc; }

private:
    HDC m_dc;
};

// An object selected into a DC until the end of the scope.
class Selected {
public:
    Selected(HDC dc, HGDIOBJ object) : m_dc(dc), m_old(SelectObject(dc, object)) {}
    ~Selected() { SelectObject(m_dc, m_old); }
    Selected(const Selected&) = delete;
    Selected& operator=(const Selected&) = delete;

private:
    HDC m_dc;
    HGDIOBJ m_old;
};

class Painting {
public:
    explicit Painting(HWND window) : m_window(window) { BeginPaint(window, &m_paint); }
    ~Painting() { EndPaint(m_window, &m_paint); }
    Painting(const Painting&) = delete;
    Painting& operator=(const Painting&) = delete;
    HDC dc() const { return m_paint.hdc; }

private:
    HWND m_window;
    PAINTSTRUCT m_paint{};
};

std::wstring Wide(const std::string& utf8) {
    return windows::Utf8ToWide(utf8);
}

// The font of message boxes, which is what Windows shows its own text in.
OwnedFont MakeGuiFont() {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
        OwnedFont font(CreateFontIndirectW(&metrics.lfMessageFont));
        if (font) {
            return font;
        }
    }
    LOGFONTW fallback{};
    GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof fallback, &fallback);
    return OwnedFont(CreateFontIndirectW(&fallback));
}

int LineHeight(HFONT font) {
    const ScreenDc screen;
    const Selected selected(screen.get(), font);
    TEXTMETRICW metrics{};
    GetTextMetricsW(screen.get(), &metrics);
    return metrics.tmHeight + metrics.tmExternalLeading;
}

// Where a scroll bar's action moves `position`; nothing for the actions
// that do not move it. Up and left share their codes, as do down and right.
std::optional<int> ScrollBarTarget(HWND window, int bar, WPARAM w, int position) {
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_ALL;
    GetScrollInfo(window, bar, &info);
    switch (LOWORD(w)) {
        case SB_LINEUP:
            return position - kWheelStep / 2;
        case SB_LINEDOWN:
            return position + kWheelStep / 2;
        case SB_PAGEUP:
            return position - static_cast<int>(info.nPage);
        case SB_PAGEDOWN:
            return position + static_cast<int>(info.nPage);
        case SB_THUMBTRACK:
        case SB_THUMBPOSITION:
            return info.nTrackPos;
        case SB_TOP:
            return 0;
        case SB_BOTTOM:
            return info.nMax;
        default:
            return std::nullopt;
    }
}

bool RegisterClasses() {
    static const bool registered = [] {
        WNDCLASSEXW frame{};
        frame.cbSize = sizeof frame;
        frame.hInstance = GetModuleHandleW(nullptr);
        frame.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        frame.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
        frame.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        frame.lpszClassName = kFrameClass;
        frame.lpfnWndProc = DefWindowProcW;
        WNDCLASSEXW roll = frame;
        roll.hIcon = nullptr;
        roll.hbrBackground = nullptr;  // painted whole, without flicker
        roll.lpszClassName = kRollClass;
        return RegisterClassExW(&frame) != 0 && RegisterClassExW(&roll) != 0;
    }();
    return registered;
}

}  // namespace

void WindowMailbox::Post(PaperUpdate update) {
    if (!m_inbox.Post(std::move(update))) {
        return;  // a wake-up is on its way already
    }
    std::lock_guard lock(m_mutex);
    if (m_window != nullptr) {
        PostMessageW(m_window, kPaperMessage, 0, 0);
    }
}

void WindowMailbox::Close() {
    std::lock_guard lock(m_mutex);
    m_closeRequested = true;
    if (m_window != nullptr) {
        PostMessageW(m_window, WM_CLOSE, 0, 0);
    }
}

void WindowMailbox::Attach(HWND window) {
    std::lock_guard lock(m_mutex);
    m_window = window;
    // Updates posted before the window was there woke nobody.
    PostMessageW(window, kPaperMessage, 0, 0);
    if (m_closeRequested) {
        PostMessageW(window, WM_CLOSE, 0, 0);
    }
}

void WindowMailbox::Detach() {
    std::lock_guard lock(m_mutex);
    m_window = nullptr;
}

PrinterWindow::PrinterWindow(VirtualPrinter& printer, WindowMailbox& mailbox, OwnedFont font,
                             int labelHeight)
    : m_model(printer), m_mailbox(mailbox), m_font(std::move(font)), m_paper(labelHeight) {}

PrinterWindow::~PrinterWindow() {
    if (m_frame != nullptr) {
        DestroyWindow(m_frame);
    }
}

PrinterWindow::Created PrinterWindow::Create(VirtualPrinter& printer, WindowMailbox& mailbox,
                                             bool show) {
    if (!RegisterClasses()) {
        return {nullptr, "cannot register the window classes (error " +
                             std::to_string(GetLastError()) + ")"};
    }
    OwnedFont font = MakeGuiFont();
    const int labelHeight = LineHeight(font.get()) + 4;
    std::unique_ptr<PrinterWindow> window(
        new PrinterWindow(printer, mailbox, std::move(font), labelHeight));
    const std::wstring title = Wide(window->m_model.Title());
    HWND frame = CreateWindowExW(0, kFrameClass, title.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                 CW_USEDEFAULT, 900, 760, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    if (frame == nullptr) {
        return {nullptr, "cannot make the window (error " + std::to_string(GetLastError()) + ")"};
    }
    window->m_frame = frame;
    SetWindowLongPtrW(frame, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(window.get()));
    SetWindowLongPtrW(frame, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&FrameProc));
    window->MakeControls();
    window->ShowConditions();
    window->Arrange();
    SetTimer(frame, kConditionsTimer, static_cast<UINT>(WindowModel::kConditionPoll.count()),
             nullptr);
    mailbox.Attach(frame);
    if (show) {
        ShowWindow(frame, SW_SHOWNORMAL);
        UpdateWindow(frame);
    }
    return {std::move(window), {}};
}

void PrinterWindow::MakeControls() {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    const auto child = [&](const wchar_t* cls, const std::wstring& text, DWORD style, int id) {
        HWND h = CreateWindowExW(0, cls, text.c_str(), WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10,
                                 m_frame, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                 instance, nullptr);
        SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(m_font.get()), FALSE);
        return h;
    };
    m_roll = CreateWindowExW(WS_EX_CLIENTEDGE, kRollClass, L"",
                             WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL, 0, 0, 10, 10, m_frame,
                             nullptr, instance, nullptr);
    SetWindowLongPtrW(m_roll, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrW(m_roll, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&RollProc));
    using C = WindowCaptions;
    m_zoomLabel = child(L"STATIC", Wide(C::kZoom), SS_LEFT | SS_CENTERIMAGE, 0);
    m_zoom = child(L"COMBOBOX", L"", CBS_DROPDOWNLIST | WS_TABSTOP | WS_VSCROLL, kZoomId);
    for (const ZoomChoice& choice : ZoomChoices()) {
        const std::wstring caption = Wide(choice.caption);
        SendMessageW(m_zoom, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(caption.c_str()));
    }
    SendMessageW(m_zoom, CB_SETCURSEL, 0, 0);
    m_save = child(L"BUTTON", Wide(C::kSave), BS_PUSHBUTTON | WS_TABSTOP, kSaveId);
    m_clear = child(L"BUTTON", Wide(C::kClear), BS_PUSHBUTTON | WS_TABSTOP, kClearId);
    // Before its boxes, so that they are drawn over it.
    m_conditionGroup = child(L"BUTTON", Wide(C::kConditions), BS_GROUPBOX, 0);
    int id = kFirstConditionId;
    for (const printer_window::ConditionBox& box : ConditionBoxes()) {
        m_conditions.push_back(
            child(L"BUTTON", Wide(box.caption), BS_AUTOCHECKBOX | WS_TABSTOP, id++));
    }
    m_status = child(L"STATIC", L"", SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS, 0);
    // Always there, so that the view's width, and with it a fitting
    // zoom's height, does not change with the roll's length.
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_ALL | SIF_DISABLENOSCROLL;
    SetScrollInfo(m_roll, SB_VERT, &info, FALSE);
    // The sideways bar comes only while the paper is wider than the view.
    info.fMask = SIF_ALL;
    SetScrollInfo(m_roll, SB_HORZ, &info, FALSE);
    UpdateStatus();
}

void PrinterWindow::Arrange() {
    RECT client{};
    GetClientRect(m_frame, &client);
    const int line = LineHeight(m_font.get());
    const int statusHeight = line + 2 * 4;
    const int rollWidth = std::max(0, static_cast<int>(client.right) - kPanelWidth);
    const int rollHeight = std::max(0, static_cast<int>(client.bottom) - statusHeight);
    MoveWindow(m_roll, 0, 0, rollWidth, rollHeight, TRUE);
    MoveWindow(m_status, kPad, rollHeight + 4,
               std::max(0, static_cast<int>(client.right) - 2 * kPad), line, TRUE);
    const int x = rollWidth + kPad;
    const int width = kPanelWidth - 2 * kPad;
    const int rowHeight = line + 10;
    int y = kPad;
    const int zoomLabelWidth = 44;
    MoveWindow(m_zoomLabel, x, y, zoomLabelWidth, rowHeight, TRUE);
    MoveWindow(m_zoom, x + zoomLabelWidth, y, width - zoomLabelWidth, rowHeight * 6,
               TRUE);  // with its list open
    y += rowHeight + kPad;
    MoveWindow(m_save, x, y, width, rowHeight, TRUE);
    y += rowHeight + 4;
    MoveWindow(m_clear, x, y, width, rowHeight, TRUE);
    y += rowHeight + 2 * kPad;
    const int groupTop = y;
    y += line + 4;
    for (HWND box : m_conditions) {
        MoveWindow(box, x + kPad, y, width - 2 * kPad, line + 4, TRUE);
        y += line + 8;
    }
    MoveWindow(m_conditionGroup, x, groupTop, width, y - groupTop + kPad, TRUE);
}

void PrinterWindow::Run() {
    MSG message;
    while (m_frame != nullptr && GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!IsDialogMessageW(m_frame, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

bool PrinterWindow::Pump() {
    MSG message;
    while (m_frame != nullptr && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return m_frame != nullptr;
}

LRESULT CALLBACK PrinterWindow::FrameProc(HWND h, UINT message, WPARAM w, LPARAM l) {
    auto* self = reinterpret_cast<PrinterWindow*>(GetWindowLongPtrW(h, GWLP_USERDATA));
    return self != nullptr ? self->OnFrame(message, w, l) : DefWindowProcW(h, message, w, l);
}

LRESULT CALLBACK PrinterWindow::RollProc(HWND h, UINT message, WPARAM w, LPARAM l) {
    auto* self = reinterpret_cast<PrinterWindow*>(GetWindowLongPtrW(h, GWLP_USERDATA));
    return self != nullptr ? self->OnRoll(message, w, l) : DefWindowProcW(h, message, w, l);
}

LRESULT PrinterWindow::OnFrame(UINT message, WPARAM w, LPARAM l) {
    switch (message) {
        case WindowMailbox::kPaperMessage:
            TakePaper();
            return 0;
        case WM_TIMER:
            if (w == kConditionsTimer) {
                ShowConditions();
            }
            return 0;
        case WM_COMMAND:
            OnCommand(LOWORD(w), HIWORD(w));
            return 0;
        case WM_SIZE:
            Arrange();
            return 0;
        case WM_GETMINMAXINFO:
            reinterpret_cast<MINMAXINFO*>(l)->ptMinTrackSize = {kPanelWidth + 160, 420};
            return 0;
        case WM_MOUSEWHEEL:
        case WM_MOUSEHWHEEL:
            // The wheel goes to the focused control; the roll is what it scrolls.
            return SendMessageW(m_roll, message, w, l);
        case WM_DESTROY:
            m_mailbox.Detach();
            KillTimer(m_frame, kConditionsTimer);
            break;
        case WM_NCDESTROY: {
            HWND frame = m_frame;
            m_frame = nullptr;
            SetWindowLongPtrW(frame, GWLP_USERDATA, 0);
            return DefWindowProcW(frame, message, w, l);
        }
        default:
            break;
    }
    return DefWindowProcW(m_frame, message, w, l);
}

LRESULT PrinterWindow::OnRoll(UINT message, WPARAM w, LPARAM l) {
    switch (message) {
        case WM_PAINT: {
            const Painting painting(m_roll);
            PaintRoll(painting.dc());
            return 0;
        }
        case WM_PRINTCLIENT:
            PaintRoll(reinterpret_cast<HDC>(w));
            return 0;
        case WM_ERASEBKGND:
            return 1;
        case WM_SIZE:
            Relayout();
            return 0;
        case WM_MOUSEWHEEL: {
            const int notches = GET_WHEEL_DELTA_WPARAM(w) * kWheelStep / WHEEL_DELTA;
            if ((GET_KEYSTATE_WPARAM(w) & MK_SHIFT) != 0) {
                ScrollSideways(m_left - notches);
            } else {
                ScrollTo(m_top - notches, true);
            }
            return 0;
        }
        case WM_MOUSEHWHEEL:
            // A tilt to the right is a positive delta, unlike the upright wheel.
            ScrollSideways(m_left + GET_WHEEL_DELTA_WPARAM(w) * kWheelStep / WHEEL_DELTA);
            return 0;
        case WM_VSCROLL:
            if (const std::optional<int> top = ScrollBarTarget(m_roll, SB_VERT, w, m_top)) {
                ScrollTo(*top, true);
            }
            return 0;
        case WM_HSCROLL:
            if (const std::optional<int> left = ScrollBarTarget(m_roll, SB_HORZ, w, m_left)) {
                ScrollSideways(*left);
            }
            return 0;
        case WM_LBUTTONDOWN:
            SetFocus(m_roll);  // so the wheel comes here
            return 0;
        default:
            return DefWindowProcW(m_roll, message, w, l);
    }
}

void PrinterWindow::OnCommand(int id, int code) {
    if (id == kZoomId && code == CBN_SELCHANGE) {
        const LRESULT chosen = SendMessageW(m_zoom, CB_GETCURSEL, 0, 0);
        if (chosen >= 0 && static_cast<size_t>(chosen) < ZoomChoices().size()) {
            m_paper.SetZoom(ZoomChoices()[static_cast<size_t>(chosen)].zoom);
            Relayout();
        }
    } else if (id == kSaveId && code == BN_CLICKED) {
        SaveWithDialog();
    } else if (id == kClearId && code == BN_CLICKED) {
        m_paper.Clear();
        m_top = 0;
        Relayout();
    } else if (id >= kFirstConditionId &&
               id < kFirstConditionId + static_cast<int>(m_conditions.size()) &&
               code == BN_CLICKED) {
        const size_t index = static_cast<size_t>(id - kFirstConditionId);
        m_model.BoxClicked(index,
                           SendMessageW(m_conditions[index], BM_GETCHECK, 0, 0) == BST_CHECKED);
    }
}

void PrinterWindow::TakePaper() {
    if (m_paper.Apply(m_mailbox.Take())) {
        Relayout();
    }
}

void PrinterWindow::ShowConditions() {
    const std::optional<ConditionSet> conditions = m_model.ConditionsToShow();
    if (!conditions) {
        return;
    }
    for (size_t i = 0; i < m_conditions.size(); ++i) {
        const bool on = conditions->Has(ConditionBoxes()[i].condition);
        SendMessageW(m_conditions[i], BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
    }
}

void PrinterWindow::UpdateStatus() {
    SetWindowTextW(m_status, Wide(m_model.StatusLine(m_paper.Entries().size())).c_str());
}

int PrinterWindow::ViewWidth() const {
    RECT r{};
    GetClientRect(m_roll, &r);
    return r.right;
}

int PrinterWindow::ViewHeight() const {
    RECT r{};
    GetClientRect(m_roll, &r);
    return r.bottom;
}

void PrinterWindow::Relayout() {
    if (m_roll == nullptr) {
        return;
    }
    const int width = ViewWidth();
    const int across = m_paper.ContentWidth(width);
    m_left = std::clamp(m_left, 0, std::max(0, across - width));
    SCROLLINFO sideways{};
    sideways.cbSize = sizeof sideways;
    sideways.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
    sideways.nMax = std::max(0, across - 1);
    sideways.nPage = static_cast<UINT>(width);
    sideways.nPos = m_left;
    SetScrollInfo(m_roll, SB_HORZ, &sideways, TRUE);
    // Read after the sideways bar came or went, which changes the height
    // (and lays out again from within, through WM_SIZE).
    const int height = ViewHeight();
    const int content = m_paper.ContentHeight(width);
    m_top = m_paper.TopAfterChange(m_top, height, content);
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_DISABLENOSCROLL;
    info.nMin = 0;
    info.nMax = std::max(0, content - 1);
    info.nPage = static_cast<UINT>(height);
    info.nPos = m_top;
    SetScrollInfo(m_roll, SB_VERT, &info, TRUE);
    InvalidateRect(m_roll, nullptr, FALSE);
    UpdateStatus();
}

void PrinterWindow::ScrollTo(int top, bool byUser) {
    const int width = ViewWidth();
    const int height = ViewHeight();
    const int content = m_paper.ContentHeight(width);
    m_top = std::clamp(top, 0, std::max(0, content - height));
    if (byUser) {
        m_paper.UserScrolled(m_top, height, content);
    }
    SetScrollPos(m_roll, SB_VERT, m_top, TRUE);
    InvalidateRect(m_roll, nullptr, FALSE);
}

void PrinterWindow::ScrollSideways(int left) {
    const int width = ViewWidth();
    m_left = std::clamp(left, 0, std::max(0, m_paper.ContentWidth(width) - width));
    SetScrollPos(m_roll, SB_HORZ, m_left, TRUE);
    InvalidateRect(m_roll, nullptr, FALSE);
}

void PrinterWindow::PaintRoll(HDC target) {
    const int width = ViewWidth();
    const int height = ViewHeight();
    if (width <= 0 || height <= 0) {
        return;
    }
    // Drawn off screen and copied at once, so a roll that changes twenty
    // times a second does not flicker.
    const OwnedMemoryDc dc(CreateCompatibleDC(target));
    const OwnedBitmap bitmap(CreateCompatibleBitmap(target, width, height));
    if (!dc || !bitmap) {
        return;
    }
    const Selected selectedBitmap(dc.get(), bitmap.get());
    const Selected selectedFont(dc.get(), m_font.get());
    const OwnedBrush background(CreateSolidBrush(kBackground));
    const RECT all{0, 0, width, height};
    FillRect(dc.get(), &all, background.get());
    SetBkMode(dc.get(), TRANSPARENT);
    SetTextColor(dc.get(), kLabelText);

    const double scale = m_paper.Scale(width);
    SetStretchBltMode(dc.get(), scale < 1.0 ? HALFTONE : COLORONCOLOR);
    SetBrushOrgEx(dc.get(), 0, 0, nullptr);
    for (const Placement& at : m_paper.Visible(width, m_top, height)) {
        const RollEntry& entry = m_paper.Entries()[at.entry];
        const std::wstring label = Wide(entry.label);
        const int paperLeft = at.paperLeft - m_left;
        TextOutW(dc.get(), paperLeft, at.labelTop - m_top + 2, label.c_str(),
                 static_cast<int>(label.size()));
        const receipt::Picture& picture = entry.picture;
        if (picture.width <= 0 || picture.height <= 0) {
            continue;
        }
        // Only the picture's rows that meet the view go to GDI: a long
        // receipt at 2x is many times the screen's height.
        const double rowScale = static_cast<double>(at.height) / picture.height;
        const int firstShown = std::max(0, m_top - at.paperTop);
        const int endShown = std::min(at.height, m_top + height - at.paperTop);
        if (endShown <= firstShown) {
            continue;
        }
        const int firstRow =
            std::clamp(static_cast<int>(std::floor(firstShown / rowScale)), 0, picture.height - 1);
        const int endRow = std::clamp(static_cast<int>(std::ceil(endShown / rowScale)),
                                      firstRow + 1, picture.height);
        const int destTop = static_cast<int>(std::lround(firstRow * rowScale));
        const int destEnd = static_cast<int>(std::lround(endRow * rowScale));
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = picture.width;
        info.bmiHeader.biHeight = -(endRow - firstRow);  // top-down
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        // 0xFFRRGGBB in memory is B, G, R, A: a 32-bit DIB's own order.
        const uint32_t* rows =
            picture.pixels.data() + static_cast<size_t>(firstRow) * picture.width;
        StretchDIBits(dc.get(), paperLeft, at.paperTop - m_top + destTop, at.width,
                      destEnd - destTop, 0, 0, picture.width, endRow - firstRow, rows, &info,
                      DIB_RGB_COLORS, SRCCOPY);
    }
    BitBlt(target, 0, 0, width, height, dc.get(), 0, 0, SRCCOPY);
}

void PrinterWindow::SaveWithDialog() {
    using C = WindowCaptions;
    wchar_t path[4096] = {};
    const std::wstring name = Wide(C::kSaveName);
    name.copy(path, std::size(path) - 1);
    const std::wstring title = Wide(C::kSaveDialog);
    // The filter's name and pattern, each ended by a NUL, and a NUL after both.
    const std::wstring filter = Wide(C::kSaveFilter) + L" (*.png)" + L'\0' + L"*.png" + L'\0';
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = m_frame;
    dialog.lpstrFilter = filter.c_str();
    dialog.lpstrTitle = title.c_str();
    dialog.lpstrFile = path;
    dialog.nMaxFile = static_cast<DWORD>(std::size(path));
    dialog.lpstrDefExt = L"png";
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
    if (!GetSaveFileNameW(&dialog)) {
        return;
    }
    const PaperRoll::Saved saved = SaveTo(windows::WideToUtf8(path));
    if (!saved.ok) {
        MessageBoxW(m_frame, Wide(WindowModel::SaveFailed(saved.error)).c_str(),
                    Wide(C::kSaveFailedTitle).c_str(), MB_OK | MB_ICONWARNING);
    }
}

}  // namespace vorpane::printer_window::win32
