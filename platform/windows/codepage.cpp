// The system's 8-bit code page on Windows is the ANSI code page (936 on a
// Chinese system, 1252 on a Western one).

#include "platform/codepage.h"

#include <windows.h>

#include <algorithm>

#include "platform/windows/wide_text.h"

namespace vorpane {

std::string Utf8ToSystem(const std::string& utf8) {
    return windows::FromWide(GetACP(), windows::Utf8ToWide(utf8));
}

std::string SystemToUtf8(const std::string& bytes) {
    return windows::WideToUtf8(windows::ToWide(GetACP(), bytes));
}

size_t SystemPrefixLength(const std::string& bytes, size_t limit) {
    const UINT page = GetACP();
    size_t i = 0;
    while (i < bytes.size()) {
        const auto b = static_cast<BYTE>(bytes[i]);
        const size_t len = IsDBCSLeadByteEx(page, b) && i + 1 < bytes.size() ? 2 : 1;
        if (i + len > limit) {
            break;
        }
        i += len;
    }
    return std::min(i, bytes.size());
}

}  // namespace vorpane
