// The printer sweep: the prefix grammar, the default prefixes, and sweeps of
// loopback addresses that hold printers, a mute printer, a listener that
// hangs up, a listener whose queue is full (silent) and closed ports.

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <utility>

#include "discovery/port_sweep.h"
#include "loopback_printer.h"
#include "platform/socket.h"

namespace vorpane {
namespace {

using Clock = std::chrono::steady_clock;

Ipv4Address Address(const char* text) {
    return *Ipv4Address::Parse(text);
}

TEST(Ipv4PrefixTest, ParseGivesTheNetworkAndItsHosts) {
    struct Row {
        const char* text;
        const char* parsed;
        size_t hosts;
        const char* first;
        const char* last;
    };
    const Row rows[] = {
        {"192.0.2.77/24", "192.0.2.0/24", 254, "192.0.2.1", "192.0.2.254"},
        {"192.0.2.77", "192.0.2.77", 1, "192.0.2.77", "192.0.2.77"},
        {"192.0.2.77/32", "192.0.2.77", 1, "192.0.2.77", "192.0.2.77"},
        {"192.0.2.77/31", "192.0.2.76/31", 2, "192.0.2.76", "192.0.2.77"},
        {"192.0.2.77/30", "192.0.2.76/30", 2, "192.0.2.77", "192.0.2.78"},
        {"10.1.255.255/16", "10.1.0.0/16", 65534, "10.1.0.1", "10.1.255.254"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        const std::optional<Ipv4Prefix> prefix = Ipv4Prefix::Parse(row.text);
        ASSERT_TRUE(prefix);
        EXPECT_EQ(prefix->Text(), row.parsed);
        EXPECT_EQ(Ipv4Prefix::Parse(prefix->Text()), prefix);
        const std::vector<Ipv4Address> hosts = prefix->Hosts();
        ASSERT_EQ(hosts.size(), row.hosts);
        EXPECT_EQ(hosts.front().Text(), row.first);
        EXPECT_EQ(hosts.back().Text(), row.last);
        EXPECT_TRUE(std::is_sorted(hosts.begin(), hosts.end()));
    }
    for (const char* text :
         {"192.0.2.0/15", "192.0.2.0/33", "192.0.2.0/", "192.0.2.0/024", "192.0.2.0/8", "/24", "",
          " 192.0.2.0/24", "192.0.2.0/24 ", "192.0.2.0/ 24", "192.0.02.0/24", "192.0.2.0//24",
          "192.0.2.0/+24", "192.0.2.0/2x", "192.0.2.0/124", "192.0.2/24"}) {
        EXPECT_FALSE(Ipv4Prefix::Parse(text)) << text;
    }
}

TEST(DefaultScanPrefixesTest, EachLiveNonLoopbackSlash24OnceInOrder) {
    const std::vector<LocalInterface> interfaces = {
        {"lo", Address("127.0.0.1"), 8, true, true},
        {"eth0", Address("192.0.2.10"), 24, true, false},
        {"wlan0", Address("198.51.100.7"), 24, false, false},
        {"eth1", Address("10.9.8.7"), 16, true, false},
        {"eth0", Address("192.0.2.200"), 25, true, false},
        {"tun0", Address("172.16.5.1"), 30, true, false},
    };
    const std::vector<Ipv4Prefix> expected = {
        {Address("192.0.2.0"), 24}, {Address("10.9.8.0"), 24}, {Address("172.16.5.0"), 24}};
    EXPECT_EQ(DefaultScanPrefixes(interfaces), expected);
    EXPECT_TRUE(DefaultScanPrefixes({interfaces[0], interfaces[2]}).empty());
}

// The same interfaces give the on-link subnets at their own lengths, and
// an address is on-link inside one of them only.
TEST(DefaultScanPrefixesTest, LinkPrefixesKeepEachSubnetsOwnLength) {
    const std::vector<LocalInterface> interfaces = {
        {"lo", Address("127.0.0.1"), 8, true, true},
        {"eth0", Address("192.0.2.10"), 24, true, false},
        {"wlan0", Address("198.51.100.7"), 24, false, false},
        {"eth1", Address("10.9.8.7"), 16, true, false},
        {"eth0", Address("192.0.2.200"), 24, true, false},
    };
    const std::vector<Ipv4Prefix> link = LinkPrefixes(interfaces);
    EXPECT_EQ(link,
              (std::vector<Ipv4Prefix>{{Address("192.0.2.0"), 24}, {Address("10.9.0.0"), 16}}));
    const std::pair<const char*, bool> rows[] = {
        {"192.0.2.254", true}, {"192.0.3.1", false}, {"10.9.255.1", true},
        {"10.8.0.1", false},   {"127.0.0.1", false}, {"198.51.100.9", false},
    };
    for (const auto& [address, inside] : rows) {
        EXPECT_EQ(InAnyPrefix(link, Address(address)), inside) << address;
    }
}

// The window takes most of the descriptors, keeps room for the rest of the
// process, and stays within one wait; no limit keeps the fixed window. The
// link gets a quarter of the neighbour table, a whole /24 of the default.
TEST(SweepWindowTest, MostOfTheOpenFileLimitWithinOneWait) {
    const std::pair<int64_t, int32_t> rows[] = {
        {0, std::min<int32_t>(512, kMaxPollSockets)},
        {32, 1},
        {1024, 896},
        {4096, std::min<int32_t>(3584, kMaxPollSockets)},
        {20000, std::min<int32_t>(17500, kMaxPollSockets)},
        {INT64_MAX, kMaxPollSockets},
    };
    for (const auto& [limit, window] : rows) {
        EXPECT_EQ(SweepWindow(limit), window) << limit;
    }
    const std::pair<int32_t, int32_t> neighbours[] = {{0, 0}, {3, 1}, {128, 32}, {1024, 256}};
    for (const auto& [size, bound] : neighbours) {
        EXPECT_EQ(OnLinkWindow(size), bound) << size;
    }
}

Socket Listener(const char* address, uint16_t port, int backlog) {
    Socket s = Socket::Open(Socket::Kind::kStream, true).socket;
    EXPECT_EQ(s.Bind({Address(address).HostOrder(), port}), 0) << address;
    EXPECT_EQ(s.Listen(backlog), 0);
    return s;
}

// .2 and .3 printers (online, offline), .4 a mute printer, .5 hangs up after
// reading the request, .6 has a full queue and drops every SYN, .7 and .8
// have nothing listening.
class PortSweepTest : public ::testing::Test {
protected:
    void SetUp() override {
        online = StartLoopbackPrinter(
            [](VirtualPrinterConfig& c) { c.listenAddresses = {"127.0.0.2"}; });
        ASSERT_TRUE(online);
        port = online->Port();
        offline = StartLoopbackPrinter([&](VirtualPrinterConfig& c) {
            c.listenAddresses = {"127.0.0.3"};
            c.port = port;
            c.conditions.Add(Condition::kOffline);
        });
        mute = StartLoopbackPrinter([&](VirtualPrinterConfig& c) {
            c.listenAddresses = {"127.0.0.4"};
            c.port = port;
            c.mode = PrinterMode::kMute;
        });
        ASSERT_TRUE(offline && mute);
        hangUp = Listener("127.0.0.5", port, 4);
        // A backlog of 0 holds one connection; the kernel drops SYNs beyond.
        full = Listener("127.0.0.6", port, 0);
        filler = Socket::Open(Socket::Kind::kStream, false).socket;
        ASSERT_EQ(filler.Connect({Address("127.0.0.6").HostOrder(), port}), 0);
    }

    // Sweeps .2 to .8 on another thread while this one serves .5: it reads
    // the request whole and closes, an orderly end with no answer.
    SweepResult Sweep(int32_t maxOpenSockets, double& elapsedMs) {
        std::vector<Ipv4Address> hosts;
        for (int h = 8; h >= 2; --h) {
            hosts.push_back(Ipv4Address::FromOctets({127, 0, 0, static_cast<uint8_t>(h)}));
        }
        const auto start = Clock::now();
        auto sweep = std::async(std::launch::async, [&] {
            return SweepPort(
                hosts, {.port = port, .timeoutMs = kTimeoutMs, .maxOpenSockets = maxOpenSockets});
        });
        if (WaitForSocket(hangUp, kSocketReadable, 10000) == 0) {
            Ipv4Endpoint peer;
            Socket s = hangUp.Accept(peer).socket;
            s.SetNonBlocking(false);
            s.SetReceiveTimeout(5000);
            std::array<uint8_t, 3> request{};
            size_t got = 0;
            for (SocketIo n{1, 0}; got < request.size() && n.error == 0 && n.bytes > 0;) {
                n = s.Receive(std::span(request).subspan(got));
                got += static_cast<size_t>(n.bytes);
            }
            EXPECT_EQ(request, (std::array<uint8_t, 3>{0x10, 0x04, 0x01}));
        }
        EXPECT_EQ(sweep.wait_for(std::chrono::seconds(20)), std::future_status::ready);
        SweepResult result = sweep.get();
        elapsedMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        return result;
    }

    static constexpr int32_t kTimeoutMs = 500;
    std::unique_ptr<VirtualPrinter> online, offline, mute;
    Socket hangUp, full, filler;
    uint16_t port = 0;
};

TEST_F(PortSweepTest, ListsTheHostsThatAcceptedWithTheirStatusWithinOneDeadline) {
    ConditionSet off;
    off.Add(Condition::kOffline);
    const std::vector<SweepHit> expected = {
        {Address("127.0.0.2"), StatusReplies({})[0]},
        {Address("127.0.0.3"), StatusReplies(off)[0]},
        {Address("127.0.0.4"), std::nullopt},
        {Address("127.0.0.5"), std::nullopt},
    };
    // All at once, the silent host and the mute one wait side by side; one
    // socket at a time, they wait one after the other.
    struct Row {
        int32_t maxOpenSockets;
        double minMs, maxMs;
    };
    for (const Row& row :
         {Row{512, kTimeoutMs, 1.7 * kTimeoutMs}, Row{1, 2.0 * kTimeoutMs, 2.9 * kTimeoutMs}}) {
        SCOPED_TRACE(row.maxOpenSockets);
        double ms = 0;
        const SweepResult result = Sweep(row.maxOpenSockets, ms);
        EXPECT_EQ(result.error, 0);
        EXPECT_EQ(result.hits, expected);
        EXPECT_GE(ms, row.minMs);
        EXPECT_LT(ms, row.maxMs);
    }
}

}  // namespace
}  // namespace vorpane
