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
#include <cstring>
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

// ---------------------------------------------------------------------------
// Query and socket settings

TEST(NetbiosQuery, IsTheFiftyByteNameQuery) {
    std::vector<uint8_t> expected = {0x80, 0x21, 0x00, 0x00, 0x00, 0x01, 0x00,
                                     0x00, 0x00, 0x00, 0x00, 0x00, 0x20};
    expected.insert(expected.end(), 32, 0x41);
    const uint8_t tail[] = {0x00, 0x00, 0x20, 0x00, 0x01};
    expected.insert(expected.end(), std::begin(tail), std::end(tail));
    ASSERT_EQ(expected.size(), 50u);
    const auto q = BuildNetbiosNameQuery();
    EXPECT_EQ(std::vector<uint8_t>(q.begin(), q.end()), expected);
}

TEST(NetbiosSweep, SendsTheQueryTwiceFiftyMsApartFromABroadcastSocketOnPortZero) {
    FakeUdpNetwork net;
    const auto result = RunNetbiosSweep(net.Services());
    EXPECT_FALSE(result.socketFailed);
    EXPECT_EQ(net.broadcastCalls, 1);
    EXPECT_TRUE(net.broadcast);
    EXPECT_EQ(net.receiveTimeoutMs, 100);
    ASSERT_EQ(net.binds.size(), 1u);
    EXPECT_EQ(net.binds[0], (Ipv4Endpoint{0, 0}));
    const auto q = BuildNetbiosNameQuery();
    ASSERT_EQ(net.sent.size(), 2u);
    for (const auto& s : net.sent) {
        EXPECT_EQ(s.bytes, std::vector<uint8_t>(q.begin(), q.end()));
        EXPECT_EQ(s.to, (Ipv4Endpoint{0xFFFFFFFFu, 137}));
    }
    EXPECT_EQ(net.sleeps, std::vector<uint32_t>{50});
    EXPECT_EQ(net.sent[1].atMs - net.sent[0].atMs, 50u);
    EXPECT_EQ(net.closed, net.opened);
}

// ---------------------------------------------------------------------------
// Quiet period, on the scripted clock

TEST(NetbiosSweep, NobodyAnsweringEndsFiveHundredMsAfterTheSecondQuery) {
    FakeUdpNetwork net;
    const uint32_t start = net.nowMs;
    const auto result = RunNetbiosSweep(net.Services());
    EXPECT_TRUE(result.hosts.empty());
    EXPECT_EQ(net.nowMs - start, 550u);
    EXPECT_EQ(net.receives, 5);
}

TEST(NetbiosSweep, AnswersLessThanQuietPeriodApartKeepItListening) {
    FakeUdpNetwork net;
    // After the 50 ms between the queries: answers 400 ms apart, then a
    // late one 700 ms after the last.
    net.AnswerAfter(50 + 400, Ip(192, 168, 1, 5));
    net.AnswerAfter(50 + 800, Ip(192, 168, 1, 6));
    net.AnswerAfter(50 + 1200, Ip(192, 168, 1, 7));
    net.AnswerAfter(50 + 1900, Ip(192, 168, 1, 8));
    const uint32_t start = net.nowMs;
    const auto result = RunNetbiosSweep(net.Services());
    EXPECT_EQ(result.hosts,
              (std::vector<std::string>{"192.168.1.5", "192.168.1.6", "192.168.1.7"}));
    EXPECT_EQ(net.nowMs - start, 50u + 1200u + 500u);
}

TEST(NetbiosSweep, EveryAnswerIsListedInArrivalOrderWithRepeats) {
    FakeUdpNetwork net;
    net.AnswerAfter(60, Ip(192, 168, 1, 50));
    net.AnswerAfter(60, Ip(10, 0, 0, 7));
    net.AnswerAfter(70, Ip(192, 168, 1, 50));
    net.AnswerAfter(80, Ip(192, 168, 1, 5), 1);  // one byte is enough
    const auto result = RunNetbiosSweep(net.Services());
    EXPECT_EQ(result.hosts, (std::vector<std::string>{"192.168.1.50", "10.0.0.7", "192.168.1.50",
                                                      "192.168.1.5"}));
}

