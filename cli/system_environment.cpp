#include "cli/system_environment.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <iterator>

#include "cli/oui.h"
#include "net/arp_cache.h"
#include "platform/clock.h"
#include "platform/stop_request.h"
#include "printer_link/network_printer_link.h"

namespace vorpane {

namespace {

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
    SystemSide side = MakeSystemSide();
    static OuiNames oui(side.ouiPath);
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
    if (side.ouiPath.empty()) {
        env.vendorOf = [](const std::string&) { return std::string(); };
    } else {
        env.vendorOf = [](const std::string& mac) { return oui.VendorOf(mac); };
    }
    env.sweep = SystemSweep();
    env.localPrefixes = SystemLocalPrefixes();
    env.makeProber = std::move(side.makeProber);
    env.purgeArp = std::move(side.purgeArp);
    env.macSource = {SystemLocalTime, [](unsigned seed) { std::srand(seed); },
                     [] { return std::rand(); }, [] { return std::time(nullptr); }};
    env.catchStopRequests = []() -> const std::atomic<bool>* {
        // Caught from the first call to the end of the program.
        static const StopRequest::Installed stop = StopRequest::Install();
        return stop.stop ? &stop.stop->Flag() : nullptr;
    };
    env.now = [] { return std::chrono::system_clock::now(); };
    env.sleep = [](std::chrono::milliseconds period) {
        SystemSleepMs(static_cast<uint32_t>(period.count()));
        return true;
    };
    return env;
}

}  // namespace vorpane
