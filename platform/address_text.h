#pragma once
// The one text form of an IPv4 address and of a MAC address.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vorpane {

// Dotted decimal without leading zeros, "%d.%d.%d.%d": "192.168.1.10".
std::string Ipv4Text(const std::array<uint8_t, 4>& octets);
// The same for an address held in host order (first octet most significant).
std::string Ipv4Text(uint32_t hostOrder);

// The address that dotted decimal text spells, in host order: exactly four
// decimal numbers up to 255 without leading zeros or anything around them
// ("0x7f.0.0.1", "127.1" and " 127.0.0.1" are no addresses).
std::optional<uint32_t> ParseIpv4Text(std::string_view text);

// Upper-case hex pairs, joined by `separator` unless it is 0:
// "AE2B64142C6C", or with '-' "AE-2B-64-14-2C-6C".
std::string MacText(const std::array<uint8_t, 6>& mac, char separator = 0);

}  // namespace vorpane
