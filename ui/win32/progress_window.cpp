#include "ui/win32/progress_window.h"

#include <memory>
#include <optional>
#include <string>

#include "ui/win32/dialog_resource.h"
#include "ui/win32/win32_text.h"

namespace vorpane::win32 {

namespace {

struct ProgressState {
    ui::CustomControl* control = nullptr;
    HFONT font = nullptr;
    int value = 0;
    int minimum = 0;
    int maximum = 100;
};

// The standard progress bar's procedure and extra bytes; ours follow them.
WNDPROC g_baseProc = nullptr;
int g_stateOffset = 0;

ProgressState* StateOf(HWND h) {
    return reinterpret_cast<ProgressState*>(GetWindowLongPtrW(h, g_stateOffset));
}

RECT ToRect(const ui::Rect& r) {
    return RECT{r.left, r.top, r.right, r.bottom};
}

void Paint(HWND h, const ProgressState& state) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(h, &ps);
    RECT client;
    GetClientRect(h, &client);
    {
        BufferedPaintSurface surface(dc, state.font);
        if (surface.Ready()) {
            state.control->OnPaint(surface,
                                   ui::Rect{client.left, client.top, client.right, client.bottom});
        }
    }
    EndPaint(h, &ps);
}

LRESULT CALLBACK ProgressProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
    ProgressState* state = StateOf(h);
    switch (msg) {
        case WM_NCCREATE: {
            auto owned = std::make_unique<ProgressState>();
            SetWindowLongPtrW(h, g_stateOffset, reinterpret_cast<LONG_PTR>(owned.release()));
            break;
        }
        case WM_NCDESTROY: {
            const LRESULT r = CallWindowProcW(g_baseProc, h, msg, w, l);
            std::unique_ptr<ProgressState> owned(state);
            SetWindowLongPtrW(h, g_stateOffset, 0);
            return r;
        }
        case WM_SETFONT:
            if (state != nullptr) {
                state->font = reinterpret_cast<HFONT>(w);
                if (LOWORD(l) != 0) {
                    InvalidateRect(h, nullptr, TRUE);
                }
            }
            return 0;
        case WM_GETFONT:
            return reinterpret_cast<LRESULT>(state != nullptr ? state->font : nullptr);
        case WM_ERASEBKGND:
            if (state != nullptr && state->control != nullptr) {
                return 1;  // the paint covers every pixel
            }
            break;
        case WM_PAINT:
            if (state != nullptr && state->control != nullptr) {
                Paint(h, *state);
                return 0;
            }
            break;
        case WM_SIZE: {
            const LRESULT r = CallWindowProcW(g_baseProc, h, msg, w, l);
            if (state != nullptr && state->control != nullptr) {
                state->control->OnSize();
            }
            return r;
        }
        case PBM_GETPOS:
            if (state != nullptr && state->control != nullptr) {
                return state->value;
            }
            break;
        case PBM_GETRANGE:
            if (state != nullptr && state->control != nullptr) {
                if (auto* range = reinterpret_cast<PBRANGE*>(l)) {
                    range->iLow = state->minimum;
                    range->iHigh = state->maximum;
                }
                return w != 0 ? state->minimum : state->maximum;
            }
            break;
        case WM_SETTEXT: {
            const LRESULT r = CallWindowProcW(g_baseProc, h, msg, w, l);
            if (state != nullptr && state->control != nullptr) {
                const auto* text = reinterpret_cast<const wchar_t*>(l);
                state->control->OnSetText(
                    text != nullptr ? std::optional(Narrow(text, wcslen(text))) : std::nullopt);
            }
            return r;
        }
        default:
            break;
    }
    return CallWindowProcW(g_baseProc, h, msg, w, l);
}

}  // namespace

bool RegisterProgressClass(HINSTANCE instance) {
    WNDCLASSEXW existing{};
    existing.cbSize = sizeof existing;
    if (GetClassInfoExW(instance, kProgressClassName, &existing)) {
        return true;
    }
    WNDCLASSEXW base{};
    base.cbSize = sizeof base;
    if (!GetClassInfoExW(nullptr, PROGRESS_CLASSW, &base)) {
        return false;
    }
    g_baseProc = base.lpfnWndProc;
    g_stateOffset = base.cbWndExtra;
    WNDCLASSEXW ours = base;
    ours.hInstance = instance;
    ours.lpszClassName = kProgressClassName;
    ours.lpfnWndProc = ProgressProc;
    ours.cbWndExtra = base.cbWndExtra + static_cast<int>(sizeof(LONG_PTR));
    // A class of ours is not global to the process like the system's.
    ours.style &= ~static_cast<UINT>(CS_GLOBALCLASS);
    return RegisterClassExW(&ours) != 0;
}

