#pragma once
// The text form of a MAC address (Ipv4Address has the one of an IPv4
// address).

#include <array>
#include <cstdint>
#include <string>

namespace vorpane {

// Upper-case hex pairs, joined by `separator` unless it is 0:
// "AE2B64142C6C", or with '-' "AE-2B-64-14-2C-6C".
std::string MacText(const std::array<uint8_t, 6>& mac, char separator = 0);

}  // namespace vorpane
