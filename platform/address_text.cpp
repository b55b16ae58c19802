#include "platform/address_text.h"

namespace vorpane {

std::string Ipv4Text(const std::array<uint8_t, 4>& octets) {
    std::string text;
    for (size_t i = 0; i < octets.size(); ++i) {
        text += (i == 0 ? "" : ".") + std::to_string(octets[i]);
    }
    return text;
}

std::string Ipv4Text(uint32_t hostOrder) {
    return Ipv4Text({static_cast<uint8_t>(hostOrder >> 24), static_cast<uint8_t>(hostOrder >> 16),
                     static_cast<uint8_t>(hostOrder >> 8), static_cast<uint8_t>(hostOrder)});
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
