#pragma once
// The NetBIOS name-service sweep that rules PCs out of a scan: one name query
// (the name of sixteen zero bytes, RFC 1002, broadcast bit clear, transaction
// id 0x8021) broadcast twice, and the sender address of every name query
// response to it that comes back until the network has been quiet for half a
// second. Anyone on the LAN can send us datagrams, so the sweep also ends a
// few seconds after the first query and once its list is full, whatever
// still arrives.

#include <cstdint>
#include <functional>
#include <span>
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
// The sweep freezes the window, so a peer that keeps answering must not keep
// it open: whatever arrives, listening stops this long after the first query.
// Hosts answer a query at once; 3 s leaves slow ones ample room.
inline constexpr uint32_t kNetbiosSweepLimitMs = 3000;
// Room for every address of the /24 a scan covers answering both queries
// (repeats are listed). Beyond that a list only costs memory and lookup time
// to a flood, so the sweep ends when it is full.
inline constexpr size_t kNetbiosMaxHosts = 2 * 254;
// Only a name service header (RFC 1002) from the name service port carrying
// our transaction id, with the response bit set and the query opcode, counts.
inline constexpr size_t kNetbiosHeaderSize = 12;
inline constexpr uint16_t kNetbiosNameServicePort = 137;
inline constexpr uint16_t kNetbiosTransactionId = 0x8021;

struct NetbiosSweepResult {
    // The socket could not be opened or bound; nothing was sent.
    bool socketFailed = false;
    // Sender of every answer (see IsNetbiosNameQueryAnswer), in arrival
    // order, repeats kept, at most kNetbiosMaxHosts.
    std::vector<std::string> hosts;
};

// Whether a datagram is a response to our name query: at least a header,
// from port 137, transaction id 0x8021, response bit set, opcode 0 (query).
// The result code and the records are not examined: a negative answer still
// tells that a NetBIOS host lives at the sender's address.
bool IsNetbiosNameQueryAnswer(std::span<const uint8_t> datagram, uint16_t sourcePort);

NetbiosSweepResult RunNetbiosSweep(const NetbiosSweepServices& services);

}  // namespace vorpane
