// The system's services on Windows: probes on a raw socket for
// administrators, else through IP Helper's echo service; the ARP table
// through IP Helper, whose deletion Windows refuses to other users.

#include "app/dialog_services.h"
#include "net/arp_cache.h"
#include "net/windows/ip_helper.h"

namespace vorpane {

DialogServices MakeSystemServices(ui::WindowSystem& ws, PrinterLink& link) {
    DialogServices s;
    s.ws = &ws;
    s.link = &link;
    s.makeProber = [] { return std::make_unique<windows::SystemEchoProbe>(); };
    s.purgeArp = [](Ipv4Address address) {
        windows::IpNetTable table;
        return PurgeArpAddress(table, address);
    };
    return s;
}

}  // namespace vorpane
