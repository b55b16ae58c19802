// The program's system side on Linux: probes and ARP deletions through the
// privileged helper, SIGINT and SIGTERM as the request to stop, Debian's
// OUI registry, and arguments and terminals that already speak UTF-8.

#include <atomic>
#include <csignal>

#include "cli/oui.h"
#include "cli/system_environment.h"
#include "net/posix/echo_arp_helper.h"

namespace vorpane {

namespace {

std::atomic<bool> g_stopRequested{false};

extern "C" void RequestStop(int /*signal*/) {
    g_stopRequested.store(true);
}

}  // namespace

SystemSide MakeSystemSide() {
    const EchoArpHelper helper(VORPANE_HELPER_PATH);
    SystemSide side;
    side.makeProber = [helper] { return std::make_unique<SystemEchoProbe>(helper); };
    side.purgeArp = [helper](Ipv4Address address) { return PurgeArpAddress(address, helper); };
    side.stopRequested = &g_stopRequested;
    side.catchStopRequests = [] {
        std::signal(SIGINT, RequestStop);
        std::signal(SIGTERM, RequestStop);
    };
    side.ouiPath = kSystemOuiPath;
    return side;
}

Utf8Terminal::Utf8Terminal() = default;
Utf8Terminal::~Utf8Terminal() = default;

}  // namespace vorpane
