// The system's 8-bit code page on Windows is the ANSI code page (936 on a
// Chinese system, 1252 on a Western one).

#include "platform/codepage.h"

#include <windows.h>

#include "platform/windows/wide_text.h"

namespace vorpane {

std::string Utf8ToSystem(const std::string& utf8) {
    return windows::FromWide(GetACP(), windows::Utf8ToWide(utf8));
}

std::string SystemToUtf8(const std::string& bytes) {
    return windows::WideToUtf8(windows::ToWide(GetACP(), bytes));
}

size_t SystemPrefixLength(const std::string& bytes, size_t limit) {
    return windows::PrefixLength(GetACP(), bytes, limit);
}

}  // namespace vorpane
