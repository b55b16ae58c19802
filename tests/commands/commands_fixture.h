#pragma once
// The main dialog with a printer online at 192.168.1.10, a fake terminal
// launcher in place of real terminal windows, and the process's current
// directory put back after every test.

#include <unistd.h>

#include <atomic>
#include <filesystem>
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

    std::filesystem::path WriteFile(const std::string& name, const std::string& bytes) {
        const auto path = tempDir / name;
        FILE* f = std::fopen(path.c_str(), "wb");
        EXPECT_NE(f, nullptr);
        if (f != nullptr) {
            std::fwrite(bytes.data(), 1, bytes.size(), f);
            std::fclose(f);
        }
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