TEST(NetbiosSweep, EmptyDatagramIsNeitherListedNorExtendsTheQuietPeriod) {
    FakeUdpNetwork net;
    net.AnswerAfter(50 + 300, Ip(192, 168, 1, 9), 0);
    // Heard only if the empty datagram had restarted the quiet period.
    net.AnswerAfter(50 + 650, Ip(192, 168, 1, 10));
    const uint32_t start = net.nowMs;
    const auto result = RunNetbiosSweep(net.Services());
    EXPECT_TRUE(result.hosts.empty());
    EXPECT_EQ(net.nowMs - start, 550u);
}

TEST(NetbiosSweep, QuietPeriodHoldsAcrossTheClockWrap) {
    {
        FakeUdpNetwork net;
        net.nowMs = 0xFFFFFF00u;  // wraps 256 ms in
        const uint32_t start = net.nowMs;
        const auto result = RunNetbiosSweep(net.Services());
        EXPECT_TRUE(result.hosts.empty());
        EXPECT_EQ(static_cast<uint32_t>(net.nowMs - start), 550u);
    }
    {
        FakeUdpNetwork net;
        net.nowMs = 0xFFFFFE00u;
        net.AnswerAfter(50 + 400, Ip(192, 168, 1, 5));  // just past the wrap
        net.AnswerAfter(50 + 800, Ip(192, 168, 1, 6));
        const uint32_t start = net.nowMs;
        const auto result = RunNetbiosSweep(net.Services());
        EXPECT_EQ(result.hosts, (std::vector<std::string>{"192.168.1.5", "192.168.1.6"}));
        EXPECT_EQ(static_cast<uint32_t>(net.nowMs - start), 50u + 800u + 500u);
    }
}

TEST(NetbiosSweep, SocketThatCannotBeOpenedOrBoundSendsNothing) {
    {
        FakeUdpNetwork net;
        net.openError = EMFILE;
        net.AnswerAfter(60, Ip(192, 168, 1, 5));
        const auto result = RunNetbiosSweep(net.Services());
        EXPECT_TRUE(result.socketFailed);
        EXPECT_TRUE(result.hosts.empty());
        EXPECT_TRUE(net.sent.empty());
    }
    {
        FakeUdpNetwork net;
        net.bindError = EADDRINUSE;
        net.AnswerAfter(60, Ip(192, 168, 1, 5));
        const auto result = RunNetbiosSweep(net.Services());
        EXPECT_TRUE(result.socketFailed);
        EXPECT_TRUE(result.hosts.empty());
        EXPECT_TRUE(net.sent.empty());
        EXPECT_EQ(net.receives, 0);
        EXPECT_EQ(net.opened, 1);
        EXPECT_EQ(net.closed, 1);
    }
}

// ---------------------------------------------------------------------------
// Against a real UDP peer on loopback

// A NetBIOS stand-in on 127.0.0.1: records the queries it gets and answers
// them as its script says, from its own socket or from sockets bound to
// other loopback addresses.
class LoopbackPeer {
public:
    struct Query {
        std::vector<uint8_t> bytes;
        steady_clock::time_point at;       // when this thread got it
        std::chrono::nanoseconds stamp{};  // when the kernel received it
    };
    // Sent `afterMs` after the first query arrived, from 127.0.0.<fromHost>.
    struct Timed {
        int afterMs;
        int fromHost;
        size_t bytes;
    };

