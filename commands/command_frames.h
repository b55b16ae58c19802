#pragma once
// Byte frames the command buttons hand to the printer link, and the new MAC
// address made from the clock.

#include <array>
#include <cstdint>
#include <ctime>

namespace vorpane {

// ESC @: initialise.
inline constexpr std::array<uint8_t, 2> kInitFrame = {0x1B, 0x40};
// ESC p 0 8 8: kick the drawer on pin 2, 16 ms on, 16 ms off.
inline constexpr std::array<uint8_t, 5> kCashDrawerFrame = {0x1B, 0x70, 0x00, 0x08, 0x08};
// The cut test's text line and three empty lines, then ESC m (partial cut).
inline constexpr std::array<uint8_t, 19> kCutTextFrame = {'T', 'e',  's',  't',  'i', 'n', 'g',
                                                          ' ', 't',  'h',  'e',  ' ', 'c', 'u',
                                                          't', '\n', '\n', '\n', '\n'};
inline constexpr std::array<uint8_t, 2> kCutFrame = {0x1B, 0x6D};

// GS D a b c d sum: the printer's new IPv4 address, taken on its next start.
std::array<uint8_t, 7> BuildSetIpFrame(const std::array<uint8_t, 4>& octets);
// GS E b0..b5 sum: the printer's new MAC address, taken on its next start.
std::array<uint8_t, 9> BuildSetMacFrame(const std::array<uint8_t, 6>& mac);

// The MAC address made from one reading of the local clock and five random
// draws (used in order, only their low bits count). The first byte always
// ends in 0xE: unicast, locally administered.
std::array<uint8_t, 6> MacFromClock(const std::tm& local, const std::array<int, 5>& draws);

}  // namespace vorpane
