// The MAC address made from the clock and the draws, byte for byte.

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "commands/command_frames.h"
#include "main_dialog_fixture.h"

namespace vorpane {
namespace {

// The frames themselves are checked where the buttons send them.
TEST(MacFromClock, ExamplesAndTwoDigitFields) {
    const std::array<int, 5> zero = {0, 0, 0, 0, 0};
    EXPECT_EQ(MacText(MacFromClock(PinnedTime(2026, 12, 6, 1, 42, 46), {5, 5, 5, 5, 5})),
              "AE2B64142C6C");
    EXPECT_EQ(MacText(MacFromClock(PinnedTime(2009, 3, 17, 9, 5, 0), zero)), "9E3071905000");
    // Two-digit fields carry their tens in the low bits.
    const struct {
        std::tm time;
        std::array<int, 5> draws;
        size_t index;
        uint8_t byte;
    } cases[] = {
        // Months 10..12: high digit 0..2, low bit set.
        {PinnedTime(2020, 10, 1, 0, 0, 0), zero, 1, 0x01},
        {PinnedTime(2020, 11, 1, 0, 0, 0), zero, 1, 0x11},
        {PinnedTime(2020, 12, 1, 0, 0, 0), zero, 1, 0x21},
        {PinnedTime(2020, 9, 1, 0, 0, 0), zero, 1, 0x90},
        // Day 31: 0x13 plus the draw bits (r2 mod 4) x 4.
        {PinnedTime(2020, 1, 31, 0, 0, 0), zero, 2, 0x13},
        {PinnedTime(2020, 1, 31, 0, 0, 0), {0, 3, 0, 0, 0}, 2, 0x1F},
        {PinnedTime(2020, 1, 31, 0, 0, 0), {0, 6, 0, 0, 0}, 2, 0x1B},
        // Hour 23, minute 59, second 59.
        {PinnedTime(2020, 1, 1, 23, 59, 59), {7, 3, 3, 1, 1}, 1, 0x1E},  // (7 mod 8) x 2
        {PinnedTime(2020, 1, 1, 23, 59, 59), {7, 3, 3, 1, 1}, 3, 0x3E},  // 3, (3 mod 4) x 4 + 2
        {PinnedTime(2020, 1, 1, 23, 59, 59), {7, 3, 3, 1, 1}, 4, 0x9D},  // 9, 8 + 5
        {PinnedTime(2020, 1, 1, 23, 59, 59), {7, 3, 3, 1, 1}, 5, 0x9D},
        // Second 0 with draw bit 0 is 0x00; an odd draw sets 0x08.
        {PinnedTime(2020, 1, 1, 0, 0, 0), zero, 5, 0x00},
        {PinnedTime(2020, 1, 1, 0, 0, 0), {0, 0, 0, 0, 9}, 5, 0x08},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(MacFromClock(cases[i].time, cases[i].draws)[cases[i].index], cases[i].byte)
            << "case " << i;
    }
    // Only the low bits of each draw count.
    EXPECT_EQ(MacFromClock(PinnedTime(2020, 1, 1, 0, 0, 0), {8, 4, 4, 2, 2}),
              MacFromClock(PinnedTime(2020, 1, 1, 0, 0, 0), zero));
}

TEST(MacFromClock, FirstByteAlwaysEndsInE) {
    for (int year = 1970; year <= 2100; ++year) {
        const auto mac = MacFromClock(PinnedTime(year, 6, 15, 12, 30, 30), {1, 2, 3, 4, 5});
        EXPECT_EQ(mac[0] & 0x0F, 0x0E) << year;
        EXPECT_EQ(mac[0] >> 4, year % 16) << year;
        for (size_t i = 1; i < 6; ++i) {
            EXPECT_LE(mac[i], 0x9F) << year << " byte " << i;
        }
    }
}

}  // namespace
}  // namespace vorpane