    LoopbackPeer() : m_socket(BoundSocket(Ip(127, 0, 0, 1))) {
        // Arrival times from the kernel, not from this thread's wake-ups.
        const int on = 1;
        setsockopt(m_socket.get(), SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
        sockaddr_in a{};
        socklen_t len = sizeof a;
        getsockname(m_socket.get(), reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
    }
    ~LoopbackPeer() { Stop(); }

    uint16_t Port() const { return m_port; }
    // Each query is answered this many times from the peer's own socket.
    void AnswerEachQuery(int times) { m_answersPerQuery = times; }
    void SendTimed(std::vector<Timed> script) { m_timed = std::move(script); }

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
    const std::vector<Query>& Queries() const { return m_queries; }
    bool Ready() const { return m_socket.valid() && m_port != 0; }

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
        sockaddr_in sweeper{};
        size_t nextTimed = 0;
        std::vector<uint8_t> buffer(1500);
        while (!m_stop && steady_clock::now() < end) {
            int waitMs = 20;
            if (!m_queries.empty() && nextTimed < m_timed.size()) {
                const auto due = m_queries.front().at + milliseconds(m_timed[nextTimed].afterMs);
                const auto left =
                    std::chrono::duration_cast<milliseconds>(due - steady_clock::now()).count();
                if (left <= 0) {
                    const Timed& t = m_timed[nextTimed++];
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
            sockaddr_in from{};
            iovec io{buffer.data(), buffer.size()};
            alignas(cmsghdr) uint8_t control[64];
            msghdr message{};
            message.msg_name = &from;
            message.msg_namelen = sizeof from;
            message.msg_iov = &io;
            message.msg_iovlen = 1;
            message.msg_control = control;
            message.msg_controllen = sizeof control;
            const ssize_t n = recvmsg(m_socket.get(), &message, 0);
            if (n < 0) {
                continue;
            }
            std::chrono::nanoseconds stamp{};
            for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
                if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
                    timespec ts{};
                    std::memcpy(&ts, CMSG_DATA(c), sizeof ts);
                    stamp = std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
                }
            }
            m_queries.push_back({{buffer.begin(), buffer.begin() + n}, steady_clock::now(), stamp});
            sweeper = from;
            for (int i = 0; i < m_answersPerQuery; ++i) {
                uint8_t answer[62] = {0x80, 0x21, 0x85};
                sendto(m_socket.get(), answer, sizeof answer, 0, reinterpret_cast<sockaddr*>(&from),
                       sizeof from);
            }
        }
    }

    UniqueFd m_socket;
    uint16_t m_port = 0;
    int m_answersPerQuery = 0;
    std::vector<Timed> m_timed;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    std::vector<Query> m_queries;
};

class NetbiosSweepLoopback : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(peer.Ready()); }

    NetbiosSweepResult Sweep() {
        NetbiosSweepServices s;  // the system's socket, clock and sleep
        s.destination = {Ip(127, 0, 0, 1), peer.Port()};
        // The real sleep, timed on the sweep's side: the receiver's stamp of
        // the first query can lag its send by a scheduling delay, so the gap
        // between the two stamps is no measure of the gap between the sends.
        s.sleepMs = [this](uint32_t ms) {
            sleptMs.push_back(ms);
            sleepStart = SinceEpoch();
            SystemSleepMs(ms);
            sleepEnd = SinceEpoch();
        };
        peer.Start();
        const auto t0 = steady_clock::now();
        auto result = RunNetbiosSweep(s);
        elapsedMs = std::chrono::duration_cast<milliseconds>(steady_clock::now() - t0).count();
        peer.Stop();
        return result;
    }

    // The clock of SCM_TIMESTAMPNS, so the peer's stamps compare with it.
    static std::chrono::nanoseconds SinceEpoch() {
        return std::chrono::system_clock::now().time_since_epoch();
    }

    LoopbackPeer peer;
    long long elapsedMs = 0;
    std::vector<uint32_t> sleptMs;
    std::chrono::nanoseconds sleepStart{};
    std::chrono::nanoseconds sleepEnd{};
};

