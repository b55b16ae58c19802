#pragma once
// Text between the program's byte strings and Windows' UTF-16.

#include <cstddef>
#include <string>
#include <string_view>

namespace vorpane::windows {

// Bytes of `codePage` to UTF-16; bytes that form no character become
// U+FFFD.
std::wstring ToWide(unsigned codePage, std::string_view bytes);
// UTF-16 to bytes of `codePage`; characters the code page lacks become '?'.
std::string FromWide(unsigned codePage, std::wstring_view text);

// Length of the longest prefix of `bytes` of at most `limit` bytes that does
// not end inside a double-byte character of `codePage`.
size_t PrefixLength(unsigned codePage, std::string_view bytes, size_t limit);

inline std::wstring Utf8ToWide(std::string_view utf8) {
    return ToWide(65001, utf8);  // CP_UTF8
}
inline std::string WideToUtf8(std::wstring_view text) {
    return FromWide(65001, text);
}

}  // namespace vorpane::windows
