#include <set>

#include "cli/system_environment.h"
#include "discovery/port_sweep.h"
#include "platform/network_interfaces.h"
#include "platform/resource_limits.h"

namespace vorpane {

SweepFunction SystemSweep() {
    return [](const std::vector<std::string>& prefixes, uint16_t port, int32_t timeoutMs) {
        FoundPrinters found;
        std::vector<Ipv4Prefix> sweep;
        const LocalInterfaces local = ReadLocalInterfaces();
        if (prefixes.empty()) {
            found.error = local.error;
            sweep = DefaultScanPrefixes(local.interfaces);
        }
        for (const std::string& text : prefixes) {
            if (const auto prefix = Ipv4Prefix::Parse(text)) {
                sweep.push_back(*prefix);
            }
        }
        // Overlapping prefixes sweep each host once, in ascending order.
        std::set<Ipv4Address> hosts;
        for (const Ipv4Prefix& prefix : sweep) {
            const std::vector<Ipv4Address> some = prefix.Hosts();
            hosts.insert(some.begin(), some.end());
        }
        if (found.error != 0 || hosts.empty()) {
            return found;
        }
        const std::vector<Ipv4Address> list(hosts.begin(), hosts.end());
        SweepOptions options;
        options.port = port;
        options.timeoutMs = timeoutMs;
        // main raised the soft limit to the hard one before anything else.
        options.maxOpenSockets = SweepWindow(CurrentOpenFileLimit().soft);
        options.onLink = LinkPrefixes(local.interfaces);
        options.maxOnLinkPending = OnLinkWindow(NeighbourTableSize());
        const SweepResult result = SweepPort(list, options);
        found.error = result.error;
        for (const SweepHit& hit : result.hits) {
            found.addresses.push_back(hit.address);
            found.statusBytes.push_back(hit.status ? int32_t{*hit.status} : -1);
        }
        return found;
    };
}

decltype(CliEnvironment::localPrefixes) SystemLocalPrefixes() {
    return [] { return DefaultScanPrefixes(ReadLocalInterfaces().interfaces); };
}

}  // namespace vorpane
