#pragma once
// Text between the seam (UTF-8, lines ending in '\n') and Windows (UTF-16,
// edit controls' lines ending in "\r\n").

#include <string>

#include "ui/win32/windows_api.h"

namespace vorpane::win32 {

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& utf16);
std::string Narrow(const wchar_t* utf16, size_t length);

// The whole text of a window, of this process or another, in UTF-8. Every
// read of a window's text goes through here: an ANSI window (the first rich
// edit) measures the wide buffer against its ANSI text, so a buffer of the
// length it reports can take nothing at all.
std::string WindowText(HWND h);

// "\n" becomes "\r\n"; a "\r\n" already there stays as it is.
std::string ToWindowsLineEnds(const std::string& text);
// "\r\n" and a lone "\r" become "\n".
std::string FromWindowsLineEnds(const std::string& text);

}  // namespace vorpane::win32
