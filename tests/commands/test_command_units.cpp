// The hex parse, the MAC address from the clock, the locked file buffer and
// the terminal launcher (on the real system: the "terminal" is env).

#include <gtest/gtest.h>

#include <sys/mman.h>

#include <cctype>
#include <chrono>
#include <cstring>
#include <thread>

#include "commands/command_frames.h"
#include "commands/hex_payload.h"
#include "main_dialog_fixture.h"
#include "platform/address_text.h"
#include "platform/locked_buffer.h"
#include "platform/terminal.h"

namespace vorpane {
namespace {

using B = std::vector<uint8_t>;

TEST(HexPayload, ParseTable) {
    const std::pair<std::string, B> cases[] = {
        {"1B 40", {0x1B, 0x40}},
        {"1b4", {0x1B, 0x04}},
        {"1 2", {0x01, 0x02}},  // a separator ends a lone digit
        {"1;2", {0x01, 0x02}},
        {"1,2", {0x01, 0x02}},
        {"1x2", {0x12}},  // a skipped byte joins
        {"1x 2", {0x01, 0x02}},
        {"1\n2", {0x12}},
        {"00", {0x00}},
        {"zz", {}},
        {"", {}},
        {"0x41", {0x04, 0x01}},  // 0x has no meaning
        {"0x1B", {0x01, 0x0B}},
        {"123", {0x12, 0x03}},
        {"ABC", {0xAB, 0x0C}},
        {"1B,40;1b 40", {0x1B, 0x40, 0x1B, 0x40}},
        {"1B 4 40", {0x1B, 0x04, 0x40}},
        {"1\xD6\xD0\x32", {0x12}},  // GB18030 bytes are never digits
    };
    for (const auto& [text, bytes] : cases) {
        EXPECT_EQ(ParseHexPayload(text), bytes) << "'" << text << "'";
    }
}

TEST(HexPayload, DigitsSeparatorsAndPairs) {
    for (int b = 0; b < 256; ++b) {
        const bool digit = std::isxdigit(b) != 0;
        const auto ch = static_cast<unsigned char>(b);
        EXPECT_EQ(IsHexDigit(ch), digit) << b;
        EXPECT_EQ(IsHexSeparator(ch), b == ' ' || b == ',' || b == ';') << b;
    }
}

TEST(MacFromClock, ExamplesAndTwoDigitFields) {
    const std::array<int, 5> zero = {0, 0, 0, 0, 0};
    EXPECT_EQ(MacText(MacFromClock(PinnedTime(2026, 12, 6, 1, 42, 46), {5, 5, 5, 5, 5})),
              "AE2B64142C6C");
    EXPECT_EQ(MacText(MacFromClock(PinnedTime(2009, 3, 17, 9, 5, 0), zero)), "9E3071905000");
    // Two-digit fields carry their tens in the low bits.
    const struct {
        int month, day, hour, minute, second;
        std::array<int, 5> draws;
        size_t index;
        uint8_t byte;
    } cases[] = {
        {10, 1, 0, 0, 0, zero, 1, 0x01},
        {11, 1, 0, 0, 0, zero, 1, 0x11},
        {12, 1, 0, 0, 0, zero, 1, 0x21},
        {9, 1, 0, 0, 0, zero, 1, 0x90},
        {1, 31, 0, 0, 0, zero, 2, 0x13},
        {1, 31, 0, 0, 0, {0, 3, 0, 0, 0}, 2, 0x1F},
        {1, 31, 0, 0, 0, {0, 6, 0, 0, 0}, 2, 0x1B},
        {1, 1, 23, 59, 59, {7, 3, 3, 1, 1}, 1, 0x1E},
        {1, 1, 23, 59, 59, {7, 3, 3, 1, 1}, 3, 0x3E},
        {1, 1, 23, 59, 59, {7, 3, 3, 1, 1}, 4, 0x9D},
        {1, 1, 23, 59, 59, {7, 3, 3, 1, 1}, 5, 0x9D},
        {1, 1, 0, 0, 0, zero, 5, 0x00},
        {1, 1, 0, 0, 0, {0, 0, 0, 0, 9}, 5, 0x08},  // an odd draw sets 0x08
    };
    for (const auto& c : cases) {
        const auto time = PinnedTime(2020, c.month, c.day, c.hour, c.minute, c.second);
        EXPECT_EQ(MacFromClock(time, c.draws)[c.index], c.byte)
            << c.month << "-" << c.day << " " << c.hour << ":" << c.minute << ":" << c.second;
    }
    // Only the low bits of each draw count.
    EXPECT_EQ(MacFromClock(PinnedTime(2020, 1, 1, 0, 0, 0), {8, 4, 4, 2, 2}),
              MacFromClock(PinnedTime(2020, 1, 1, 0, 0, 0), zero));
    for (int year = 1970; year <= 2100; ++year) {
        const auto mac = MacFromClock(PinnedTime(year, 6, 15, 12, 30, 30), {1, 2, 3, 4, 5});
        EXPECT_EQ(mac[0], (year % 16) << 4 | 0x0E) << year;
    }
}

TEST(LockedBuffer, GivesZeroedMemoryAndOnlyTheLastOwnerUnmapsIt) {
    constexpr uint32_t kSize = 3 * 4096 + 17;
    auto buffer = LockedBuffer::Allocate(kSize);
    ASSERT_TRUE(buffer.has_value() && buffer->Data() != nullptr);
    EXPECT_EQ(buffer->Size(), kSize);
    EXPECT_EQ(B(buffer->Data(), buffer->Data() + kSize), B(kSize, 0));
    std::memset(buffer->Data(), 0xA5, kSize);
    uint8_t* const p = buffer->Data();
    LockedBuffer moved = std::move(*buffer);
    EXPECT_EQ(buffer->Data(), nullptr);
    EXPECT_EQ(buffer->Size(), 0u);
    buffer.reset();
    EXPECT_EQ(moved.Data()[kSize - 1], 0xA5);
    unsigned char residency = 0;
    { LockedBuffer gone = std::move(moved); }
    EXPECT_EQ(mincore(p, 4096, &residency), -1);  // unmapped
    EXPECT_EQ(errno, ENOMEM);

    EXPECT_EQ(LockedBuffer::Allocate(0).value().Size(), 0u);
}

// The exit code once the process has ended; -1 if it still runs after 20 s,
// -2 when there is none.
int ExitCodeOf(std::unique_ptr<TerminalProcess> p) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (p && !p->Finished()) {
        if (std::chrono::steady_clock::now() > end) {
            return -1;
        }
        std::this_thread::yield();
    }
    return p ? static_cast<SpawnedProcess&>(*p).ExitCode() : -2;
}

TEST(TerminalLauncher, ArgumentsReachTheProgramUnsplitAndMissingTerminalsAreSkipped) {
    // A shell would split these at the blank and the semicolon.
    EXPECT_EQ(ExitCodeOf(SpawnedProcess::Spawn({"test", "a b;c $(x)", "=", "a b;c $(x)"})), 0);
    EXPECT_EQ(ExitCodeOf(SpawnedProcess::Spawn({"test", "a b;c", "=", "a b"})), 1);
    int error = 0;
    EXPECT_EQ(SpawnedProcess::Spawn({"vorpane-no-such-terminal"}, &error), nullptr);
    EXPECT_EQ(error, ENOENT);
    EXPECT_EQ(SpawnedProcess::Spawn({}, &error), nullptr);
    EXPECT_EQ(ExitCodeOf(StartWithFirstTerminal({{"vorpane-no-such-terminal", "-e"}, {"env"}},
                                                {"test", "x", "=", "x"})),
              0);
    EXPECT_EQ(StartWithFirstTerminal({{"vorpane-no-such-terminal", "-e"}}, {"ping", "127.0.0.1"}),
              nullptr);
    // A running process is not finished; dropping it ends and reaps it.
    auto p = SpawnedProcess::Spawn({"sleep", "30"});
    ASSERT_NE(p, nullptr);
    EXPECT_FALSE(p->Finished());
}

}  // namespace
}  // namespace vorpane
