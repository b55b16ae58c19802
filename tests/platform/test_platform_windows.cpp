// The platform's Windows side: command lines as the C runtime reads them
// back, the ANSI code page, whole files and reads at an offset under any
// name, with their error codes, and a program in a console of its own.

#include <gtest/gtest.h>

#include <windows.h>

#include <shellapi.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "directory_checks.h"
#include "file_reader_reads.h"
#include "platform/codepage.h"
#include "platform/file_reader.h"
#include "platform/terminal.h"
#include "platform/whole_file.h"
#include "platform/windows/command_line.h"
#include "platform/windows/wide_text.h"
#include "stop_request_checks.h"

namespace vorpane {
namespace {

using Args = std::vector<std::string>;

Args ParsedBack(const std::wstring& line) {
    // The program name is parsed by other rules; a plain one goes first.
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW((L"p " + line).c_str(), &count);
    Args out;
    for (int i = 1; i < count; ++i) {
        out.push_back(windows::WideToUtf8(argv[i]));
    }
    LocalFree(argv);
    return out;
}

TEST(WindowsCommandLine, EveryArgumentComesBackAsItWas) {
    EXPECT_EQ(windows::BuildCommandLine(ContinuousPingCommand("10.1.2.3")), L"ping 10.1.2.3 -t");
    const Args cases[] = {
        {"plain", "with space", "tab\there", ""},
        {"quote\"inside", "\"", "trailing\\", "back\\\\slashes\\\"quoted", "C:\\dir with space\\"},
        {"x & y | z", "%PATH%", "^caret", "\xC3\xBC\xE4\xB8\xAD"},
    };
    for (const Args& args : cases) {
        EXPECT_EQ(ParsedBack(windows::BuildCommandLine(args)), args);
    }
}

// The test page and the payload go out in the ANSI code page, whichever it
// is. Every row runs on its own page (wine's ANSI page is its locale's, 1252
// here); the system's functions must agree with the row of the current one.
TEST(WindowsCodePage, ConversionsFollowTheAnsiCodePage) {
    struct Case {
        UINT page;
        std::string utf8, system, back;                   // back: `system` read back as UTF-8
        std::vector<std::pair<size_t, size_t>> prefixes;  // limit, length
    };
    const Case cases[] = {
        {1252, "A\xC3\xA9\xE4\xB8\xAD", "A\xE9?", "A\xC3\xA9?", {{1, 1}, {2, 2}, {9, 3}}},
        {936,
         "A\xE4\xB8\xAD\xC3\xA9",
         "A\xD6\xD0\xA8\xA6",
         "A\xE4\xB8\xAD\xC3\xA9",
         {{1, 1}, {2, 1}, {3, 3}, {4, 3}, {5, 5}}},
    };
    bool currentSeen = false;
    for (const Case& c : cases) {
        EXPECT_EQ(windows::FromWide(c.page, windows::Utf8ToWide(c.utf8)), c.system) << c.page;
        EXPECT_EQ(windows::WideToUtf8(windows::ToWide(c.page, c.system)), c.back) << c.page;
        for (const auto& [limit, length] : c.prefixes) {
            EXPECT_EQ(windows::PrefixLength(c.page, c.system, limit), length)
                << c.page << " " << limit;
        }
        if (c.page == GetACP()) {
            currentSeen = true;
            EXPECT_EQ(Utf8ToSystem(c.utf8), c.system);
            EXPECT_EQ(SystemToUtf8(c.system), c.back);
            for (const auto& [limit, length] : c.prefixes) {
                EXPECT_EQ(SystemPrefixLength(c.system, limit), length) << limit;
            }
        }
    }
    if (!currentSeen) {
        GTEST_SKIP() << "no row for code page " << GetACP();
    }
}

TEST(WindowsWholeFile, ReadsTheFileAndGivesTheSystemsErrorCodes) {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("vorpane-wf-" + std::to_string(GetCurrentProcessId()));
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "receipt", std::ios::binary) << "AB\nC";
    const WholeFile file = ReadWholeFile((dir / "receipt").string());
    ASSERT_EQ(file.status, WholeFile::Status::kRead);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.buffer->Data()), file.got), "AB\nC");
    EXPECT_EQ(ReadWholeFile((dir / "missing").string()).error, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(ReadWholeFile(dir.string()).error, ERROR_ACCESS_DENIED);
    std::filesystem::remove_all(dir);
}

// 收据 is outside code page 1252 and 영수증 outside 1252 and 936: the name
// opens in both.
TEST(WindowsFileReader, ReadsAtAnyOffsetUnderAnyNameAndGivesTheSystemsErrorCodes) {
    const auto dir = std::filesystem::temp_directory_path() /
                     (L"vorpane-收据-영수증-" + std::to_wstring(GetCurrentProcessId()));
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "font", std::ios::binary) << "0123456789";
    auto opened = FileReader::Open(windows::WideToUtf8((dir / "font").wstring()));
    ASSERT_TRUE(opened.file) << opened.error;
    ExpectDigitsReadAtAnyOffset(*opened.file, 1ull << 32);
    opened.file.reset();  // Windows removes no file that is open
    EXPECT_EQ(FileReader::Open(windows::WideToUtf8((dir / "missing").wstring())).error,
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(FileReader::Open(windows::WideToUtf8(dir.wstring())).error, ERROR_ACCESS_DENIED);
    std::filesystem::remove_all(dir);
}

// Folders under a name neither code page 1252 nor 936 can spell; both
// separators part names, and a drive's colon too.
TEST(WindowsDirectory, FoldersUnderAnyNameAreMadeListedAndRemoved) {
    ExpectFoldersMadeListedAndRemoved(
        windows::WideToUtf8((std::filesystem::temp_directory_path() /
                             (L"vorpane-영수증-€-" + std::to_wstring(GetCurrentProcessId())))
                                .wstring()));
    ExpectPathNames('\\');
    EXPECT_EQ(PathStem("a.d/receipt"), "a.d/receipt");
    EXPECT_EQ(JoinPath("C:", "x.png"), "C:x.png");
}

// Wine's ping takes -n but no -t, so the console runs two requests to
// loopback and ends by itself.
TEST(WindowsTerminal, PingRunsInAConsoleOfItsOwnAndEnds) {
    EXPECT_EQ(StartInTerminal({"vorpane-no-such-program"}), nullptr);
    const auto ping = StartInTerminal({"ping", "127.0.0.1", "-n", "2"});
    ASSERT_NE(ping, nullptr);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!ping->Finished() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(ping->Finished());
}

// A console event cannot be sent to this process alone (it goes to every
// process of the console, wine's included), so the requests here come from
// a thread: the console handler itself is not driven by a test.
TEST(WindowsStopRequest, RequestsFromAnyThreadAreSeenWithinADeadline) {
    ExpectStopRequestsSeen(nullptr);
}

}  // namespace
}  // namespace vorpane
