#include "platform/ipv4_address.h"

#include <algorithm>
#include <cstring>

namespace vorpane {

Ipv4Address Ipv4Address::FromNetworkOrder(uint32_t value) {
    std::array<uint8_t, 4> octets{};
    std::memcpy(octets.data(), &value, sizeof value);
    return FromOctets(octets);
}

uint32_t Ipv4Address::NetworkOrder() const {
    const std::array<uint8_t, 4> octets = Octets();
    uint32_t value = 0;
    std::memcpy(&value, octets.data(), sizeof value);
    return value;
}

std::optional<Ipv4Address> Ipv4Address::Parse(std::string_view text) {
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
    return Ipv4Address(address);
}

std::string Ipv4Address::Text() const {
    const std::array<uint8_t, 4> octets = Octets();
    std::string text = std::to_string(octets[0]);
    for (size_t i = 1; i < octets.size(); ++i) {
        text += '.';
        text += std::to_string(octets[i]);
    }
    return text;
}

std::array<std::optional<uint8_t>, 4> AddressControlFields(std::string_view text) {
    std::array<std::optional<uint8_t>, 4> fields{};
    size_t field = 0;
    int value = -1;
    // The end of the text closes the field it is in, as a dot would.
    for (size_t i = 0; i <= text.size() && field < fields.size(); ++i) {
        const char ch = i < text.size() ? text[i] : '.';
        if (ch >= '0' && ch <= '9') {
            value = std::min(255, std::max(value, 0) * 10 + (ch - '0'));
        } else if (ch == '.') {
            if (value >= 0) {
                fields[field] = static_cast<uint8_t>(value);
            }
            ++field;
            value = -1;
        }
    }
    return fields;
}

}  // namespace vorpane
