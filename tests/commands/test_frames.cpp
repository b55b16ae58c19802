// Command frames, the two configuration frames and the clock-made MAC
// address, byte for byte.

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "commands/command_frames.h"
#include "main_dialog_fixture.h"

namespace vorpane {
namespace {

template <size_t N>
std::vector<int> Ints(const std::array<uint8_t, N>& a) {
    return {a.begin(), a.end()};
}

TEST(CommandFrames, OneShotFramesAreTheEscPosCommands) {
    EXPECT_EQ(Ints(kInitFrame), (std::vector<int>{0x1B, 0x40}));
    EXPECT_EQ(Ints(kCashDrawerFrame), (std::vector<int>{0x1B, 0x70, 0x00, 0x08, 0x08}));
    EXPECT_EQ(std::string(kCutTextFrame.begin(), kCutTextFrame.end()), "Testing the cut\n\n\n\n");
    EXPECT_EQ(Ints(kCutFrame), (std::vector<int>{0x1B, 0x6D}));
}

TEST(SetIpFrame, ChecksumIsOctetSumModulo256) {
    EXPECT_EQ(Ints(BuildSetIpFrame({192, 168, 1, 20})),
              (std::vector<int>{0x1D, 0x44, 0xC0, 0xA8, 0x01, 0x14, 0x7D}));
    // 10 + 255 + 255 + 1 = 521 wraps to 9.
    EXPECT_EQ(Ints(BuildSetIpFrame({10, 255, 255, 1})),
              (std::vector<int>{0x1D, 0x44, 0x0A, 0xFF, 0xFF, 0x01, 0x09}));
    EXPECT_EQ(Ints(BuildSetIpFrame({0, 0, 0, 0})), (std::vector<int>{0x1D, 0x44, 0, 0, 0, 0, 0}));
    EXPECT_EQ(BuildSetIpFrame({255, 255, 255, 255})[6], 0xFC);
}

TEST(SetMacFrame, ChecksumIsByteSumModulo256) {
    EXPECT_EQ(Ints(BuildSetMacFrame({0xAE, 0x2B, 0x64, 0x14, 0x2C, 0x6C})),
              (std::vector<int>{0x1D, 0x45, 0xAE, 0x2B, 0x64, 0x14, 0x2C, 0x6C, 0xE9}));
    EXPECT_EQ(BuildSetMacFrame({0, 0, 0, 0, 0, 0})[8], 0);
    EXPECT_EQ(BuildSetMacFrame({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})[8], 0xFA);
}

TEST(MacFromClock, WorkedExample) {
    const auto mac = MacFromClock(PinnedTime(2026, 12, 6, 1, 42, 46), {5, 5, 5, 5, 5});
    EXPECT_EQ(MacText(mac), "AE2B64142C6C");
    EXPECT_EQ(MacDisplayForm(MacText(mac)), "AE-2B-64-14-2C-6C");
    EXPECT_EQ(Ints(BuildSetMacFrame(mac)),
              (std::vector<int>{0x1D, 0x45, 0xAE, 0x2B, 0x64, 0x14, 0x2C, 0x6C, 0xE9}));
}

TEST(MacFromClock, ZeroDrawsGivePureClock) {
    EXPECT_EQ(MacText(MacFromClock(PinnedTime(2009, 3, 17, 9, 5, 0), {0, 0, 0, 0, 0})),
              "9E3071905000");
}

TEST(MacFromClock, TwoDigitFieldsCarryTheirTensInTheLowBits) {
    const std::array<int, 5> zero = {0, 0, 0, 0, 0};
    // Months 10..12: high digit 0..2, low bit of b1 set.
    EXPECT_EQ(MacFromClock(PinnedTime(2020, 10, 1, 0, 0, 0), zero)[1], 0x01);
    EXPECT_EQ(MacFromClock(PinnedTime(2020, 11, 1, 0, 0, 0), zero)[1], 0x11);
    EXPECT_EQ(MacFromClock(PinnedTime(2020, 12, 1, 0, 0, 0), zero)[1], 0x21);
    EXPECT_EQ(MacFromClock(PinnedTime(2020, 9, 1, 0, 0, 0), zero)[1], 0x90);
    // Day 31: 0x13 plus the draw bits (r2 mod 4) × 4.
    EXPECT_EQ(MacFromClock(PinnedTime(2020, 1, 31, 0, 0, 0), zero)[2], 0x13);
    EXPECT_EQ(MacFromClock(PinnedTime(2020, 1, 31, 0, 0, 0), {0, 3, 0, 0, 0})[2], 0x1F);
    EXPECT_EQ(MacFromClock(PinnedTime(2020, 1, 31, 0, 0, 0), {0, 6, 0, 0, 0})[2], 0x1B);
    // Hour 23, minute 59, second 59.
    const auto late = MacFromClock(PinnedTime(2020, 1, 1, 23, 59, 59), {7, 3, 3, 1, 1});
    EXPECT_EQ(late[1], 0x1E);  // (7 mod 8) × 2 = 14
    EXPECT_EQ(late[3], 0x3E);  // 3, (3 mod 4) × 4 + 2
    EXPECT_EQ(late[4], 0x9D);  // 9, 8 + 5
    EXPECT_EQ(late[5], 0x9D);
    // Second 0 with draw bit 0 is 0x00; an odd draw sets 0x08.
    EXPECT_EQ(MacFromClock(PinnedTime(2020, 1, 1, 0, 0, 0), zero)[5], 0x00);
    EXPECT_EQ(MacFromClock(PinnedTime(2020, 1, 1, 0, 0, 0), {0, 0, 0, 0, 9})[5], 0x08);
    // Only the low bits of each draw count.
    EXPECT_EQ(MacFromClock(PinnedTime(2020, 1, 1, 0, 0, 0), {8, 4, 4, 2, 2}),
              MacFromClock(PinnedTime(2020, 1, 1, 0, 0, 0), zero));
}

TEST(MacFromClock, FirstByteAlwaysEndsInE) {
    for (int year = 1970; year <= 2100; ++year) {
        const auto mac = MacFromClock(PinnedTime(year, 6, 15, 12, 30, 30), {1, 2, 3, 4, 5});
        EXPECT_EQ(mac[0] & 0x0F, 0x0E) << year;
        EXPECT_EQ(mac[0] >> 4, year % 16) << year;
        // Unicast, locally administered.
        EXPECT_EQ(mac[0] & 0x01, 0);
        EXPECT_EQ(mac[0] & 0x02, 0x02);
        for (size_t i = 1; i < 6; ++i) {
            EXPECT_LE(mac[i], 0x9F) << year << " byte " << i;
        }
    }
}

TEST(MacText, UpperCaseTwoDigitsEach) {
    EXPECT_EQ(MacText({0x0E, 0x01, 0x00, 0xAB, 0x9F, 0x08}), "0E0100AB9F08");
    EXPECT_EQ(MacDisplayForm("0E0100AB9F08"), "0E-01-00-AB-9F-08");
}

}  // namespace
}  // namespace vorpane
