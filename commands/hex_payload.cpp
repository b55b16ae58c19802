#include "commands/hex_payload.h"

namespace vorpane {

bool IsHexDigit(unsigned char ch) {
    return (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f') || (ch >= 'A' && ch <= 'F');
}

bool IsHexSeparator(unsigned char ch) {
    return ch == ' ' || ch == ',' || ch == ';';
}

namespace {

// Called only with a byte IsHexDigit accepted.
int HexDigitValueOf(unsigned char ch) {
    if (ch <= '9') {
        return ch - '0';
    }
    return (ch | 0x20) - 'a' + 10;  // | 0x20 folds upper case onto lower
}

int HexPairValue(char first, char second) {
    return 16 * HexDigitValueOf(static_cast<unsigned char>(first)) +
           HexDigitValueOf(static_cast<unsigned char>(second));
}

}  // namespace

std::vector<uint8_t> ParseHexPayload(std::string_view text) {
    std::vector<uint8_t> out;
    out.reserve(text.size() / 2 + 1);
    char pending[2] = {0, 0};
    size_t pendingCount = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (IsHexDigit(c)) {
            pending[pendingCount++] = static_cast<char>(c);
        }
        if (pendingCount == 2) {
            out.push_back(static_cast<uint8_t>(HexPairValue(pending[0], pending[1])));
            pendingCount = 0;
        } else if (pendingCount == 1) {
            // Looked at on skipped bytes too: the byte after this position
            // decides whether a lone digit stands alone.
            const bool last = i + 1 == text.size();
            if (last || IsHexSeparator(static_cast<unsigned char>(text[i + 1]))) {
                out.push_back(static_cast<uint8_t>(HexPairValue('0', pending[0])));
                pendingCount = 0;
            }
        }
    }
    return out;
}

size_t FirstStrayHexByte(std::string_view text) {
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (!IsHexDigit(c) && !IsHexSeparator(c) && c != '\t' && c != '\r' && c != '\n') {
            return i;
        }
    }
    return std::string_view::npos;
}

}  // namespace vorpane
