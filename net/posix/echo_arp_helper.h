#pragma once
// The echo probe and the ARP purge for a program that holds no privilege:
// what the system lets it do itself, and the rest through the small helper
// program that carries the two capabilities (vorpane-echo-arp, see
// echo_arp_request.h for what it is asked and how it answers).

#include <cstdint>
#include <string>

#include "net/echo_probe.h"
#include "platform/ipv4_address.h"

namespace vorpane {

// Runs the helper program at one fixed path.
class EchoArpHelper {
public:
    explicit EchoArpHelper(std::string path) : m_path(std::move(path)) {}

    // One probe as CEchoProbe::Probe answers it; -1 also when the helper
    // cannot be run, refuses the request or does not answer in time.
    int32_t Probe(const std::string& address, int32_t timeoutMs) const;
    // Deletes the first ARP row of `address` as PurgeArpAddress does: 1
    // deleted or none there, 0 otherwise (the helper not run or not
    // answering included).
    int32_t DeleteArpRow(Ipv4Address address) const;

private:
    std::string m_path;
};

// Every probe through the helper.
class HelperEchoProbe final : public EchoProber {
public:
    explicit HelperEchoProbe(EchoArpHelper helper) : m_helper(std::move(helper)) {}
    int32_t Probe(const std::string& address, int32_t timeoutMs) override {
        return m_helper.Probe(address, timeoutMs);
    }

private:
    EchoArpHelper m_helper;
};

// Each probe on the first of these that the system allows: a raw ICMP
// socket (CAP_NET_RAW), the unprivileged ICMP socket (ping_group_range), the
// helper; -1 when none can be had.
class SystemEchoProbe final : public EchoProber {
public:
    explicit SystemEchoProbe(EchoArpHelper helper,
                             IcmpSocketFactory& sockets = SystemIcmpSocketFactory::Instance())
        : m_helper(std::move(helper)), m_sockets(sockets) {}
    int32_t Probe(const std::string& address, int32_t timeoutMs) override;

private:
    EchoArpHelper m_helper;
    IcmpSocketFactory& m_sockets;
};

// PurgeArpAddress on the calling thread's neighbour table, the row deleted
// directly with CAP_NET_ADMIN, else through the helper. Only a row that is
// there needs the privilege: the table is read directly either way.
int32_t PurgeArpAddress(Ipv4Address address, const EchoArpHelper& helper);

}  // namespace vorpane
