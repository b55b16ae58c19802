#pragma once
// The main dialog with a printer online at 192.168.1.10, a fake terminal
// launcher in place of real terminal windows, and the process's current
// directory put back after every test.

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "main_dialog_fixture.h"

namespace vorpane {

// A terminal command whose end the test decides.
class FakeTerminal : public TerminalProcess {
public:
    explicit FakeTerminal(std::function<bool()> finished) : m_finished(std::move(finished)) {}
    bool Finished() override {
        ++polls;
        return m_finished();
    }
    int polls = 0;

private:
    std::function<bool()> m_finished;
};

class CommandsTest : public MainDialogTest {
protected:
    static constexpr const char* kPrinter = "192.168.1.10";

    CommandsTest() {
        services.startInTerminal = [this](const std::vector<std::string>& command) {
            launched.push_back(command);
            return terminalAvailable ? std::make_unique<FakeTerminal>(terminalFinished) : nullptr;
        };
        m_savedCwd = std::filesystem::current_path();
        m_savedStartDir = g_startDir;
        tempDir = std::filesystem::temp_directory_path() /
                  ("vorpane-commands-" + std::to_string(getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(tempDir);
        std::filesystem::create_directories(tempDir / "start");
        std::filesystem::create_directories(tempDir / "elsewhere");
    }
    ~CommandsTest() override {
        std::filesystem::current_path(m_savedCwd);
        g_startDir = m_savedStartDir;
        std::error_code ignored;
        std::filesystem::remove_all(tempDir, ignored);
    }

    void OpenOnline() {
        link.AddPrinter(kPrinter);
        Open();
        link.ClearCalls();
    }

    std::vector<TablePrinterLink::Call> Sends() const { return link.CallsOf("SendData"); }

    // SendData calls so far, each to the printer with its bytes and their
    // count.
    void ExpectSends(const std::vector<std::vector<uint8_t>>& frames) const {
        const auto sends = Sends();
        ASSERT_EQ(sends.size(), frames.size());
        for (size_t i = 0; i < frames.size(); ++i) {
            EXPECT_EQ(sends[i].address, kPrinter) << i;
            EXPECT_EQ(sends[i].bytes, frames[i]) << i;
            EXPECT_EQ(sends[i].a, static_cast<int32_t>(frames[i].size())) << i;
        }
    }

    using BoxList = std::vector<std::pair<std::string, uint32_t>>;
    // Every box shown so far: text and style.
    BoxList Boxes() const {
        BoxList out;
        for (const auto& b : ws.ShownBoxes()) {
            out.emplace_back(b.text, b.style);
        }
        return out;
    }

    std::filesystem::path WriteFile(const std::string& name, const std::string& bytes) {
        const auto path = tempDir / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    std::vector<std::vector<std::string>> launched;
    bool terminalAvailable = true;
    std::function<bool()> terminalFinished = [] { return true; };
    std::filesystem::path tempDir;

private:
    std::filesystem::path m_savedCwd;
    std::string m_savedStartDir;
};

inline std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<uint8_t> out;
    for (int v : values) {
        out.push_back(static_cast<uint8_t>(v));
    }
    return out;
}

inline std::vector<uint8_t> Bytes(const std::string& s) {
    return {s.begin(), s.end()};
}

}  // namespace vorpane
