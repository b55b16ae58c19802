#include "discovery/netbios_sweep.h"

#include <algorithm>
#include <array>

#include "platform/ipv4_address.h"

namespace vorpane {

namespace {

std::array<uint8_t, kNetbiosQuerySize> BuildNetbiosNameQuery() {
    std::array<uint8_t, kNetbiosQuerySize> q{};
    q[0] = static_cast<uint8_t>(kNetbiosTransactionId >> 8);
    q[1] = static_cast<uint8_t>(kNetbiosTransactionId & 0xFF);
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

bool IsNetbiosNameQueryAnswer(std::span<const uint8_t> datagram, uint16_t sourcePort) {
    if (sourcePort != kNetbiosNameServicePort || datagram.size() < kNetbiosHeaderSize) {
        return false;
    }
    const auto id = static_cast<uint16_t>((datagram[0] << 8) | datagram[1]);
    const bool response = (datagram[2] & 0x80) != 0;
    const int opcode = (datagram[2] >> 3) & 0x0F;
    return id == kNetbiosTransactionId && response && opcode == 0;
}

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

    const uint32_t firstQuery = services.tickCountMs();
    socket.SendTo(query, services.destination);
    services.sleepMs(kNetbiosSendGapMs);
    socket.SendTo(query, services.destination);

    std::array<uint8_t, kNetbiosReceiveBufferSize> buffer{};
    uint32_t lastAnswer = services.tickCountMs();
    // Unsigned subtraction keeps both periods right across the clock's
    // wrap-around.
    auto listening = [&] {
        const uint32_t now = services.tickCountMs();
        return static_cast<uint32_t>(now - lastAnswer) < kNetbiosQuietPeriodMs &&
               static_cast<uint32_t>(now - firstQuery) < kNetbiosSweepLimitMs &&
               result.hosts.size() < kNetbiosMaxHosts;
    };
    while (listening()) {
        Ipv4Endpoint from;
        const UdpIoResult got = socket.ReceiveFrom(buffer, from);
        // Time-outs, errors and datagrams that do not answer our query
        // neither list a sender nor extend the quiet period.
        if (got.error != 0 || got.bytes <= 0) {
            continue;
        }
        const size_t size = std::min(static_cast<size_t>(got.bytes), buffer.size());
        if (IsNetbiosNameQueryAnswer(std::span(buffer).first(size), from.port)) {
            result.hosts.push_back(Ipv4Address::FromHostOrder(from.address).Text());
            lastAnswer = services.tickCountMs();
        }
    }
    return result;
}

}  // namespace vorpane
