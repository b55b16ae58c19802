#include <ctime>

#include "app/dialog_services.h"
#include "net/arp_cache.h"
#include "net/echo_probe.h"

namespace vorpane {

namespace {

class SystemEchoProber : public EchoProber {
public:
    int32_t Probe(const std::string& address, int32_t timeoutMs) override {
        return m_probe.Probe(address, timeoutMs);
    }

private:
    CEchoProbe m_probe;
};

}  // namespace

DialogServices MakeSystemServices(ui::WindowSystem& ws, PrinterLink& link) {
    DialogServices s;
    s.ws = &ws;
    s.link = &link;
    s.makeProber = [] { return std::make_unique<SystemEchoProber>(); };
    s.purgeArp = [](uint32_t value) { return PurgeArpAddress(value); };
    s.localTime = [] {
        const std::time_t now = std::time(nullptr);
        std::tm t{};
        localtime_r(&now, &t);
        return t;
    };
    return s;
}

}  // namespace vorpane