void AttachProgressControl(HWND window, ui::CustomControl* control) {
    if (ProgressState* state = StateOf(window)) {
        state->control = control;
        InvalidateRect(window, nullptr, TRUE);
    }
}

void SetProgressAccessibleValue(HWND window, int value, int minimum, int maximum) {
    ProgressState* state = StateOf(window);
    if (state == nullptr) {
        return;
    }
    const bool changed =
        state->value != value || state->minimum != minimum || state->maximum != maximum;
    state->value = value;
    state->minimum = minimum;
    state->maximum = maximum;
    if (changed) {
        NotifyWinEvent(EVENT_OBJECT_VALUECHANGE, window, OBJID_CLIENT, CHILDID_SELF);
    }
}

COLORREF ToColorRef(ui::Color c) {
    return RGB((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF);
}

ui::Color FromColorRef(COLORREF c) {
    return (static_cast<ui::Color>(GetRValue(c)) << 16) |
           (static_cast<ui::Color>(GetGValue(c)) << 8) | GetBValue(c);
}

BufferedPaintSurface::BufferedPaintSurface(HDC target, HFONT font) : m_target(target) {
    if (GetClipBox(target, &m_box) == ERROR || m_box.right <= m_box.left ||
        m_box.bottom <= m_box.top) {
        return;
    }
    m_dc = UniqueMemoryDc(CreateCompatibleDC(target));
    if (!m_dc) {
        return;
    }
    m_bitmap = UniqueBitmap(
        CreateCompatibleBitmap(target, m_box.right - m_box.left, m_box.bottom - m_box.top));
    if (!m_bitmap) {
        return;
    }
    m_previousBitmap = SelectObject(m_dc.get(), m_bitmap.get());
    // Drawing on the surface uses the target's coordinates.
    SetWindowOrgEx(m_dc.get(), m_box.left, m_box.top, nullptr);
    if (font != nullptr) {
        m_previousFont = SelectObject(m_dc.get(), font);
    }
}

BufferedPaintSurface::~BufferedPaintSurface() {
    if (!m_bitmap) {
        return;
    }
    SelectClipRgn(m_dc.get(), nullptr);
    BitBlt(m_target, m_box.left, m_box.top, m_box.right - m_box.left, m_box.bottom - m_box.top,
           m_dc.get(), m_box.left, m_box.top, SRCCOPY);
    if (m_previousFont != nullptr) {
        SelectObject(m_dc.get(), m_previousFont);
    }
    SelectObject(m_dc.get(), m_previousBitmap);
}

void BufferedPaintSurface::FillSolidRect(const ui::Rect& r, ui::Color c) {
    if (!Ready()) {
        return;
    }
    const RECT rc = ToRect(r);
    SetBkColor(m_dc.get(), ToColorRef(c));
    ExtTextOutW(m_dc.get(), 0, 0, ETO_OPAQUE, &rc, nullptr, 0, nullptr);
}

void BufferedPaintSurface::SetClip(const ui::Rect* r) {
    if (!Ready()) {
        return;
    }
    if (r == nullptr) {
        SelectClipRgn(m_dc.get(), nullptr);
        return;
    }
    // Clip regions are in device units, which the window origin shifts.
    POINT corners[2] = {{r->left, r->top}, {r->right, r->bottom}};
    LPtoDP(m_dc.get(), corners, 2);
    UniqueRegion region(CreateRectRgn(corners[0].x, corners[0].y, corners[1].x, corners[1].y));
    SelectClipRgn(m_dc.get(), region.get());
}

void BufferedPaintSurface::DrawCenteredText(const ui::Rect& r, const std::string& utf8,
                                            ui::Color c) {
    if (!Ready()) {
        return;
    }
    std::wstring text = Widen(utf8);
    RECT rc = ToRect(r);
    SetBkMode(m_dc.get(), TRANSPARENT);
    SetTextColor(m_dc.get(), ToColorRef(c));
    DrawTextW(m_dc.get(), text.data(), static_cast<int>(text.size()), &rc,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE);
}

}  // namespace vorpane::win32
