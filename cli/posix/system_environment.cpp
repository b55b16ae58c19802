#include "cli/system_environment.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <iterator>

#include "cli/oui.h"
#include "net/arp_cache.h"
#include "net/posix/echo_arp_helper.h"
#include "platform/clock.h"
#include "printer_link/network_printer_link.h"

namespace vorpane {

namespace {

std::atomic<bool> g_stopRequested{false};

extern "C" void RequestStop(int /*signal*/) {
    g_stopRequested.store(true);
}

std::string MacOf(Ipv4Address address) {
    NeighbourTableOrError opened = OpenSystemNeighbourTable();
    std::vector<ArpRow> rows;
    if (!opened.table || opened.table->Read(rows) != 0) {
        return {};
    }
    std::string text;
    for (uint8_t byte : FindLinkAddress(rows, address).value_or(std::vector<uint8_t>{})) {
        char pair[4];
        std::snprintf(pair, sizeof pair, text.empty() ? "%02x" : ":%02x", byte);
        text += pair;
    }
    return text;
}

}  // namespace

CliEnvironment MakeSystemEnvironment(std::ostream& out, std::ostream& err) {
    static OuiNames oui;
    const EchoArpHelper helper(VORPANE_HELPER_PATH);
    CliEnvironment env;
    env.out = &out;
    env.err = &err;
    env.readInput = [] {
        return std::string(std::istreambuf_iterator<char>(std::cin),
                           std::istreambuf_iterator<char>());
    };
    env.makeLink = [](uint16_t port, int32_t timeoutMs) {
        auto link = std::make_unique<NetworkPrinterLink>(port);
        link->SetTimeOut(0, timeoutMs);
        return link;
    };
    env.macOf = MacOf;
    env.vendorOf = [](const std::string& mac) { return oui.VendorOf(mac); };
    env.sweep = SystemSweep();
    env.localPrefixes = SystemLocalPrefixes();
    env.makeProber = [helper] { return std::make_unique<SystemEchoProbe>(helper); };
    env.purgeArp = [helper](Ipv4Address address) { return PurgeArpAddress(address, helper); };
    env.macSource = {SystemLocalTime, [](unsigned seed) { std::srand(seed); },
                     [] { return std::rand(); }, [] { return std::time(nullptr); }};
    env.stopRequested = &g_stopRequested;
    env.catchStopRequests = [] {
        std::signal(SIGINT, RequestStop);
        std::signal(SIGTERM, RequestStop);
    };
    env.now = [] { return std::chrono::system_clock::now(); };
    env.sleep = [](std::chrono::milliseconds period) {
        SystemSleepMs(static_cast<uint32_t>(period.count()));
        return true;
    };
    return env;
}

}  // namespace vorpane
