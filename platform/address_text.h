#pragma once
// The text form of a MAC address, and the older free-function spellings of
// Ipv4Address's text forms for the code that still uses them (the virtual
// printer, the Win32 window's text of its address control).

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ipv4_address.h"

namespace vorpane {

inline std::string Ipv4Text(const std::array<uint8_t, 4>& octets) {
    return Ipv4Address::FromOctets(octets).Text();
}
inline std::string Ipv4Text(uint32_t hostOrder) {
    return Ipv4Address::FromHostOrder(hostOrder).Text();
}
// The address in host order.
inline std::optional<uint32_t> ParseIpv4Text(std::string_view text) {
    const std::optional<Ipv4Address> address = Ipv4Address::Parse(text);
    return address ? std::optional<uint32_t>(address->HostOrder()) : std::nullopt;
}

// Upper-case hex pairs, joined by `separator` unless it is 0:
// "AE2B64142C6C", or with '-' "AE-2B-64-14-2C-6C".
std::string MacText(const std::array<uint8_t, 6>& mac, char separator = 0);

}  // namespace vorpane
