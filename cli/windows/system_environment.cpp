// The program's system side on Windows: probes through IP Helper's echo
// service (or a raw socket for administrators), ARP deletions on IP Helper's
// table, no OUI registry.

#include <windows.h>

#include <memory>

#include "cli/system_environment.h"
#include "net/windows/ip_helper.h"

namespace vorpane {

namespace {

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
    return side;
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
