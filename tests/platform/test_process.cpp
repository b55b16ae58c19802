// Running a helper program (with the stand-in helper) and the calling
// thread's capabilities (in a fresh copy of this test program, since they
// are given up for good).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>

#include "platform/capabilities.h"
#include "platform/process.h"
#include "platform/unique_fd.h"
#include "stub_helper.h"

namespace vorpane {
namespace {

using namespace std::chrono_literals;

// The helper runs with nothing of ours: no variable, no descriptor beyond
// the three standard ones, input from the null device.
TEST(RunProgram, GivesTheProgramItsArgumentsAloneAndReadsItsStatus) {
    setenv("VORPANE_TEST_SECRET", "1", 1);
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);  // inheritable on purpose
    const UniqueFd readEnd(ends[0]);
    const UniqueFd writeEnd(ends[1]);
    StubHelper helper(12);
    const ProgramExit exit = RunProgram(helper.Path(), {"echo", "127.0.0.9", "300"}, 10s);
    unsetenv("VORPANE_TEST_SECRET");
    EXPECT_EQ(exit.status, 12);
    EXPECT_EQ(exit.error, 0);
    EXPECT_EQ(helper.Seen(), "args echo 127.0.0.9 300\nenv 0\nfds 0 1 2\nstdin /dev/null\n");
}

TEST(RunProgram, KillsAProgramPastItsDeadlineAndSaysWhyNothingRan) {
    StubHelper slow(12, 20000);
    const auto start = std::chrono::steady_clock::now();
    const ProgramExit late = RunProgram(slow.Path(), {}, 200ms);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    EXPECT_EQ(late.status, -1);
    EXPECT_EQ(late.error, ETIMEDOUT);

    const ProgramExit missing = RunProgram(slow.Path() + ".missing", {}, 10s);
    EXPECT_EQ(missing.status, -1);
    EXPECT_EQ(missing.error, ENOENT);
}

// Run only as the fresh process the next test starts.
TEST(CapabilityChild, DISABLED_KeepsOneInReserveRaisesItAroundACallAndDropsAll) {
    const bool root = geteuid() == 0;  // root starts with every capability
    EXPECT_EQ(HasCapability(Capability::kNetRaw), root);
    ASSERT_EQ(KeepOnlyCapability(Capability::kNetRaw), 0);
    EXPECT_FALSE(HasCapability(Capability::kNetRaw));  // in reserve, not in force
    {
        const RaisedCapability raw(Capability::kNetRaw);
        EXPECT_EQ(raw.Error(), root ? 0 : EPERM);
        EXPECT_EQ(HasCapability(Capability::kNetRaw), root);
        const RaisedCapability admin(Capability::kNetAdmin);  // given up for good
        EXPECT_EQ(admin.Error(), EPERM);
        EXPECT_FALSE(HasCapability(Capability::kNetAdmin));
    }
    EXPECT_FALSE(HasCapability(Capability::kNetRaw));
    EXPECT_EQ(DropAllCapabilities(), 0);
    EXPECT_EQ(RaisedCapability(Capability::kNetRaw).Error(), EPERM);
}

TEST(Capabilities, KeepRaiseAndDropInAFreshProcess) {
    const ProgramExit child =
        RunProgram("/proc/self/exe",
                   {"--gtest_also_run_disabled_tests", "--gtest_filter=CapabilityChild.*"}, 60s);
    EXPECT_EQ(child.status, 0) << "run it alone to see why";
}

}  // namespace
}  // namespace vorpane
