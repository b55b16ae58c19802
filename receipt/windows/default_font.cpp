// The installer puts the font in a fonts folder beside the programs; a
// program copied alone can still use the Chinese font most Windows systems
// have.

#include <windows.h>

#include <string>

#include "platform/windows/wide_text.h"
#include "receipt/glyphs.h"

namespace vorpane::receipt {

namespace {

std::wstring ProgramFolder() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) {
            return {};
        }
        if (n < path.size()) {
            path.resize(n);
            return path.substr(0, path.rfind(L'\\') + 1);
        }
        path.resize(path.size() * 2);
    }
}

bool IsFile(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

std::string DefaultFontPath() {
    const std::wstring shipped = ProgramFolder() + L"fonts\\wqy-zenhei.ttc";
    if (IsFile(shipped)) {
        return windows::WideToUtf8(shipped);
    }
    wchar_t folder[MAX_PATH];
    const UINT n = GetSystemWindowsDirectoryW(folder, MAX_PATH);
    if (n > 0 && n < MAX_PATH) {
        const std::wstring system = std::wstring(folder, n) + L"\\Fonts\\simsun.ttc";
        if (IsFile(system)) {
            return windows::WideToUtf8(system);
        }
    }
    return windows::WideToUtf8(shipped);
}

}  // namespace vorpane::receipt
