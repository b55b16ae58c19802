// The locked file buffer and the terminal launcher under the command
// buttons, on the real system (no terminal window is opened: the "terminal"
// here is env, which runs the command itself).

#include <gtest/gtest.h>

#include <sys/mman.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "app/printer_tool_dlg.h"
#include "commands/locked_buffer.h"
#include "commands/terminal_launcher.h"

namespace vorpane {
namespace {

TEST(LockedBuffer, GivesZeroedWritableMemoryAndReleasesIt) {
    constexpr uint32_t kSize = 3 * 4096 + 17;
    auto buffer = LockedBuffer::Allocate(kSize);
    ASSERT_TRUE(buffer.has_value());
    ASSERT_NE(buffer->Data(), nullptr);
    EXPECT_EQ(buffer->Size(), kSize);
    for (uint32_t i = 0; i < kSize; ++i) {
        ASSERT_EQ(buffer->Data()[i], 0) << i;
    }
    std::memset(buffer->Data(), 0xA5, kSize);
    uint8_t* const p = buffer->Data();

    // Moving hands the mapping over; only the last owner unmaps it.
    LockedBuffer moved = std::move(*buffer);
    EXPECT_EQ(moved.Data(), p);
    EXPECT_EQ(buffer->Data(), nullptr);
    EXPECT_EQ(buffer->Size(), 0u);
    buffer.reset();
    EXPECT_EQ(moved.Data()[kSize - 1], 0xA5);

    unsigned char residency = 0;
    ASSERT_EQ(mincore(p, 4096, &residency), 0);
    { LockedBuffer gone = std::move(moved); }
    // The pages are unmapped now.
    EXPECT_EQ(mincore(p, 4096, &residency), -1);
    EXPECT_EQ(errno, ENOMEM);
}

TEST(LockedBuffer, ZeroSizeIsAnEmptyBufferAndTheDialogOperationsPairUp) {
    auto buffer = LockedBuffer::Allocate(0);
    ASSERT_TRUE(buffer.has_value());
    EXPECT_EQ(buffer->Size(), 0u);
    EXPECT_EQ(CPrinterToolDlg::AllocLockedBuffer(0), nullptr);

    void* p = CPrinterToolDlg::AllocLockedBuffer(10000);
    ASSERT_NE(p, nullptr);
    static_cast<uint8_t*>(p)[9999] = 1;
    EXPECT_EQ(CPrinterToolDlg::FreeLockedBuffer(p, 10000), 1);
    EXPECT_EQ(CPrinterToolDlg::FreeLockedBuffer(nullptr, 10000), 1);
}

// The exit code once the process has ended; -1 if it still runs after 20 s,
// -2 when there is none.
int ExitCodeOf(std::unique_ptr<TerminalProcess> p) {
    if (!p) {
        return -2;
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!p->Finished()) {
        if (std::chrono::steady_clock::now() > end) {
            return -1;
        }
        std::this_thread::yield();
    }
    return static_cast<SpawnedProcess&>(*p).ExitCode();
}

TEST(TerminalLauncher, ArgumentsReachTheProgramUnsplit) {
    // A shell would split these at the blank and the semicolon.
    EXPECT_EQ(ExitCodeOf(SpawnedProcess::Spawn({"test", "a b;c $(x)", "=", "a b;c $(x)"})), 0);
    EXPECT_EQ(ExitCodeOf(SpawnedProcess::Spawn({"test", "a b;c", "=", "a b"})), 1);
}

TEST(TerminalLauncher, MissingProgramIsNoProcessAndTheNextTerminalIsTried) {
    int error = 0;
    EXPECT_EQ(SpawnedProcess::Spawn({"vorpane-no-such-terminal"}, &error), nullptr);
    EXPECT_EQ(error, ENOENT);
    EXPECT_EQ(SpawnedProcess::Spawn({}, &error), nullptr);

    auto p = StartWithFirstTerminal({{"vorpane-no-such-terminal", "-e"}, {"env"}},
                                    {"test", "x", "=", "x"});
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(ExitCodeOf(std::move(p)), 0);
    EXPECT_EQ(StartWithFirstTerminal(
                  {{"vorpane-no-such-terminal", "-e"}, {"vorpane-no-such-xterm", "-e"}},
                  {"ping", "127.0.0.1"}),
              nullptr);
}

TEST(TerminalLauncher, RunningProcessIsNotFinishedUntilItEnds) {
    auto p = SpawnedProcess::Spawn({"sleep", "30"});
    ASSERT_NE(p, nullptr);
    EXPECT_FALSE(p->Finished());
    // Dropping a running process ends and reaps it.
    p.reset();
}

}  // namespace
}  // namespace vorpane
