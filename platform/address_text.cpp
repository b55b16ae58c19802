#include "platform/address_text.h"

namespace vorpane {

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
