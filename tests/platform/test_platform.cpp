// The platform services: the 8-bit code page, the current directory, reads
// at an offset, the descriptor owner, the locked buffer and the terminal launcher (on the real
// system: the "terminal" is env).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "directory_checks.h"
#include "file_reader_reads.h"
#include "platform/codepage.h"
#include "platform/directory.h"
#include "platform/file_reader.h"
#include "platform/locked_buffer.h"
#include "platform/posix/spawned_process.h"
#include "platform/unique_fd.h"
#include "stop_request_checks.h"

namespace vorpane {
namespace {

TEST(Codepage, Gb18030RoundTripsAndPrefixesKeepCharactersWhole) {
    const std::string utf8 = "A\xE4\xB8\xAD\xF0\x9F\x98\x80z";  // A, 中, an emoji, z
    const std::string gb = Utf8ToSystem(utf8);
    EXPECT_EQ(gb, std::string("A\xD6\xD0\x94\x39\xFC\x36z"));
    EXPECT_EQ(SystemToUtf8(gb), utf8);
    // Undecodable bytes are replaced, and what follows them survives.
    EXPECT_EQ(SystemToUtf8("a\xFF"
                           "b"),
              "a\xEF\xBF\xBD"
              "b");
    for (const auto& [limit, length] : {std::pair(1, 1), {2, 1}, {3, 3}, {6, 3}, {7, 7}, {99, 8}}) {
        EXPECT_EQ(SystemPrefixLength(gb, limit), size_t(length)) << limit;
    }
}

TEST(Directory, TooLongForTheBufferIsEmpty) {
    const auto saved = std::filesystem::current_path();
    const auto root =
        std::filesystem::temp_directory_path() / ("vorpane-long-" + std::to_string(getpid()));
    const auto deep = root / std::string(200, 'd') / std::string(200, 'd');
    std::filesystem::create_directories(deep);
    EXPECT_TRUE(ChangeCurrentDirectory(deep.string()));
    EXPECT_EQ(ReadCurrentDirectory(), "");
    EXPECT_FALSE(ChangeCurrentDirectory((root / "missing").string()));
    EXPECT_TRUE(ChangeCurrentDirectory(saved.string()));
    EXPECT_EQ(ReadCurrentDirectory(), saved.string());
    std::filesystem::remove_all(root);
}

TEST(Directory, FoldersAreMadeWithTheirParentsListedAndRemoved) {
    ExpectFoldersMadeListedAndRemoved(
        (std::filesystem::temp_directory_path() / ("vorpane-dirs-" + std::to_string(getpid())))
            .string());
    ExpectPathNames('/');
    EXPECT_EQ(PathStem("a\\b.c"), "a\\b") << "a backslash is part of a name here";
}

TEST(FileReader, ReadsWhatIsThereAtAnyOffsetAndRefusesDirectories) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("vorpane-reader-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "font", std::ios::binary) << "0123456789";
    const auto opened = FileReader::Open((dir / "font").string());
    ASSERT_TRUE(opened.file) << opened.error;
    ExpectDigitsReadAtAnyOffset(*opened.file, 1u << 31);
    EXPECT_EQ(FileReader::Open((dir / "missing").string()).error, ENOENT);
    EXPECT_EQ(FileReader::Open(dir.string()).error, EISDIR);
    std::filesystem::remove_all(dir);
}

TEST(UniqueFd, ClosesExactlyOnceWhateverMovesHappen) {
    auto open = [](int fd) { return ::fcntl(fd, F_GETFD) != -1; };
    UniqueFd a(::socket(AF_INET, SOCK_STREAM, 0));
    const int raw = a.get();
    UniqueFd b = std::move(a);
    b = std::move(b);  // a self-move keeps the descriptor
    EXPECT_TRUE(!a.valid() && b.get() == raw && open(raw));
    const int kept = b.release();
    UniqueFd c(::socket(AF_INET, SOCK_STREAM, 0));
    const int replaced = c.get();
    c.reset(kept);
    EXPECT_TRUE(open(kept) && !open(replaced));
    c = UniqueFd();
    EXPECT_FALSE(open(kept));
}

TEST(LockedBuffer, GivesZeroedMemoryAndOnlyTheLastOwnerUnmapsIt) {
    constexpr uint32_t kSize = 3 * 4096 + 17;
    auto buffer = LockedBuffer::Allocate(kSize);
    ASSERT_TRUE(buffer.has_value() && buffer->Data() != nullptr && buffer->Size() == kSize);
    EXPECT_EQ(std::vector<uint8_t>(buffer->Data(), buffer->Data() + kSize),
              std::vector<uint8_t>(kSize, 0));
    std::memset(buffer->Data(), 0xA5, kSize);
    uint8_t* const p = buffer->Data();
    LockedBuffer moved = std::move(*buffer);
    EXPECT_EQ(buffer->Data(), nullptr);
    buffer.reset();
    EXPECT_EQ(moved.Data()[kSize - 1], 0xA5);
    { LockedBuffer gone = std::move(moved); }
    unsigned char residency = 0;
    EXPECT_EQ(mincore(p, 4096, &residency), -1);  // unmapped
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
    EXPECT_EQ(error, EINVAL);
    EXPECT_EQ(ExitCodeOf(StartWithFirstTerminal({{"vorpane-no-such-terminal", "-e"}, {"env"}},
                                                {"test", "x", "=", "x"})),
              0);
    EXPECT_EQ(StartWithFirstTerminal({{"vorpane-no-such-terminal", "-e"}}, {"ping", "127.0.0.1"}),
              nullptr);
    // A running process is not finished; dropping it ends and reaps it.
    auto p = SpawnedProcess::Spawn({"sleep", "30"});
    ASSERT_NE(p, nullptr);
    EXPECT_FALSE(p->Finished());
    // Linux's ping goes on by itself; "-t" would set its time to live.
    EXPECT_EQ(ContinuousPingCommand("10.1.2.3"), (std::vector<std::string>{"ping", "10.1.2.3"}));
}

std::atomic<int> g_earlierHandlerRuns{0};
extern "C" void CountEarlierHandlerRun(int) {
    g_earlierHandlerRuns.fetch_add(1);
}

// SIGINT and SIGTERM sent to the process reach a waiting thread, whichever
// thread takes them; while the stop request is owned the earlier handler
// never runs, and it is back once the owner goes.
TEST(StopRequest, SignalsAreSeenWithinADeadlineAndTheEarlierHandlingComesBack) {
    struct sigaction earlier {};
    earlier.sa_handler = CountEarlierHandlerRun;
    sigemptyset(&earlier.sa_mask);
    struct sigaction saved[2];
    ASSERT_EQ(::sigaction(SIGINT, &earlier, &saved[0]) | ::sigaction(SIGTERM, &earlier, &saved[1]),
              0);
    for (const int signal : {SIGINT, SIGTERM}) {
        ExpectStopRequestsSeen([signal] { ::kill(::getpid(), signal); });
    }
    EXPECT_EQ(g_earlierHandlerRuns.load(), 0);
    std::raise(SIGINT);
    std::raise(SIGTERM);
    EXPECT_EQ(g_earlierHandlerRuns.load(), 2);
    ::sigaction(SIGINT, &saved[0], nullptr);
    ::sigaction(SIGTERM, &saved[1], nullptr);
}

}  // namespace
}  // namespace vorpane
