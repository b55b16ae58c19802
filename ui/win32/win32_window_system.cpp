#include "ui/win32/win32_window_system.h"

#include <vector>

#include "ui/win32/progress_window.h"
#include "ui/win32/win32_text.h"
#include "ui/win32/win32_window.h"

namespace vorpane::win32 {

namespace {

constexpr UINT kInvokeMessage = WM_APP + 1;
constexpr const wchar_t* kInvokeClassName = L"VorpaneInvoke";
// ServeUntil looks at its condition at least this often: a worker's counter
// changes without a message of its own.
constexpr DWORD kServePollMs = 2;
// Longest path the open-file dialog hands back.
constexpr size_t kMaxPath = 32768;

}  // namespace

Win32WindowSystem::Win32WindowSystem(std::string applicationName)
    : m_appName(std::move(applicationName)),
      m_uiThread(GetCurrentThreadId()),
      m_instance(GetModuleHandleW(nullptr)) {
    INITCOMMONCONTROLSEX icc{};
    icc.dwSize = sizeof icc;
    icc.dwICC = ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES | ICC_INTERNET_CLASSES | ICC_UPDOWN_CLASS |
                ICC_PROGRESS_CLASS;
    InitCommonControlsEx(&icc);
    // The first-generation rich edit lives in riched32.dll, which registers
    // its window class when it loads.
    m_richEdit = UniqueModule(LoadLibraryW(L"riched32.dll"));
    RegisterProgressClass(m_instance);

    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &Win32WindowSystem::InvokeProc;
    wc.hInstance = m_instance;
    wc.lpszClassName = kInvokeClassName;
    WNDCLASSEXW existing{};
    existing.cbSize = sizeof existing;
    if (!GetClassInfoExW(m_instance, kInvokeClassName, &existing)) {
        RegisterClassExW(&wc);
    }
    m_invokeWindow = UniqueWindow(CreateWindowExW(0, kInvokeClassName, L"", 0, 0, 0, 0, 0,
                                                  HWND_MESSAGE, nullptr, m_instance, nullptr));
}

Win32WindowSystem::~Win32WindowSystem() = default;

LRESULT CALLBACK Win32WindowSystem::InvokeProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
    if (msg == kInvokeMessage) {
        (*reinterpret_cast<const std::function<void()>*>(l))();
        return 0;
    }
    return DefWindowProcW(h, msg, w, l);
}

std::unique_ptr<ui::Window> Win32WindowSystem::CreateDialogWindow(const ui::DialogTemplate& tmpl,
                                                                  ui::DialogEvents& events,
                                                                  ui::Window* owner) {
    return Win32Window::Create(*this, tmpl, events, HandleOf(owner));
}

int Win32WindowSystem::MessageBox(const std::string& utf8, uint32_t style) {
    return ShowMessageBox(nullptr, utf8, style | MB_TASKMODAL);
}

int Win32WindowSystem::ShowMessageBox(HWND owner, const std::string& utf8, uint32_t style) {
    const int r = ::MessageBoxW(owner, Widen(utf8).c_str(), Widen(m_appName).c_str(), style);
    // A box without a Cancel button answers OK however it is closed, as
    // documented; wine answers Esc there with Cancel.
    if ((style & MB_TYPEMASK) == MB_OK) {
        return ui::kIdOk;
    }
    return r == IDOK ? ui::kIdOk : ui::kIdCancel;
}

std::optional<std::string> Win32WindowSystem::GetOpenFileName(ui::Window* owner,
                                                              const ui::OpenFileRequest& request) {
    // Name, pattern, each ending in a zero, and one more zero at the end.
    std::wstring filter = Widen(request.filterName);
    filter.push_back(L'\0');
    filter += Widen(request.pattern);
    filter.push_back(L'\0');
    const std::wstring title = Widen(request.title);
    std::vector<wchar_t> path(kMaxPath, L'\0');

    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = HandleOf(owner);
    ofn.lpstrFilter = filter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = path.data();
    ofn.nMaxFile = static_cast<DWORD>(path.size());
    ofn.lpstrTitle = title.empty() ? nullptr : title.c_str();
    // The dialog leaves the process's current directory alone.
    ofn.Flags =
        OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (!::GetOpenFileNameW(&ofn)) {
        return std::nullopt;
    }
    return Narrow(path.data(), wcsnlen(path.data(), path.size()));
}

ui::Color Win32WindowSystem::GetSysColor(ui::SysColor which) {
    return FromColorRef(
        ::GetSysColor(which == ui::SysColor::Highlight ? COLOR_HIGHLIGHT : COLOR_WINDOW));
}

bool Win32WindowSystem::IsControlKeyDown() {
    return (GetKeyState(VK_CONTROL) & 0x8000) != 0;
}

bool Win32WindowSystem::ApplySkin(const std::string&) {
    // The look comes from the themed common controls of the manifest; no
    // skin file is read here.
    return false;
}

bool Win32WindowSystem::IsUiThread() {
    return GetCurrentThreadId() == m_uiThread;
}

void Win32WindowSystem::Invoke(const std::function<void()>& fn) {
    if (IsUiThread()) {
        fn();
        return;
    }
    // A message sent across threads runs on the UI thread the next time it
    // looks at its messages, in any of its loops; this thread waits for it.
    SendMessageW(m_invokeWindow.get(), kInvokeMessage, 0, reinterpret_cast<LPARAM>(&fn));
}

void Win32WindowSystem::ServeUntil(const std::function<bool()>& done) {
    MSG msg;
    while (!done()) {
        // Sent messages run inside PeekMessage; paints are taken from the
        // queue; keyboard and mouse input stays queued for later.
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE | PM_QS_PAINT | PM_QS_SENDMESSAGE)) {
            DispatchMessageW(&msg);
        }
        if (done()) {
            return;
        }
        MsgWaitForMultipleObjectsEx(0, nullptr, kServePollMs, QS_SENDMESSAGE | QS_PAINT, 0);
    }
}

HWND Win32WindowSystem::HandleOf(ui::Window* window) {
    auto* w = dynamic_cast<Win32Window*>(window);
    return w != nullptr ? w->Handle() : nullptr;
}

void Win32WindowSystem::DeliverMessage(const MSG& msg) {
    Win32Window::DeliverMessage(msg);
}

HWND Win32WindowSystem::ControlHandleOf(ui::Window* window, int id) {
    auto* w = dynamic_cast<Win32Window*>(window);
    return w != nullptr ? w->ControlHandle(id) : nullptr;
}

}  // namespace vorpane::win32
