#include "discovery/netbios_sweep.h"

#include <array>

#include "platform/address_text.h"

namespace vorpane {

namespace {

std::array<uint8_t, kNetbiosQuerySize> BuildNetbiosNameQuery() {
    std::array<uint8_t, kNetbiosQuerySize> q{};
    q[0] = 0x80;  // transaction id
    q[1] = 0x21;
    // Flags 0: a plain query; the broadcast bit stays clear.
    q[5] = 0x01;  // one question
    q[12] = 0x20;
    for (size_t i = 13; i < 45; ++i) {
        q[i] = 'A';  // first-level encoding of sixteen zero bytes
    }
    q[45] = 0x00;
    q[47] = 0x20;  // type NB
    q[49] = 0x01;  // class IN
    return q;
}

}  // namespace

NetbiosSweepResult RunNetbiosSweep(const NetbiosSweepServices& services) {
    NetbiosSweepResult result;
    const auto query = BuildNetbiosNameQuery();

    UdpSocketOrError opened = services.openSocket();
    if (!opened.socket) {
        result.socketFailed = true;
        return result;
    }
    UdpSocket& socket = *opened.socket;
    // Without broadcast the query just goes nowhere, and a missing time-out
    // only coarsens the quiet period, so neither result stops the sweep.
    socket.SetBroadcast(true);
    socket.SetReceiveTimeout(kNetbiosReceiveTimeoutMs);
    // Port 0: the system picks a free one, so the query never comes back to
    // us the way it would to a socket on 137.
    if (socket.Bind(Ipv4Endpoint{0, 0}) != 0) {
        result.socketFailed = true;
        return result;
    }

    socket.SendTo(query, services.destination);
    services.sleepMs(kNetbiosSendGapMs);
    socket.SendTo(query, services.destination);

    std::array<uint8_t, kNetbiosReceiveBufferSize> buffer{};
    uint32_t lastAnswer = services.tickCountMs();
    // Unsigned subtraction keeps the quiet period right across the clock's
    // wrap-around.
    while (static_cast<uint32_t>(services.tickCountMs() - lastAnswer) < kNetbiosQuietPeriodMs) {
        Ipv4Endpoint from;
        const UdpIoResult got = socket.ReceiveFrom(buffer, from);
        if (got.error == 0 && got.bytes > 0) {
            result.hosts.push_back(Ipv4Text(from.address));
            lastAnswer = services.tickCountMs();
        }
    }
    return result;
}

}  // namespace vorpane
