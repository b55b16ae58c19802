#include "ui/win32/win32_window.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "platform/ipv4_address.h"
#include "ui/win32/dialog_resource.h"
#include "ui/win32/progress_window.h"
#include "ui/win32/win32_text.h"
#include "ui/win32/win32_window_system.h"

namespace vorpane::win32 {

namespace {

using ui::ControlClass;

// Names the window object on its dialog window, for FromHandle.
constexpr const wchar_t* kWindowProperty = L"Vorpane.Win32Window";

// The address control's four field edits, left to right.
std::vector<HWND> AddressFields(HWND control) {
    std::vector<HWND> fields;
    for (HWND c = GetWindow(control, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
        fields.push_back(c);
    }
    std::sort(fields.begin(), fields.end(), [](HWND a, HWND b) {
        RECT ra, rb;
        GetWindowRect(a, &ra);
        GetWindowRect(b, &rb);
        return ra.left < rb.left;
    });
    return fields;
}

}  // namespace

std::unique_ptr<Win32Window> Win32Window::Create(Win32WindowSystem& system,
                                                 const ui::DialogTemplate& tmpl,
                                                 ui::DialogEvents& events, HWND owner) {
    std::unique_ptr<Win32Window> window(new Win32Window(system, tmpl, events));
    const DialogResource resource(tmpl);
    // WM_INITDIALOG stores the window's handle in it; the logic's own
    // initialisation follows once this returns.
    const HWND h = CreateDialogIndirectParamW(system.Instance(), resource.get(), owner,
                                              &Win32Window::DialogProc,
                                              reinterpret_cast<LPARAM>(window.get()));
    if (h == nullptr) {
        return nullptr;
    }
    return window;
}

Win32Window::Win32Window(Win32WindowSystem& system, const ui::DialogTemplate& tmpl,
                         ui::DialogEvents& events)
    : m_system(system), m_template(tmpl), m_events(&events) {
    for (const auto& c : tmpl.controls) {
        if (c.cls == ControlClass::Icon && c.id != ui::kStaticId) {
            m_staticIcons[c.id] = c.iconId;
        }
    }
}

Win32Window::~Win32Window() {
    m_events = nullptr;
    m_life->alive = false;
    if (m_life->disabledOwner != nullptr) {
        EnableWindow(m_life->disabledOwner, TRUE);
        m_life->disabledOwner = nullptr;
    }
    if (m_hwnd != nullptr) {
        SetWindowLongPtrW(m_hwnd, DWLP_USER, 0);
        RemovePropW(m_hwnd, kWindowProperty);
        for (const auto& c : m_template.controls) {
            if (c.cls == ControlClass::ProgressBar) {
                AttachProgressControl(ControlHandle(c.id), nullptr);
            }
        }
        DestroyWindow(m_hwnd);
        m_hwnd = nullptr;
    }
    // The icons go after the window that showed them.
}

Win32Window* Win32Window::FromHandle(HWND h) {
    return h != nullptr ? static_cast<Win32Window*>(GetPropW(h, kWindowProperty)) : nullptr;
}

void Win32Window::DeliverMessage(const MSG& msg) {
    const HWND root = msg.hwnd != nullptr ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    if (Win32Window* w = FromHandle(root)) {
        if (w->PreTranslate(msg)) {
            return;
        }
        // The window may be gone now; the dialog manager copes with that.
        if (IsDialogMessageW(root, const_cast<MSG*>(&msg))) {
            return;
        }
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
}

HWND Win32Window::ControlHandle(int id) const {
    return m_hwnd != nullptr ? GetDlgItem(m_hwnd, id) : nullptr;
}

template <class F>
void Win32Window::Dispatch(F&& f) {
    if (m_events == nullptr) {
        return;
    }
    // The handler may destroy this window object; nothing of it is touched
    // after the call.
    f(*m_events);
}

INT_PTR CALLBACK Win32Window::DialogProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
    if (msg == WM_INITDIALOG) {
        auto* self = reinterpret_cast<Win32Window*>(l);
        self->m_hwnd = h;
        SetWindowLongPtrW(h, DWLP_USER, l);
        SetPropW(h, kWindowProperty, self);
        return TRUE;  // the first tab stop takes the focus
    }
    auto* self = reinterpret_cast<Win32Window*>(GetWindowLongPtrW(h, DWLP_USER));
    if (self == nullptr) {
        return FALSE;
    }
    switch (msg) {
        case WM_COMMAND:
            self->OnCommandMessage(LOWORD(w), HIWORD(w), reinterpret_cast<HWND>(l));
            return TRUE;
        case WM_NOTIFY: {
            const auto* hdr = reinterpret_cast<const NMHDR*>(l);
            if (hdr->code != static_cast<UINT>(UDN_DELTAPOS)) {
                return FALSE;
            }
            const auto* change = reinterpret_cast<const NMUPDOWN*>(l);
            const int id = static_cast<int>(hdr->idFrom);
            int result = 0;
            self->Dispatch([&](ui::DialogEvents& e) { result = e.OnDeltaPos(id, change->iDelta); });
            SetWindowLongPtrW(h, DWLP_MSGRESULT, result);
            return TRUE;
        }
        case WM_TIMER: {
            const int id = static_cast<int>(w);
            self->Dispatch([id](ui::DialogEvents& e) { e.OnTimer(id); });
            return TRUE;
        }
        case WM_SYSCOMMAND:
            // Items the logic appended; the system's own (move, close, ...)
            // get the default handling.
            if ((w & 0xFFF0) < SC_SIZE) {
                const auto command = static_cast<uint32_t>(w);
                self->Dispatch([command](ui::DialogEvents& e) { e.OnSysCommand(command); });
                return TRUE;
            }
            return FALSE;
        case WM_QUERYDRAGICON:
            return reinterpret_cast<INT_PTR>(self->m_bigIcon.get());
        case WM_NCDESTROY:
            // Destroyed with its owner: nothing of it is left to touch.
            self->m_hwnd = nullptr;
            SetWindowLongPtrW(h, DWLP_USER, 0);
            RemovePropW(h, kWindowProperty);
            return FALSE;
        default:
            return FALSE;
    }
}

void Win32Window::OnCommandMessage(int id, int code, HWND from) {
    std::optional<ui::Notify> notify;
    const ui::ControlTemplate* c = m_template.Find(id);
    if (from == nullptr || c == nullptr) {
        // Enter and Esc through the dialog manager, the close box, or a
        // command without a control of its own.
        if (code == BN_CLICKED) {
            notify = ui::Notify::Clicked;
        }
    } else {
        switch (c->cls) {
            case ControlClass::PushButton:
            case ControlClass::CheckBox:
                if (code == BN_CLICKED) {
                    notify = ui::Notify::Clicked;
                }
                break;
            case ControlClass::Edit:
            case ControlClass::RichEdit:
            case ControlClass::IpAddress:
                if (code == EN_CHANGE) {
                    notify = ui::Notify::Changed;
                }
                break;
            case ControlClass::ComboBox:
                if (code == CBN_SELCHANGE) {
                    notify = ui::Notify::SelChange;
                }
                break;
            default:
                break;
        }
    }
    if (notify) {
        const ui::Notify n = *notify;
        Dispatch([id, n](ui::DialogEvents& e) { e.OnCommand(id, n); });
    }
}

int Win32Window::ControlIdOf(HWND h) const {
    // The focus may sit in a part of a control (a field of the address
    // control): the control is the ancestor whose parent is the dialog.
    while (h != nullptr && h != m_hwnd) {
        const HWND parent = GetParent(h);
        if (parent == m_hwnd) {
            const int id = GetDlgCtrlID(h);
            return id == ui::kStaticId ? 0 : id;
        }
        h = parent;
    }
    return 0;
}

bool Win32Window::PreTranslate(const MSG& msg) {
    if (msg.message != WM_KEYDOWN && msg.message != WM_KEYUP) {
        return false;
    }
    if (msg.hwnd != m_hwnd && !IsChild(m_hwnd, msg.hwnd)) {
        return false;
    }
    const ui::KeyMessage key{
        msg.message == WM_KEYDOWN ? ui::KeyMessage::Kind::KeyDown : ui::KeyMessage::Kind::KeyUp,
        static_cast<int>(msg.wParam), ControlIdOf(msg.hwnd)};
    bool consumed = false;
    Dispatch([&](ui::DialogEvents& e) { consumed = e.PreTranslateMessage(key); });
    return consumed;
}

int Win32Window::RunModal() {
    const std::shared_ptr<Life> life = m_life;
    const HWND dialog = m_hwnd;
    if (!life->ended && dialog != nullptr) {
        const HWND owner = GetWindow(dialog, GW_OWNER);
        if (owner != nullptr && IsWindowEnabled(owner)) {
            EnableWindow(owner, FALSE);
            life->disabledOwner = owner;
        }
        ShowWindow(dialog, SW_SHOWNORMAL);
        SetForegroundWindow(dialog);
        // The dialog's own loop: the logic sees every key message of the
        // dialog and its controls before the dialog manager does.
        life->running = true;
        MSG msg;
        while (life->alive && !life->ended && m_hwnd != nullptr) {
            const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
            if (got == -1) {
                break;
            }
            if (got == 0) {
                // Leave the quit message to the loop that owns the thread.
                PostQuitMessage(static_cast<int>(msg.wParam));
                break;
            }
            DeliverMessage(msg);
        }
        life->running = false;
        if (!life->alive) {
            return life->result;
        }
        if (!life->ended) {
            EndDialog(ui::kIdCancel);
        }
    }
    life->ended = false;
    return life->result;
}

void Win32Window::EndDialog(int result) {
    m_life->result = result;
    m_life->ended = true;
    // As the dialog manager does it: the owner is enabled again before the
    // dialog hides, so that the owner becomes the active window.
    if (m_life->disabledOwner != nullptr) {
        EnableWindow(m_life->disabledOwner, TRUE);
        m_life->disabledOwner = nullptr;
    }
    if (m_hwnd != nullptr) {
        ShowWindow(m_hwnd, SW_HIDE);
        PostMessageW(m_hwnd, WM_NULL, 0, 0);  // wakes the modal loop
    }
}

void Win32Window::SetTitle(const std::string& utf8) {
    SetWindowTextW(m_hwnd, Widen(utf8).c_str());
}

HICON Win32Window::LoadIconOfSize(int iconId, int cx, int cy) {
    return static_cast<HICON>(LoadImageW(m_system.Instance(), MAKEINTRESOURCEW(iconId), IMAGE_ICON,
                                         cx, cy, LR_DEFAULTCOLOR));
}

void Win32Window::SetIcon(int iconId) {
    UniqueIcon big(
        LoadIconOfSize(iconId, GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON)));
    UniqueIcon small(
        LoadIconOfSize(iconId, GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON)));
    SendMessageW(m_hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big.get()));
    SendMessageW(m_hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small.get()));
    m_bigIcon = std::move(big);
    m_smallIcon = std::move(small);
}

