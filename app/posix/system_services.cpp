#include "app/posix/system_services.h"

#include "net/echo_probe.h"
#include "net/posix/echo_arp_helper.h"

namespace vorpane {

const char kInstalledHelperPath[] = VORPANE_HELPER_PATH;

DialogServices MakeSystemServices(ui::WindowSystem& ws, PrinterLink& link) {
    return MakeSystemServices(ws, link, kInstalledHelperPath);
}

DialogServices MakeSystemServices(ui::WindowSystem& ws, PrinterLink& link,
                                  const std::string& helperPath) {
    DialogServices s;
    s.ws = &ws;
    s.link = &link;
    const EchoArpHelper helper(helperPath);
    s.makeProber = [helper] { return std::make_unique<SystemEchoProbe>(helper); };
    s.purgeArp = [helper](Ipv4Address address) { return PurgeArpAddress(address, helper); };
    return s;
}

}  // namespace vorpane
