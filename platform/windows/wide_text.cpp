#include "platform/windows/wide_text.h"

#include <windows.h>

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

}  // namespace vorpane::windows
