#include "platform/directory.h"

#include <windows.h>

#include "platform/windows/wide_text.h"

namespace vorpane {

std::string ReadCurrentDirectory() {
    wchar_t buf[kMaxPathBytes];
    // A longer path is not written; the call answers with the size it needs.
    const DWORD n = GetCurrentDirectoryW(kMaxPathBytes, buf);
    if (n == 0 || n >= kMaxPathBytes) {
        return {};
    }
    return windows::WideToUtf8({buf, n});
}

bool ChangeCurrentDirectory(const std::string& path) {
    return SetCurrentDirectoryW(windows::Utf8ToWide(path).c_str()) != 0;
}

}  // namespace vorpane