TEST_F(NetbiosSweepLoopback, NobodyAnsweringGivesAnEmptyListAfterAboutHalfASecond) {
    const auto result = Sweep();
    EXPECT_FALSE(result.socketFailed);
    EXPECT_TRUE(result.hosts.empty());
    EXPECT_GE(elapsedMs, 550);
    EXPECT_LT(elapsedMs, 1500);
    // The query as it arrived, twice, the second sent only after one real
    // sleep of at least 50 ms.
    const auto q = BuildNetbiosNameQuery();
    ASSERT_EQ(peer.Queries().size(), 2u);
    for (const auto& got : peer.Queries()) {
        EXPECT_EQ(got.bytes, std::vector<uint8_t>(q.begin(), q.end()));
    }
    EXPECT_EQ(sleptMs, (std::vector<uint32_t>{50}));
    EXPECT_GE(sleepEnd - sleepStart, milliseconds(50));
    ASSERT_NE(peer.Queries()[1].stamp.count(), 0);
    EXPECT_GE(peer.Queries()[1].stamp, sleepEnd);
}

TEST_F(NetbiosSweepLoopback, HostAnsweringBothQueriesIsListedTwice) {
    peer.AnswerEachQuery(1);
    const auto result = Sweep();
    EXPECT_EQ(result.hosts, (std::vector<std::string>{"127.0.0.1", "127.0.0.1"}));
}

TEST_F(NetbiosSweepLoopback, AnswersUnderHalfASecondApartExtendTheSweep) {
    peer.SendTimed({{300, 2, 50}, {650, 3, 50}, {1000, 4, 50}});
    const auto result = Sweep();
    EXPECT_EQ(result.hosts, (std::vector<std::string>{"127.0.0.2", "127.0.0.3", "127.0.0.4"}));
    EXPECT_GE(elapsedMs, 1000 + 500);
}

TEST_F(NetbiosSweepLoopback, EmptyDatagramsAreNotListedAndDoNotExtendTheSweep) {
    std::vector<LoopbackPeer::Timed> script;
    for (int t = 20; t <= 1500; t += 100) {
        script.push_back({t, 2, 0});
    }
    peer.SendTimed(script);
    const auto result = Sweep();
    EXPECT_TRUE(result.hosts.empty());
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
    EXPECT_EQ(dlg->IsNetbiosHost("192.168.1.5"), 0);
    EXPECT_EQ(dlg->IsNetbiosHost("192.168.1.500"), 0);
    EXPECT_EQ(dlg->IsNetbiosHost(""), 0);

    sweepNet.AnswerAfter(60, Ip(192, 168, 1, 7));
    dlg->SweepNetbiosHosts();
    ASSERT_EQ(dlg->NetbiosHosts().GetSize(), 1);
    EXPECT_EQ(dlg->IsNetbiosHost("192.168.1.50"), 0);
    EXPECT_EQ(dlg->IsNetbiosHost("192.168.1.7"), 1);
    EXPECT_TRUE(ws.ShownBoxes().empty());
}

TEST_F(MainDialogTest, SweepThatCannotBindSaysSoOnceAndLeavesTheListEmpty) {
    Open();
    sweepNet.AnswerAfter(60, Ip(192, 168, 1, 50));
    dlg->SweepNetbiosHosts();
    ASSERT_EQ(dlg->NetbiosHosts().GetSize(), 1);

    sweepNet.bindError = EADDRINUSE;
    sweepNet.AnswerAfter(60, Ip(192, 168, 1, 51));
    dlg->SweepNetbiosHosts();
    EXPECT_EQ(dlg->NetbiosHosts().GetSize(), 0);
    EXPECT_EQ(dlg->IsNetbiosHost("192.168.1.50"), 0);
    ASSERT_EQ(ws.ShownBoxes().size(), 1u);
    EXPECT_EQ(ws.ShownBoxes()[0].text, "UDP Port 0 is conflict!");
    EXPECT_EQ(ws.ShownBoxes()[0].style, 0x10u);
    EXPECT_EQ(sweepNet.closed, sweepNet.opened);
}

}  // namespace
}  // namespace vorpane
