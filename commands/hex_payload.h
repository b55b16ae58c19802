#pragma once
// The payload box's hex mode: which bytes are digits, how one or two digits
// make a byte, and how a whole text turns into the bytes it spells.
// Self-contained so the fuzzer can build it on its own.

#include <cstdint>
#include <string_view>
#include <vector>

namespace vorpane {

// '0'-'9', 'a'-'f', 'A'-'F'. Bytes 0x80 and above never are.
bool IsHexDigit(unsigned char ch);
// ' ', ',' and ';'. Tabs and line breaks are not.
bool IsHexSeparator(unsigned char ch);
// The bytes that the hex digits of `text` spell. Two digits always pair,
// whatever stands between them; a lone digit becomes a byte of its own when
// a separator follows it or the text ends.
std::vector<uint8_t> ParseHexPayload(std::string_view text);
// Where `text` holds a byte that is neither a hex digit, a separator nor a
// blank (tab, line break), which the parse above would skip without a word;
// npos when it holds none.
size_t FirstStrayHexByte(std::string_view text);

}  // namespace vorpane
