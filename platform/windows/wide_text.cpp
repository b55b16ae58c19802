#include "platform/windows/wide_text.h"

#include <windows.h>

#include <algorithm>

namespace vorpane::windows {

std::wstring ToWide(unsigned codePage, std::string_view bytes) {
    if (bytes.empty()) {
        return {};
    }
    const int size = static_cast<int>(bytes.size());
    const int n = MultiByteToWideChar(codePage, 0, bytes.data(), size, nullptr, 0);
    std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    MultiByteToWideChar(codePage, 0, bytes.data(), size, out.data(), n);
    return out;
}

std::string FromWide(unsigned codePage, std::wstring_view text) {
    if (text.empty()) {
        return {};
    }
    // UTF-8 and UTF-7 take no replacement character: Windows refuses one.
    const bool unicode = codePage == CP_UTF8 || codePage == CP_UTF7;
    const char* replacement = unicode ? nullptr : "?";
    const int size = static_cast<int>(text.size());
    const int n =
        WideCharToMultiByte(codePage, 0, text.data(), size, nullptr, 0, replacement, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    WideCharToMultiByte(codePage, 0, text.data(), size, out.data(), n, replacement, nullptr);
    return out;
}

size_t PrefixLength(unsigned codePage, std::string_view bytes, size_t limit) {
    size_t i = 0;
    while (i < bytes.size()) {
        const auto b = static_cast<BYTE>(bytes[i]);
        const size_t len = IsDBCSLeadByteEx(codePage, b) && i + 1 < bytes.size() ? 2 : 1;
        if (i + len > limit) {
            break;
        }
        i += len;
    }
    return std::min(i, bytes.size());
}

}  // namespace vorpane::windows
