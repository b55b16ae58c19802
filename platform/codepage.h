#pragma once
// The system's 8-bit code page: GB18030 on Linux, the ANSI code page on
// Windows. Every conversion between it and the UTF-8 of the window system
// goes through here.

#include <cstddef>
#include <string>

namespace vorpane {

// UTF-8 to the system's code page. Invalid UTF-8 sequences become '?'.
std::string Utf8ToSystem(const std::string& utf8);
// The system's code page to UTF-8. Bytes that do not form a character become U+FFFD.
std::string SystemToUtf8(const std::string& bytes);
// Length of the longest prefix of `bytes` of at most `limit` bytes that does
// not end inside a multi-byte character.
size_t SystemPrefixLength(const std::string& bytes, size_t limit);

}  // namespace vorpane
