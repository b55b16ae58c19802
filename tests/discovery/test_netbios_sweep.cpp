// The NetBIOS sweep: its socket settings, query, which datagrams are answers
// and exact timing (clock wrap, time limit and full list too) against a
// scripted socket. The real broadcast is the discovery lab's.

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
        {"arrival order, repeats kept, a bare header enough",
         100000,
         {{60, 50, 50}, {60, 7, 50}, {70, 50, 50}, {80, 5, 12}},
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

// A bare name service header: transaction id, the flag byte with the
// response bit and opcode, the byte ending in the result code, no records.
std::vector<uint8_t> Header(uint16_t id, uint8_t flags, uint8_t rcode = 0) {
    return {uint8_t(id >> 8), uint8_t(id), flags, rcode, 0, 0, 0, 0, 0, 0, 0, 0};
}

// Only name query responses to our transaction from port 137 are answers;
// anything else is neither listed nor keeps the sweep listening. Each row's
// datagram comes from 10.0.0.9 every 100 ms from 60 ms to 1960 ms, among one
// real answer at 100 ms.
TEST(NetbiosSweep, OnlyResponsesToOurQueryFromPort137AreAnswers) {
    std::vector<uint8_t> shortHeader = Header(0x8021, 0x85);
    shortHeader.pop_back();
    const struct {
        const char* name;
        std::vector<uint8_t> datagram;
        uint16_t port;
        bool answer;
    } cases[] = {
        // What the virtual printer's responder sends: a negative response.
        {"bare negative response", Header(0x8021, 0x85, 0x03), 137, true},
        {"another transaction id", Header(0x8022, 0x85), 137, false},
        {"a request: the query itself", ExpectedQuery(), 137, false},
        {"a response of another opcode", Header(0x8021, 0x80 | (5 << 3)), 137, false},
        {"from port 138", Header(0x8021, 0x85), 138, false},
        {"one byte short of a header", shortHeader, 137, false},
        {"one byte", {0x80}, 137, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeUdpNetwork net;
        const uint32_t start = net.nowMs;
        std::vector<std::string> hosts;
        for (uint32_t at = 60; at <= 1960; at += 100) {
            if (at == 160) {
                net.AnswerAfter(100, Ip(192, 168, 1, 5));
                hosts.push_back("192.168.1.5");
            }
            net.DatagramAfter(at, Ip(10, 0, 0, 9), c.port, c.datagram);
            if (c.answer) {
                hosts.push_back("10.0.0.9");
            }
        }
        const auto result = RunNetbiosSweep(net.Services());
        EXPECT_EQ(result.hosts, c.answer ? hosts : std::vector<std::string>{"192.168.1.5"});
        // Quiet from the real answer on, or from the row's last datagram.
        EXPECT_EQ(net.nowMs - start, c.answer ? 2460u : 660u);
    }
}

// Answers that never stop: the sweep ends 3 s after the first query (plus
// the receive under way then), and a flood fills its list only so far.
TEST(NetbiosSweep, EndsAtItsTimeLimitOrFullListWhateverArrives) {
    const struct {
        const char* name;
        uint32_t firstMs, gapMs, count;
        size_t listed;
        uint32_t elapsedMs;
    } cases[] = {
        {"a drip every 300 ms for 20 s", 299, 300, 67, 10, 3099},
        {"a flood of distinct senders", 60, 0, 5000, 508, 60},
        {"a flood 5 ms apart fills the list before the limit", 60, 5, 600, 508, 60 + 507 * 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeUdpNetwork net;
        const uint32_t start = net.nowMs;
        for (uint32_t i = 0; i < c.count; ++i) {
            net.AnswerAfter(c.firstMs + i * c.gapMs, Ip(10, i >> 16, (i >> 8) & 0xFF, i & 0xFF));
        }
        const auto result = RunNetbiosSweep(net.Services());
        // The first senders, in order.
        EXPECT_EQ(result.hosts.size(), c.listed);
        if (result.hosts.size() == c.listed) {
            const size_t last = c.listed - 1;
            EXPECT_EQ(result.hosts.back(),
                      "10.0." + std::to_string(last >> 8) + "." + std::to_string(last & 0xFF));
        }
        EXPECT_EQ(net.nowMs - start, c.elapsedMs);
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
