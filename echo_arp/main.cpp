// The privileged helper: one echo probe or one ARP row deletion per run, for
// a program that holds no capabilities itself. The package gives this file
// CAP_NET_RAW and CAP_NET_ADMIN in its permitted set only: a run keeps the one
// its request needs, puts it in force just around the call that needs it,
// and gives up the other at once. Any local user may run it; all it can do
// for them is what `ping` and a single ARP row deletion can do.
//
// The request comes only from the arguments (see net/echo_arp_request.h);
// the answer only from the exit status.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "net/echo_arp_request.h"
#include "net/echo_probe.h"
#include "net/posix/arp_cache_netlink.h"
#include "platform/capabilities.h"

namespace vorpane {
namespace {

// Opens the raw socket with CAP_NET_RAW in force, then gives up every
// capability: the probe reads the network's answers without any.
class RawSocketOnce final : public IcmpSocketFactory {
public:
    IcmpSocketOrError Open() override {
        IcmpSocketOrError opened;
        {
            const RaisedCapability raised(Capability::kNetRaw);
            opened = OpenRawIcmpSocket();
        }
        if (const int error = DropAllCapabilities(); error != 0) {
            return {nullptr, error};
        }
        return opened;
    }
};

// The neighbour table, of which only rows the kernel learned are deleted:
// a row an administrator pinned (a static gateway entry, say) is not any
// local user's to undo. CAP_NET_ADMIN is in force while the request goes
// out and given up for good before the kernel's answer is read.
class TableDeletingLearnedRows final : public NeighbourTable {
public:
    explicit TableDeletingLearnedRows(ArpCache& cache) : m_cache(cache) {}
    int Read(std::vector<ArpRow>& rows) override { return m_cache.Read(rows); }
    int Delete(const ArpRow& row) override {
        if (!IsLearnedRow(row)) {
            return EPERM;
        }
        uint32_t sequence = 0;
        {
            const RaisedCapability raised(Capability::kNetAdmin);
            if (raised.Error() != 0) {
                return raised.Error();
            }
            if (const int error = m_cache.SendDelete(row, sequence); error != 0) {
                return error;
            }
        }
        if (const int error = DropAllCapabilities(); error != 0) {
            return error;
        }
        return m_cache.AwaitDeleteAnswer(sequence);
    }

private:
    ArpCache& m_cache;
};

int32_t Echo(const HelperRequest& request) {
    if (KeepOnlyCapability(Capability::kNetRaw) != 0) {
        return -1;
    }
    RawSocketOnce sockets;
    return CEchoProbe(sockets).Probe(request.address.Text(), request.timeoutMs);
}

int32_t DeleteArpRow(const HelperRequest& request) {
    if (KeepOnlyCapability(Capability::kNetAdmin) != 0) {
        return 0;
    }
    // The kernel checks the capability of whoever opened the socket as well
    // as of whoever sends the deletion.
    ArpCacheOrError opened = [] {
        const RaisedCapability raised(Capability::kNetAdmin);
        return ArpCache::Open();
    }();
    if (!opened.cache) {
        return 0;
    }
    TableDeletingLearnedRows table(*opened.cache);
    return PurgeArpAddress(table, request.address);
}

// Standard input, output and error open (on the null device if they came
// closed, so that no socket opened later can be taken for one of them), and
// no other descriptor of the caller's.
bool OnlyStandardDescriptors() {
    for (int fd = 0; fd < 3; ++fd) {
        if (fcntl(fd, F_GETFD) < 0 && open("/dev/null", O_RDWR) != fd) {
            return false;
        }
    }
    closefrom(3);
    return true;
}

}  // namespace
}  // namespace vorpane

int main(int argc, char** argv) {
    using namespace vorpane;
    // Nothing below reads the environment; clearing it keeps it so.
    clearenv();
    if (!OnlyStandardDescriptors()) {
        return HelperStatus(-1);
    }
    const std::span<const char* const> arguments =
        argc > 0 ? std::span<const char* const>(argv + 1, static_cast<size_t>(argc - 1))
                 : std::span<const char* const>();
    const HelperRequestOrRefusal parsed = ParseHelperRequest(arguments);
    if (!parsed.request) {
        std::fprintf(stderr,
                     VORPANE_HELPER_NAME
                     ": request refused: %s\n"
                     "usage: " VORPANE_HELPER_NAME
                     " echo ADDRESS TIMEOUT_MS\n"
                     "       " VORPANE_HELPER_NAME " arp-delete ADDRESS\n",
                     parsed.refusal.c_str());
        return kHelperRefused;
    }
    const HelperRequest& request = *parsed.request;
    return HelperStatus(request.operation == HelperRequest::Operation::kEcho
                            ? Echo(request)
                            : DeleteArpRow(request));
}
