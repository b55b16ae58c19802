#pragma once
// The NetBIOS name-service sweep that rules PCs out of a scan: one name query
// (the name of sixteen zero bytes, RFC 1002, broadcast bit clear, transaction
// id 0x8021) broadcast twice, and the sender address of every datagram that
// comes back until the network has been quiet for half a second.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "discovery/udp_socket.h"
#include "platform/clock.h"

namespace vorpane {

// What the sweep needs from outside: its socket, where the query goes, a
// 32-bit millisecond clock and a sleep. Production broadcasts to port 137;
// tests point the query at a peer of their own or script the socket.
struct NetbiosSweepServices {
    std::function<UdpSocketOrError()> openSocket = OpenSystemUdpSocket;
    Ipv4Endpoint destination{0xFFFFFFFFu, 137};
    std::function<uint32_t()> tickCountMs = SystemTickCountMs;
    std::function<void(uint32_t)> sleepMs = SystemSleepMs;
};

inline constexpr size_t kNetbiosQuerySize = 50;
inline constexpr int32_t kNetbiosReceiveTimeoutMs = 100;
inline constexpr uint32_t kNetbiosSendGapMs = 50;
inline constexpr uint32_t kNetbiosQuietPeriodMs = 500;
inline constexpr size_t kNetbiosReceiveBufferSize = 512;

struct NetbiosSweepResult {
    // The socket could not be opened or bound; nothing was sent.
    bool socketFailed = false;
    // Sender of every answer of one byte or more, in arrival order,
    // repeats kept.
    std::vector<std::string> hosts;
};

NetbiosSweepResult RunNetbiosSweep(const NetbiosSweepServices& services);

}  // namespace vorpane
