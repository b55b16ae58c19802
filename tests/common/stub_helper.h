#pragma once
// A copy of the stand-in helper (stub_helper.cpp) in a folder of its own,
// told how to answer, and what it saw when it ran.

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace vorpane {

class StubHelper {
public:
    // Answers with `status` after `waitMs` milliseconds.
    explicit StubHelper(int status, int waitMs = 0) {
        const auto base = std::filesystem::temp_directory_path() / "vorpane-stub-XXXXXX";
        std::string dir = base.string();
        m_dir = mkdtemp(dir.data()) != nullptr ? dir : "";
        m_path = m_dir + "/helper";
        std::filesystem::copy_file(VORPANE_STUB_HELPER, m_path);
        std::ofstream(m_path + ".answer") << status << ' ' << waitMs;
    }
    ~StubHelper() {
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }
    StubHelper(const StubHelper&) = delete;
    StubHelper& operator=(const StubHelper&) = delete;

    const std::string& Path() const { return m_path; }
    // Every run's "args ...", "env N", "fds ...", "stdin ..." lines; empty
    // when it never ran.
    std::string Seen() const {
        std::ostringstream out;
        out << std::ifstream(m_path + ".log").rdbuf();
        return out.str();
    }

private:
    std::string m_dir;
    std::string m_path;
};

}  // namespace vorpane