bool Win32Window::HasSystemMenu() {
    return m_hwnd != nullptr && (GetWindowLongPtrW(m_hwnd, GWL_STYLE) & WS_SYSMENU) != 0;
}

void Win32Window::AppendSystemMenuSeparator() {
    if (HMENU menu = GetSystemMenu(m_hwnd, FALSE)) {
        AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    }
}

void Win32Window::AppendSystemMenuItem(uint32_t commandId, const std::string& utf8) {
    if (HMENU menu = GetSystemMenu(m_hwnd, FALSE)) {
        AppendMenuW(menu, MF_STRING, commandId, Widen(utf8).c_str());
    }
}

std::string Win32Window::GetText(int id) {
    const ui::ControlTemplate* c = m_template.Find(id);
    const HWND h = ControlHandle(id);
    if (c == nullptr || h == nullptr) {
        return {};
    }
    switch (c->cls) {
        case ControlClass::IpAddress:
            return Ipv4Address::FromOctets(GetIpOctets(id)).Text();
        case ControlClass::ComboBox:
            return ComboItemText(id, ComboGetCurSel(id));
        case ControlClass::Edit:
        case ControlClass::RichEdit:
            return FromWindowsLineEnds(WindowText(h));
        default:
            return WindowText(h);
    }
}

void Win32Window::SetText(int id, const std::string& utf8) {
    const ui::ControlTemplate* c = m_template.Find(id);
    const HWND h = ControlHandle(id);
    if (c == nullptr || h == nullptr) {
        return;
    }
    switch (c->cls) {
        case ControlClass::IpAddress: {
            const auto octets = AddressControlFields(utf8);
            if (std::all_of(octets.begin(), octets.end(), [](auto o) { return o.has_value(); })) {
                SendMessageW(h, IPM_SETADDRESS, 0,
                             MAKEIPADDRESS(*octets[0], *octets[1], *octets[2], *octets[3]));
                return;
            }
            SendMessageW(h, IPM_CLEARADDRESS, 0, 0);
            const std::vector<HWND> fields = AddressFields(h);
            for (size_t i = 0; i < octets.size() && i < fields.size(); ++i) {
                if (octets[i]) {
                    SetWindowTextW(fields[i], std::to_wstring(*octets[i]).c_str());
                }
            }
            return;
        }
        case ControlClass::ComboBox: {
            // A drop-down list has no text of its own: the item of exactly
            // that text becomes the selection.
            const int n = ComboCount(id);
            for (int i = 0; i < n; ++i) {
                if (ComboItemText(id, i) == utf8) {
                    ComboSetCurSel(id, i);
                    return;
                }
            }
            return;
        }
        case ControlClass::Edit:
        case ControlClass::RichEdit:
            SetWindowTextW(h, Widen(ToWindowsLineEnds(utf8)).c_str());
            return;
        default:
            SetWindowTextW(h, Widen(utf8).c_str());
            return;
    }
}

