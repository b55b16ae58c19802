// The payload box's hex mode: digit values, pairs, and the whole-text parse.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/printer_tool_dlg.h"
#include "commands/hex_payload.h"

namespace vorpane {
namespace {

struct ParseCase {
    const char* name;
    std::string text;
    std::vector<uint8_t> bytes;
};

std::vector<ParseCase> ParseCases() {
    using B = std::vector<uint8_t>;
    return {
        {"spaced pair", "1B 40", B{0x1B, 0x40}},
        {"odd digit count", "1b4", B{0x1B, 0x04}},
        {"blank splits lone digits", "1 2", B{0x01, 0x02}},
        {"semicolon splits", "1;2", B{0x01, 0x02}},
        {"comma splits", "1,2", B{0x01, 0x02}},
        {"skipped byte joins", "1x2", B{0x12}},
        {"separator after skipped byte", "1x 2", B{0x01, 0x02}},
        {"comma after skipped byte", "1x,2", B{0x01, 0x02}},
        {"line break joins", "1\n2", B{0x12}},
        {"CRLF and tab join", "1\r\n\t2", B{0x12}},
        {"zero byte kept", "00", B{0x00}},
        {"no digits", "zz", B{}},
        {"empty", "", B{}},
        {"0x prefix has no meaning", "0x41", B{0x04, 0x01}},
        {"0x1B", "0x1B", B{0x01, 0x0B}},
        {"three digits", "123", B{0x12, 0x03}},
        {"upper case", "ABC", B{0xAB, 0x0C}},
        {"separators between pairs", "1B,40;1b 40", B{0x1B, 0x40, 0x1B, 0x40}},
        {"same without separators", "1B401b40", B{0x1B, 0x40, 0x1B, 0x40}},
        {"trailing separator", "7 ", B{0x07}},
        {"leading separators", " ,;ff", B{0xFF}},
        {"separator run", "a  b", B{0x0A, 0x0B}},
        {"lone digit before separator after pair", "1B 4 40", B{0x1B, 0x04, 0x40}},
        // GB18030 bytes at 0x80 and above are never digits.
        {"high bytes skipped", "1\xD6\xD0\x32", B{0x12}},
        {"every high byte", std::string("\x80\xFF\xAA\xBB"), B{}},
        {"separator only", " ,;", B{}},
        {"g is no digit", "fg", B{0x0F}},
    };
}

TEST(HexPayload, ParseTable) {
    for (const auto& c : ParseCases()) {
        EXPECT_EQ(ParseHexPayload(c.text), c.bytes) << c.name << ": '" << c.text << "'";
    }
}

TEST(HexPayload, DigitsAndSeparatorsOverEveryByte) {
    for (int b = 0; b < 256; ++b) {
        int expected = 0;  // also for every byte that is no digit
        if (b >= '0' && b <= '9') {
            expected = b - '0';
        } else if (b >= 'a' && b <= 'f') {
            expected = b - 'a' + 10;
        } else if (b >= 'A' && b <= 'F') {
            expected = b - 'A' + 10;
        }
        const auto ch = static_cast<unsigned char>(b);
        EXPECT_EQ(CPrinterToolDlg::HexDigitValue(ch), expected) << "byte " << b;
        EXPECT_EQ(IsHexDigit(ch), expected != 0 || b == '0') << "byte " << b;
        EXPECT_EQ(IsHexSeparator(ch), b == ' ' || b == ',' || b == ';') << "byte " << b;
    }
}

// A lone digit is the high nibble; only the first two bytes count.
TEST(HexPayload, PairToByte) {
    const std::pair<const char*, int> cases[] = {
        {"7f", 127}, {"FF", 255}, {"00", 0},      {"5", 0x50},
        {"G1", 1},   {"", 0},     {"1B40", 0x1B}, {"\xB9\x41", 0x0A},  // a high byte, then A
    };
    for (const auto& [text, value] : cases) {
        EXPECT_EQ(CPrinterToolDlg::HexPairToByte(text), value) << text;
    }
}

}  // namespace
}  // namespace vorpane
