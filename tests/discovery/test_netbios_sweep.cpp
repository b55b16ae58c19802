// The NetBIOS sweep: its socket settings, query and exact timing (clock wrap
// too) against a scripted socket. The real broadcast is the discovery lab's.

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

#include "discovery/netbios_sweep.h"
#include "fake_udp_socket.h"
#include "platform/unique_fd.h"

namespace vorpane {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

constexpr uint32_t Ip(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    return (a << 24) | (b << 16) | (c << 8) | d;
}

// Header, the name "*" encoded as 32 'A's, type NBSTAT, class IN; made in
// place (GCC 12 at -O3 mistakes growing it for an out-of-bounds copy).
std::vector<uint8_t> ExpectedQuery() {
    constexpr uint8_t kHeader[] = {0x80, 0x21, 0x00, 0x00, 0x00, 0x01, 0x00,
                                   0x00, 0x00, 0x00, 0x00, 0x00, 0x20};
    constexpr uint8_t kTail[] = {0x00, 0x00, 0x20, 0x00, 0x01};
    std::vector<uint8_t> q(std::size(kHeader) + 32 + std::size(kTail), 0x41);
    std::copy(std::begin(kHeader), std::end(kHeader), q.begin());
    std::copy(std::begin(kTail), std::end(kTail), q.end() - std::size(kTail));
    return q;
}

// ---------------------------------------------------------------------------
// Against a scripted socket and clock

TEST(NetbiosSweep, SendsTheQueryTwiceFiftyMsApartFromABroadcastSocketOnPortZero) {
    FakeUdpNetwork net;
    const auto result = RunNetbiosSweep(net.Services());
    EXPECT_FALSE(result.socketFailed);
    EXPECT_EQ(net.broadcastCalls, 1);
    EXPECT_TRUE(net.broadcast);
    EXPECT_EQ(net.receiveTimeoutMs, 100);
    EXPECT_EQ(net.binds, std::vector<Ipv4Endpoint>{(Ipv4Endpoint{0, 0})});
    ASSERT_EQ(net.sent.size(), 2u);
    for (const auto& sent : net.sent) {
        EXPECT_EQ(sent.bytes, ExpectedQuery());
        EXPECT_EQ(sent.to, (Ipv4Endpoint{0xFFFFFFFFu, 137}));
    }
    EXPECT_EQ(net.sleeps, std::vector<uint32_t>{50});
    EXPECT_EQ(net.sent[1].atMs - net.sent[0].atMs, 50u);
    EXPECT_EQ(net.receives, 5);  // 500 ms of quiet in 100 ms receives
    EXPECT_EQ(net.closed, net.opened);
}

TEST(NetbiosSweep, ListsEveryAnswerUntilFiveHundredMsOfQuiet) {
    struct Answer {
        uint32_t afterMs;  // from the start of the sweep
        uint32_t host;     // 192.168.1.host
        int32_t bytes;
    };
    const struct {
        const char* name;
        uint32_t clock;
        std::vector<Answer> answers;
        std::vector<int> hosts;  // 192.168.1.n
        uint32_t elapsedMs;
    } cases[] = {
        // 50 ms between the queries, then answers 400 ms apart; the last
        // comes 700 ms after the one before.
        {"answers under 500 ms apart extend it",
         100000,
         {{450, 5, 50}, {850, 6, 50}, {1250, 7, 50}, {1950, 8, 50}},
         {5, 6, 7},
         1750},
        {"arrival order, repeats kept, one byte enough",
         100000,
         {{60, 50, 50}, {60, 7, 50}, {70, 50, 50}, {80, 5, 1}},
         {50, 7, 50, 5},
         580},
        {"nobody, the clock wrapping 256 ms in", 0xFFFFFF00u, {}, {}, 550},
        {"answers across the clock wrap", 0xFFFFFE00u, {{450, 5, 50}, {850, 6, 50}}, {5, 6}, 1350},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeUdpNetwork net;
        net.nowMs = c.clock;
        for (const Answer& a : c.answers) {
            net.AnswerAfter(a.afterMs, Ip(192, 168, 1, a.host), a.bytes);
        }
        const auto result = RunNetbiosSweep(net.Services());
        std::vector<std::string> hosts;
        for (int h : c.hosts) {
            hosts.push_back("192.168.1." + std::to_string(h));
        }
        EXPECT_EQ(result.hosts, hosts);
        EXPECT_EQ(net.nowMs - c.clock, c.elapsedMs);
    }
}

TEST(NetbiosSweep, SocketThatCannotBeOpenedOrBoundSendsNothing) {
    for (const bool bindFails : {false, true}) {
        SCOPED_TRACE(bindFails);
        FakeUdpNetwork net;
        (bindFails ? net.bindError : net.openError) = bindFails ? EADDRINUSE : EMFILE;
        net.AnswerAfter(60, Ip(192, 168, 1, 5));
        const auto result = RunNetbiosSweep(net.Services());
        EXPECT_TRUE(result.socketFailed);
        EXPECT_TRUE(result.hosts.empty());
        EXPECT_TRUE(net.sent.empty());
        EXPECT_EQ(net.receives, 0);
        EXPECT_EQ(net.opened, bindFails ? 1 : 0);
        EXPECT_EQ(net.closed, net.opened);
    }
}

}  // namespace
}  // namespace vorpane