void Win32Window::Enable(int id, bool enable) {
    if (HWND h = ControlHandle(id)) {
        EnableWindow(h, enable ? TRUE : FALSE);
    }
}

bool Win32Window::IsEnabled(int id) {
    HWND h = ControlHandle(id);
    return h != nullptr && IsWindowEnabled(h);
}

std::array<uint8_t, 4> Win32Window::GetIpOctets(int id) {
    DWORD address = 0;
    if (HWND h = ControlHandle(id)) {
        // Blank fields read as 0.
        SendMessageW(h, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address));
    }
    return {static_cast<uint8_t>(FIRST_IPADDRESS(address)),
            static_cast<uint8_t>(SECOND_IPADDRESS(address)),
            static_cast<uint8_t>(THIRD_IPADDRESS(address)),
            static_cast<uint8_t>(FOURTH_IPADDRESS(address))};
}

void Win32Window::ComboReset(int id) {
    SendDlgItemMessageW(m_hwnd, id, CB_RESETCONTENT, 0, 0);
}

int Win32Window::ComboAdd(int id, const std::string& utf8) {
    const std::wstring text = Widen(utf8);
    const LRESULT r =
        SendDlgItemMessageW(m_hwnd, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    return r < 0 ? -1 : static_cast<int>(r);
}

int Win32Window::ComboCount(int id) {
    const LRESULT r = SendDlgItemMessageW(m_hwnd, id, CB_GETCOUNT, 0, 0);
    return r < 0 ? 0 : static_cast<int>(r);
}

void Win32Window::ComboSetCurSel(int id, int index) {
    // An index past the list clears the selection, as documented; not every
    // implementation of the list does so by itself.
    const bool inList = index >= 0 && index < ComboCount(id);
    SendDlgItemMessageW(m_hwnd, id, CB_SETCURSEL, static_cast<WPARAM>(inList ? index : -1), 0);
}

int Win32Window::ComboGetCurSel(int id) {
    const LRESULT r = SendDlgItemMessageW(m_hwnd, id, CB_GETCURSEL, 0, 0);
    return r < 0 ? -1 : static_cast<int>(r);
}

std::string Win32Window::ComboItemText(int id, int index) {
    if (index < 0) {
        return {};
    }
    const LRESULT n = SendDlgItemMessageW(m_hwnd, id, CB_GETLBTEXTLEN, index, 0);
    if (n <= 0) {
        return {};
    }
    std::wstring buf(static_cast<size_t>(n) + 1, L'\0');
    const LRESULT got =
        SendDlgItemMessageW(m_hwnd, id, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(buf.data()));
    return got < 0 ? std::string() : Narrow(buf.data(), static_cast<size_t>(got));
}

int Win32Window::GetCheck(int id) {
    return SendDlgItemMessageW(m_hwnd, id, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
}

void Win32Window::SetCheck(int id, int state) {
    SendDlgItemMessageW(m_hwnd, id, BM_SETCHECK, state != 0 ? BST_CHECKED : BST_UNCHECKED, 0);
}

void Win32Window::SetStaticIcon(int id, int iconId) {
    const HWND h = ControlHandle(id);
    if (h == nullptr) {
        return;
    }
    auto& owned = m_staticIconHandles[iconId];
    if (!owned) {
        owned = UniqueIcon(
            LoadIconOfSize(iconId, GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON)));
    }
    SendMessageW(h, STM_SETICON, reinterpret_cast<WPARAM>(owned.get()), 0);
    m_staticIcons[id] = iconId;
}

int Win32Window::GetStaticIcon(int id) {
    const auto it = m_staticIcons.find(id);
    return it != m_staticIcons.end() ? it->second : 0;
}

void Win32Window::AttachCustomControl(int id, ui::CustomControl* control) {
    if (HWND h = ControlHandle(id)) {
        AttachProgressControl(h, control);
    }
}

ui::Rect Win32Window::ControlClientRect(int id) {
    RECT rc{};
    if (HWND h = ControlHandle(id)) {
        GetClientRect(h, &rc);
    }
    return ui::Rect{rc.left, rc.top, rc.right, rc.bottom};
}

void Win32Window::RedrawControlNow(int id) {
    if (HWND h = ControlHandle(id)) {
        RedrawWindow(h, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    }
}

void Win32Window::InvalidateControl(int id) {
    if (HWND h = ControlHandle(id)) {
        InvalidateRect(h, nullptr, TRUE);
    }
}

void Win32Window::SetAccessibleValue(int id, int value, int minimum, int maximum,
                                     const std::string&) {
    // Screen readers word the value from the bar's position and range.
    if (HWND h = ControlHandle(id)) {
        SetProgressAccessibleValue(h, value, minimum, maximum);
    }
}

void Win32Window::SetTimer(int timerId, int periodMs) {
    // Setting a timer that runs starts its period afresh.
    ::SetTimer(m_hwnd, static_cast<UINT_PTR>(timerId), static_cast<UINT>(std::max(periodMs, 1)),
               nullptr);
}

void Win32Window::KillTimer(int timerId) {
    ::KillTimer(m_hwnd, static_cast<UINT_PTR>(timerId));
}

int Win32Window::MessageBox(const std::string& utf8, uint32_t style) {
    return m_system.ShowMessageBox(m_hwnd, utf8, style);
}

}  // namespace vorpane::win32
