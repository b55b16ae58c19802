// The NetBIOS sweep: its query, its socket settings and its quiet period,
// against a scripted socket (exact timing, clock wrap) and against a real
// peer on loopback; and the dialog's two operations on the result.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "discovery/netbios_sweep.h"
#include "main_dialog_fixture.h"
#include "net/unique_fd.h"

namespace vorpane {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

constexpr uint32_t Ip(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    return (a << 24) | (b << 16) | (c << 8) | d;
}

std::vector<uint8_t> ExpectedQuery() {
    std::vector<uint8_t> q = {0x80, 0x21, 0x00, 0x00, 0x00, 0x01, 0x00,
                              0x00, 0x00, 0x00, 0x00, 0x00, 0x20};
    q.insert(q.end(), 32, 0x41);
    q.insert(q.end(), {0x00, 0x00, 0x20, 0x00, 0x01});
    return q;
}

// ---------------------------------------------------------------------------
// Against a scripted socket and clock

TEST(NetbiosSweep, SendsTheQueryTwiceFiftyMsApartFromABroadcastSocketOnPortZero) {
    const auto q = BuildNetbiosNameQuery();
    EXPECT_EQ(std::vector<uint8_t>(q.begin(), q.end()), ExpectedQuery());
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
        {"nobody answers", 100000, {}, {}, 550},
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
        // The second one is heard only if the empty one restarted the wait.
        {"an empty datagram neither listed nor extending",
         100000,
         {{350, 9, 0}, {700, 10, 50}},
         {},
         550},
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

// ---------------------------------------------------------------------------
// Against a real UDP peer on loopback

// A NetBIOS stand-in on 127.0.0.1: records the queries it gets and answers
// as its script says, from sockets bound to loopback addresses.
class LoopbackPeer {
public:
    // Sent `afterMs` after the first query arrived, from 127.0.0.<fromHost>.
    struct Timed {
        int afterMs;
        int fromHost;
        size_t bytes;
    };

    LoopbackPeer() : m_socket(BoundSocket(Ip(127, 0, 0, 1))) {
        sockaddr_in a{};
        socklen_t len = sizeof a;
        getsockname(m_socket.get(), reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
    }
    ~LoopbackPeer() { Stop(); }

    bool Ready() const { return m_socket.valid() && m_port != 0; }
    uint16_t Port() const { return m_port; }
    std::vector<Timed> timed;

    void Start() {
        m_thread = std::thread([this] { Run(); });
    }
    void Stop() {
        m_stop = true;
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }
    // Valid after Stop().
    const std::vector<std::vector<uint8_t>>& Queries() const { return m_queries; }

private:
    static UniqueFd BoundSocket(uint32_t address) {
        UniqueFd fd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(address);
        if (!fd.valid() || bind(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            return UniqueFd();
        }
        return fd;
    }

    void Run() {
        const auto end = steady_clock::now() + std::chrono::seconds(10);
        steady_clock::time_point firstQuery{};
        sockaddr_in sweeper{};
        size_t nextTimed = 0;
        std::vector<uint8_t> buffer(1500);
        while (!m_stop && steady_clock::now() < end) {
            int waitMs = 20;
            if (!m_queries.empty() && nextTimed < timed.size()) {
                const auto due = firstQuery + milliseconds(timed[nextTimed].afterMs);
                const auto left =
                    std::chrono::duration_cast<milliseconds>(due - steady_clock::now()).count();
                if (left <= 0) {
                    const Timed& t = timed[nextTimed++];
                    UniqueFd from = BoundSocket(Ip(127, 0, 0, static_cast<uint32_t>(t.fromHost)));
                    const std::vector<uint8_t> payload(t.bytes, 0x55);
                    sendto(from.get(), payload.data(), payload.size(), 0,
                           reinterpret_cast<sockaddr*>(&sweeper), sizeof sweeper);
                    continue;
                }
                waitMs = static_cast<int>(std::min<long long>(left, waitMs));
            }
            pollfd p{m_socket.get(), POLLIN, 0};
            if (poll(&p, 1, waitMs) <= 0) {
                continue;
            }
            socklen_t len = sizeof sweeper;
            const ssize_t n = recvfrom(m_socket.get(), buffer.data(), buffer.size(), 0,
                                       reinterpret_cast<sockaddr*>(&sweeper), &len);
            if (n < 0) {
                continue;
            }
            if (m_queries.empty()) {
                firstQuery = steady_clock::now();
            }
            m_queries.emplace_back(buffer.begin(), buffer.begin() + n);
        }
    }

    UniqueFd m_socket;
    uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    std::vector<std::vector<uint8_t>> m_queries;
};

class NetbiosSweepLoopback : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(peer.Ready()); }

    NetbiosSweepResult Sweep() {
        NetbiosSweepServices s;  // the system's socket, clock and sleep
        s.destination = {Ip(127, 0, 0, 1), peer.Port()};
        // The real sleep, timed.
        s.sleepMs = [this](uint32_t ms) {
            sleptMs.push_back(ms);
            const auto t0 = steady_clock::now();
            SystemSleepMs(ms);
            sleptFor = steady_clock::now() - t0;
        };
        peer.Start();
        const auto t0 = steady_clock::now();
        auto result = RunNetbiosSweep(s);
        elapsedMs = std::chrono::duration_cast<milliseconds>(steady_clock::now() - t0).count();
        peer.Stop();
        return result;
    }

    LoopbackPeer peer;
    long long elapsedMs = 0;
    std::vector<uint32_t> sleptMs;
    steady_clock::duration sleptFor{};
};

TEST_F(NetbiosSweepLoopback, NobodyAnsweringGivesAnEmptyListAfterAboutHalfASecond) {
    const auto result = Sweep();
    EXPECT_FALSE(result.socketFailed);
    EXPECT_TRUE(result.hosts.empty());
    EXPECT_GE(elapsedMs, 550);
    EXPECT_LT(elapsedMs, 1500);
    // The query as it arrived, twice, with one real sleep of 50 ms between.
    EXPECT_EQ(peer.Queries(), (std::vector<std::vector<uint8_t>>(2, ExpectedQuery())));
    EXPECT_EQ(sleptMs, (std::vector<uint32_t>{50}));
    EXPECT_GE(sleptFor, milliseconds(50));
}

TEST_F(NetbiosSweepLoopback, HostAnsweringBothQueriesIsListedTwice) {
    peer.timed = {{0, 1, 62}, {60, 1, 62}};  // after each query
    EXPECT_EQ(Sweep().hosts, (std::vector<std::string>{"127.0.0.1", "127.0.0.1"}));
}

TEST_F(NetbiosSweepLoopback, AnswersUnderHalfASecondApartExtendTheSweep) {
    peer.timed = {{300, 2, 50}, {650, 3, 50}, {1000, 4, 50}};
    EXPECT_EQ(Sweep().hosts, (std::vector<std::string>{"127.0.0.2", "127.0.0.3", "127.0.0.4"}));
    EXPECT_GE(elapsedMs, 1000 + 500);
}

TEST_F(NetbiosSweepLoopback, EmptyDatagramsAreNotListedAndDoNotExtendTheSweep) {
    for (int t = 20; t <= 1500; t += 100) {
        peer.timed.push_back({t, 2, 0});
    }
    EXPECT_TRUE(Sweep().hosts.empty());
    // Had they counted, the sweep would have lasted past 2 s.
    EXPECT_LT(elapsedMs, 1200);
}

// ---------------------------------------------------------------------------
// The dialog's sweep and membership test

TEST_F(MainDialogTest, SweepReplacesTheListAndMembershipComparesWholeAddresses) {
    Open();
    sweepNet.AnswerAfter(60, Ip(192, 168, 1, 50));
    sweepNet.AnswerAfter(70, Ip(192, 168, 1, 50));
    dlg->SweepNetbiosHosts();
    ASSERT_EQ(dlg->NetbiosHosts().GetSize(), 2);
    EXPECT_EQ(dlg->IsNetbiosHost("192.168.1.50"), 1);
    for (const char* other : {"192.168.1.5", "192.168.1.500", ""}) {
        EXPECT_EQ(dlg->IsNetbiosHost(other), 0) << other;
    }

    sweepNet.AnswerAfter(60, Ip(192, 168, 1, 7));
    dlg->SweepNetbiosHosts();
    ASSERT_EQ(dlg->NetbiosHosts().GetSize(), 1);
    EXPECT_EQ(dlg->IsNetbiosHost("192.168.1.50"), 0);
    EXPECT_EQ(dlg->IsNetbiosHost("192.168.1.7"), 1);
    EXPECT_TRUE(ws.ShownBoxes().empty());

    // A sweep that cannot bind says so once and leaves the list empty.
    sweepNet.bindError = EADDRINUSE;
    sweepNet.AnswerAfter(60, Ip(192, 168, 1, 51));
    dlg->SweepNetbiosHosts();
    EXPECT_EQ(dlg->NetbiosHosts().GetSize(), 0);
    EXPECT_EQ(dlg->IsNetbiosHost("192.168.1.7"), 0);
    ASSERT_EQ(ws.ShownBoxes().size(), 1u);
    EXPECT_EQ(ws.ShownBoxes()[0].text, "UDP Port 0 is conflict!");
    EXPECT_EQ(ws.ShownBoxes()[0].style, 0x10u);
    EXPECT_EQ(sweepNet.closed, sweepNet.opened);
}

}  // namespace
}  // namespace vorpane
