#include "ui/win32/win32_text.h"

#include <algorithm>

namespace vorpane::win32 {

std::wstring Widen(const std::string& utf8) {
    if (utf8.empty()) {
        return {};
    }
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::string Narrow(const wchar_t* utf16, size_t length) {
    if (length == 0) {
        return {};
    }
    const int n = WideCharToMultiByte(CP_UTF8, 0, utf16, static_cast<int>(length), nullptr, 0,
                                      nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, utf16, static_cast<int>(length), out.data(), n, nullptr,
                        nullptr);
    return out;
}

std::string Narrow(const std::wstring& utf16) {
    return Narrow(utf16.data(), utf16.size());
}

std::string WindowText(HWND h) {
    // The length is a hint only: an ANSI window answers in UTF-16 units while
    // it needs up to four bytes for each in the buffer's count (two in a
    // double-byte page, more with UTF-8 as the ANSI page).
    const auto hint =
        static_cast<size_t>(std::max<LRESULT>(SendMessageW(h, WM_GETTEXTLENGTH, 0, 0), 0));
    const size_t enough = 4 * hint + 1;
    constexpr size_t kMostUnits = size_t{1} << 26;
    std::wstring buf;
    for (size_t size = hint + 2;; size *= 2) {
        buf.assign(size, L'\0');
        const auto got = static_cast<size_t>(std::max<LRESULT>(
            SendMessageW(h, WM_GETTEXT, size, reinterpret_cast<LPARAM>(buf.data())), 0));
        // A full buffer may have cut the text; an empty answer to a window
        // that has text means the buffer could not take its ANSI form.
        const bool mayBeCut = got + 1 >= size || (got == 0 && size < enough);
        if (!mayBeCut || size >= kMostUnits) {
            return Narrow(buf.data(), std::min(got, size - 1));
        }
    }
}

std::string ToWindowsLineEnds(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) {
            out += '\r';
        }
        out += text[i];
    }
    return out;
}

std::string FromWindowsLineEnds(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace vorpane::win32
