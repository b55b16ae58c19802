// The program's system side on Windows: probes through IP Helper's echo
// service (or a raw socket for administrators), ARP deletions on IP Helper's
// table, Ctrl+C and Ctrl+Break as the request to stop, no OUI registry. The
// C runtime hands main() its arguments in the ANSI code page, which loses
// every character outside it, so they come from the wide command line.

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <atomic>
#include <memory>

#include "cli/system_environment.h"
#include "net/windows/ip_helper.h"
#include "platform/windows/wide_text.h"

namespace vorpane {

namespace {

std::atomic<bool> g_stopRequested{false};

BOOL WINAPI RequestStop(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
        return FALSE;
    }
    g_stopRequested.store(true);
    return TRUE;
}

struct LocalFreeDeleter {
    void operator()(LPWSTR* argv) const { LocalFree(argv); }
};

bool IsConsole(DWORD handle) {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(handle), &mode) != 0;
}

}  // namespace

SystemSide MakeSystemSide() {
    SystemSide side;
    side.makeProber = [] { return std::make_unique<windows::SystemEchoProbe>(); };
    side.purgeArp = [](Ipv4Address address) {
        windows::IpNetTable table;
        return PurgeArpAddress(table, address);
    };
    side.stopRequested = &g_stopRequested;
    side.catchStopRequests = [] { SetConsoleCtrlHandler(RequestStop, TRUE); };
    return side;
}

std::vector<std::string> ProgramArguments(int /*argc*/, char** /*argv*/) {
    int count = 0;
    const std::unique_ptr<LPWSTR, LocalFreeDeleter> wide(
        CommandLineToArgvW(GetCommandLineW(), &count));
    std::vector<std::string> args;
    for (int i = 1; wide && i < count; ++i) {
        args.push_back(windows::WideToUtf8(wide.get()[i]));
    }
    return args;
}

// A console shows bytes in its output code page, the OEM one unless told
// otherwise; the console is the user's and gets its code page back.
Utf8Terminal::Utf8Terminal() {
    if (IsConsole(STD_OUTPUT_HANDLE) || IsConsole(STD_ERROR_HANDLE)) {
        m_saved = GetConsoleOutputCP();
        SetConsoleOutputCP(CP_UTF8);
    }
}

Utf8Terminal::~Utf8Terminal() {
    if (m_saved != 0) {
        SetConsoleOutputCP(m_saved);
    }
}

}  // namespace vorpane
