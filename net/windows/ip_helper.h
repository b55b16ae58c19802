#pragma once
// IP Helper on Windows: the ICMP echo service that probes without a raw
// socket (IcmpSendEcho2, for users who are not administrators), and the ARP
// table (GetIpNetTable, DeleteIpNetEntry). The system's calls come through
// tables that tests fill with stand-ins, for what wine does not do as
// Windows does (it drops the IP options of the echo service and deletes no
// ARP row).

#include <winsock2.h>

#include <windows.h>

// After <windows.h>, in this order.
#include <iphlpapi.h>

#include <icmpapi.h>

#include <cstdint>
#include <string>

#include "net/arp_cache.h"
#include "net/echo_probe.h"

namespace vorpane::windows {

struct IcmpServiceCalls {
    decltype(&IcmpCreateFile) create = IcmpCreateFile;
    decltype(&IcmpCloseHandle) close = IcmpCloseHandle;
    decltype(&IcmpSendEcho2) sendEcho2 = IcmpSendEcho2;
};

// One probe as CEchoProbe answers it, through the echo service: one echo
// request carrying the same Record-Route option and as many bytes, waited
// for one time-out (within CEchoProbe's bound). 1 when anything came back
// from the address, 0 when nothing did (the time-out, the host or a router
// on the way saying it is unreachable), -1 when the probe could not be made.
class ServiceEchoProbe final : public EchoProber {
public:
    explicit ServiceEchoProbe(const IcmpServiceCalls& calls = {}) : m_calls(calls) {}
    int32_t Probe(const std::string& address, int32_t timeoutMs) override;

    // The time to live of the request: Windows' own default.
    static constexpr uint8_t kTimeToLive = 128;

private:
    IcmpServiceCalls m_calls;
};

// Each probe on a raw socket where the user may have one (administrators),
// else through the echo service.
class SystemEchoProbe final : public EchoProber {
public:
    int32_t Probe(const std::string& address, int32_t timeoutMs) override;
};

struct IpNetCalls {
    decltype(&GetIpNetTable) getTable = GetIpNetTable;
    decltype(&DeleteIpNetEntry) deleteEntry = DeleteIpNetEntry;
};

// The host's ARP table. Deleting a row needs an administrator; otherwise
// Delete answers EPERM.
class IpNetTable final : public NeighbourTable {
public:
    explicit IpNetTable(const IpNetCalls& calls = {}) : m_calls(calls) {}
    int Read(std::vector<ArpRow>& rows) override;
    int Delete(const ArpRow& row) override;

private:
    IpNetCalls m_calls;
};

}  // namespace vorpane::windows
