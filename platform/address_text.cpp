#include "platform/address_text.h"

namespace vorpane {

std::string Ipv4Text(const std::array<uint8_t, 4>& octets) {
    std::string text = std::to_string(octets[0]);
    for (size_t i = 1; i < octets.size(); ++i) {
        text += '.';
        text += std::to_string(octets[i]);
    }
    return text;
}

std::string Ipv4Text(uint32_t hostOrder) {
    return Ipv4Text({static_cast<uint8_t>(hostOrder >> 24), static_cast<uint8_t>(hostOrder >> 16),
                     static_cast<uint8_t>(hostOrder >> 8), static_cast<uint8_t>(hostOrder)});
}

std::optional<uint32_t> ParseIpv4Text(std::string_view text) {
    uint32_t address = 0;
    size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0 && (at >= text.size() || text[at++] != '.')) {
            return std::nullopt;
        }
        const size_t start = at;
        uint32_t value = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - start < 3) {
            value = value * 10 + static_cast<uint32_t>(text[at++] - '0');
        }
        const size_t digits = at - start;
        if (digits == 0 || value > 255 || (digits > 1 && text[start] == '0')) {
            return std::nullopt;
        }
        address = address << 8 | value;
    }
    if (at != text.size()) {
        return std::nullopt;
    }
    return address;
}

std::string MacText(const std::array<uint8_t, 6>& mac, char separator) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < mac.size(); ++i) {
        if (i > 0 && separator != 0) {
            text += separator;
        }
        text += kDigits[mac[i] >> 4];
        text += kDigits[mac[i] & 0x0F];
    }
    return text;
}

}  // namespace vorpane
