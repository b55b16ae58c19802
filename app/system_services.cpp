#include "app/dialog_services.h"
#include "net/arp_cache.h"
#include "net/echo_probe.h"

namespace vorpane {

DialogServices MakeSystemServices(ui::WindowSystem& ws, PrinterLink& link) {
    DialogServices s;
    s.ws = &ws;
    s.link = &link;
    s.makeProber = [] { return std::make_unique<CEchoProbe>(); };
    s.purgeArp = [](uint32_t value) { return PurgeArpAddress(value); };
    return s;
}

}  // namespace vorpane
