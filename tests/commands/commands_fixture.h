#pragma once
// The main dialog with a printer online at 192.168.1.10, a fake terminal in
// place of real terminal windows, and the current directory put back after
// every test.

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "main_dialog_fixture.h"

namespace vorpane {

// A terminal command whose end the test decides.
struct FakeTerminal : TerminalProcess {
    explicit FakeTerminal(std::function<bool()> f) : finished(std::move(f)) {}
    bool Finished() override { return finished(); }
    std::function<bool()> finished;
};

using Frame = std::vector<uint8_t>;
using BoxList = std::vector<std::pair<std::string, uint32_t>>;

inline Frame Bytes(const std::string& s) {
    return {s.begin(), s.end()};
}

class CommandsTest : public MainDialogTest {
protected:
    static constexpr const char* kPrinter = "192.168.1.10";

    CommandsTest() {
        services.startInTerminal = [this](const std::vector<std::string>& command) {
            launched.push_back(command);
            return terminalAvailable ? std::make_unique<FakeTerminal>(terminalFinished) : nullptr;
        };
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

    // SendData calls so far, each to the printer with its bytes and their count.
    void ExpectSends(const std::vector<Frame>& frames) const {
        const auto sends = Sends();
        ASSERT_EQ(sends.size(), frames.size());
        for (size_t i = 0; i < frames.size(); ++i) {
            EXPECT_EQ(sends[i].address, kPrinter) << i;
            EXPECT_EQ(sends[i].bytes, frames[i]) << i;
            EXPECT_EQ(sends[i].a, static_cast<int32_t>(frames[i].size())) << i;
        }
    }

    BoxList Boxes() const {
        BoxList out;
        for (const auto& b : ws.ShownBoxes()) {
            out.emplace_back(b.text, b.style);
        }
        return out;
    }

    std::filesystem::path WriteFile(const std::string& name, const std::string& bytes) {
        std::ofstream(tempDir / name, std::ios::binary) << bytes;
        return tempDir / name;
    }

    std::vector<std::vector<std::string>> launched;
    bool terminalAvailable = true;
    std::function<bool()> terminalFinished = [] { return true; };
    const std::filesystem::path tempDir =
        std::filesystem::temp_directory_path() / ("vorpane-commands-" + std::to_string(getpid()));

private:
    const std::filesystem::path m_savedCwd = std::filesystem::current_path();
    const std::string m_savedStartDir = g_startDir;
};

}  // namespace vorpane
