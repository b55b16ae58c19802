#include "net/posix/echo_arp_helper.h"

#include <cerrno>
#include <chrono>

#include "net/echo_arp_request.h"
#include "net/posix/arp_cache_netlink.h"
#include "platform/capabilities.h"
#include "platform/process.h"

namespace vorpane {

namespace {

// The helper bounds its own work (a probe ends kTimeoutsPerProbe time-outs
// after its request; the kernel answers a neighbour request at once); past
// these it is killed and counts as not answering.
constexpr std::chrono::milliseconds kStartSlack{2000};
constexpr std::chrono::milliseconds kArpDeadline{5000};

// The neighbour table read directly; a deletion without CAP_NET_ADMIN goes
// to the helper.
class TableWithHelper final : public NeighbourTable {
public:
    TableWithHelper(ArpCache& cache, const EchoArpHelper& helper)
        : m_cache(cache), m_helper(helper) {}
    int Read(std::vector<ArpRow>& rows) override { return m_cache.Read(rows); }
    int Delete(const ArpRow& row) override {
        if (HasCapability(Capability::kNetAdmin)) {
            return m_cache.Delete(row);
        }
        return m_helper.DeleteArpRow(Ipv4Address::FromNetworkOrder(row.address)) == 1 ? 0 : EPERM;
    }

private:
    ArpCache& m_cache;
    const EchoArpHelper& m_helper;
};

}  // namespace

int32_t EchoArpHelper::Probe(const std::string& address, int32_t timeoutMs) const {
    // Text that is no address would only be refused by the helper.
    const std::optional<Ipv4Address> parsed = Ipv4Address::Parse(address);
    if (!parsed) {
        return -1;
    }
    const HelperRequest request{HelperRequest::Operation::kEcho, *parsed, timeoutMs};
    const ProgramExit exit = RunProgram(
        m_path, HelperArguments(request),
        std::chrono::milliseconds(static_cast<int64_t>(timeoutMs) * CEchoProbe::kTimeoutsPerProbe) +
            kStartSlack);
    return HelperResult(exit.status).value_or(-1);
}

int32_t EchoArpHelper::DeleteArpRow(Ipv4Address address) const {
    const HelperRequest request{HelperRequest::Operation::kArpDelete, address, 0};
    const ProgramExit exit = RunProgram(m_path, HelperArguments(request), kArpDeadline);
    return HelperResult(exit.status) == 1 ? 1 : 0;
}

int32_t SystemEchoProbe::Probe(const std::string& address, int32_t timeoutMs) {
    IcmpSocketOrError opened = m_sockets.Open();
    if (opened.socket) {
        OpenedIcmpSocket socket(std::move(opened.socket));
        return CEchoProbe(socket).Probe(address, timeoutMs);
    }
    // Only a refusal sends the probe to the helper; any other failure would
    // fail there too.
    if (opened.error != EPERM && opened.error != EACCES) {
        return -1;
    }
    return m_helper.Probe(address, timeoutMs);
}

int32_t PurgeArpAddress(Ipv4Address address, const EchoArpHelper& helper) {
    ArpCacheOrError opened = ArpCache::Open();
    if (!opened.cache) {
        return 0;
    }
    TableWithHelper table(*opened.cache, helper);
    return PurgeArpAddress(table, address);
}

}  // namespace vorpane
