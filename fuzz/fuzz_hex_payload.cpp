// Fuzzes the payload box's hex parse: never crashes, and every output byte
// comes from one or two of the text's hex digits.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "commands/hex_payload.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::vector<uint8_t> out = vorpane::ParseHexPayload(text);

    size_t digits = 0;
    bool separators = false;
    for (unsigned char c : text) {
        digits += vorpane::IsHexDigit(c) ? 1 : 0;
        separators = separators || vorpane::IsHexSeparator(c);
    }
    if (out.size() < (digits + 1) / 2 || out.size() > digits) {
        std::abort();
    }
    // Without separators a lone digit can only be the last one.
    if (!separators && out.size() != (digits + 1) / 2) {
        std::abort();
    }
    return 0;
}
