// Ping's window on Windows: a new console of its own, the program started
// by CreateProcessW from a quoted argument list, never through cmd.exe.

#include "platform/terminal.h"

#include <windows.h>

#include "platform/windows/command_line.h"
#include "platform/windows/wide_text.h"

namespace vorpane {

namespace windows {

std::wstring BuildCommandLine(const std::vector<std::string>& arguments) {
    std::wstring line;
    for (const std::string& argument : arguments) {
        if (!line.empty()) {
            line += L' ';
        }
        const std::wstring wide = Utf8ToWide(argument);
        if (!wide.empty() && wide.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
            line += wide;
            continue;
        }
        line += L'"';
        size_t backslashes = 0;
        for (const wchar_t c : wide) {
            if (c == L'\\') {
                ++backslashes;
                continue;
            }
            // Backslashes count double only before a quote.
            line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
            backslashes = 0;
            line += c;
        }
        // ...and before the closing quote.
        line.append(backslashes * 2, L'\\');
        line += L'"';
    }
    return line;
}

}  // namespace windows

namespace {

class ConsoleProcess final : public TerminalProcess {
public:
    explicit ConsoleProcess(HANDLE process) : m_process(process) {}
    ~ConsoleProcess() override { CloseHandle(m_process); }
    ConsoleProcess(const ConsoleProcess&) = delete;
    ConsoleProcess& operator=(const ConsoleProcess&) = delete;
    bool Finished() override { return WaitForSingleObject(m_process, 0) != WAIT_TIMEOUT; }

private:
    HANDLE m_process;
};

// A bare program name is taken from the system folder first, so that a
// ping.exe in the current directory is never the one that runs.
std::wstring SystemProgram(const std::string& name) {
    if (name.find_first_of("\\/:") != std::string::npos) {
        return {};
    }
    wchar_t folder[MAX_PATH];
    const UINT n = GetSystemDirectoryW(folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        return {};
    }
    std::wstring path = std::wstring(folder, n) + L"\\" + windows::Utf8ToWide(name);
    if (path.size() < 4 || _wcsicmp(path.c_str() + path.size() - 4, L".exe") != 0) {
        path += L".exe";
    }
    return GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES ? std::wstring() : path;
}

}  // namespace

std::unique_ptr<TerminalProcess> StartInTerminal(const std::vector<std::string>& command) {
    if (command.empty()) {
        return nullptr;
    }
    const std::wstring program = SystemProgram(command.front());
    std::wstring line = windows::BuildCommandLine(command);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(program.empty() ? nullptr : program.c_str(), line.data(), nullptr, nullptr,
                        FALSE, CREATE_NEW_CONSOLE, nullptr, nullptr, &startup, &info)) {
        return nullptr;
    }
    CloseHandle(info.hThread);
    return std::make_unique<ConsoleProcess>(info.hProcess);
}

std::vector<std::string> ContinuousPingCommand(const std::string& address) {
    // Windows' ping stops after four requests unless told -t.
    return {"ping", address, "-t"};
}

}  // namespace vorpane
