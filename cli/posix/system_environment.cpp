// The program's system side on Linux: probes and ARP deletions through the
// privileged helper, Debian's OUI registry, and arguments and terminals that
// already speak UTF-8.

#include "cli/system_environment.h"
#include "cli/oui.h"
#include "net/posix/echo_arp_helper.h"

namespace vorpane {

SystemSide MakeSystemSide() {
    const EchoArpHelper helper(VORPANE_HELPER_PATH);
    SystemSide side;
    side.makeProber = [helper] { return std::make_unique<SystemEchoProbe>(helper); };
    side.purgeArp = [helper](Ipv4Address address) { return PurgeArpAddress(address, helper); };
    side.ouiPath = kSystemOuiPath;
    return side;
}

Utf8Terminal::Utf8Terminal() = default;
Utf8Terminal::~Utf8Terminal() = default;

}  // namespace vorpane
