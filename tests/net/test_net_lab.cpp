// The echo probe and the ARP table on a real network inside the lab.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <linux/neighbour.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

#include "lab_fixture.h"
#include "net/arp_cache.h"
#include "net/echo_probe.h"
#include "platform/unique_fd.h"

namespace vorpane {
namespace {

using lab::EchoMode;
using Clock = std::chrono::steady_clock;

constexpr int32_t kTimeoutMs = 500;

int64_t MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// The address text as a 32-bit number, first octet most significant, the way
// the IP address control gives it.
uint32_t ControlValue(const std::string& address) {
    in_addr parsed{};
    inet_pton(AF_INET, address.c_str(), &parsed);
    return ntohl(parsed.s_addr);
}

class NetLabTest : public lab::LabTest {
protected:
    // One probe from the client, timed in `elapsed`; -2 when the client
    // could not be entered.
    int32_t ProbeFromClient(const std::string& address) {
        int32_t result = -2;
        EXPECT_TRUE(lab().RunInClient([&] {
            const auto start = Clock::now();
            result = CEchoProbe().Probe(address, kTimeoutMs);
            elapsed = MillisecondsSince(start);
        }));
        return result;
    }
    int64_t elapsed = 0;

    std::vector<ArpRow> ClientRows() {
        std::vector<ArpRow> rows;
        int error = -1;
        EXPECT_TRUE(lab().RunInClient([&] {
            ArpCacheOrError opened = ArpCache::Open();
            error = opened.cache ? opened.cache->Read(rows) : opened.error;
        }));
        EXPECT_EQ(error, 0);
        return rows;
    }

    static bool Holds(const std::vector<ArpRow>& rows, const std::string& address) {
        return std::any_of(rows.begin(), rows.end(), [&](const ArpRow& row) {
            return row.address == htonl(ControlValue(address));
        });
    }

    int32_t PurgeFromClient(const std::string& address, bool withoutNetAdmin = false) {
        int32_t result = -2;
        EXPECT_TRUE(lab().RunInClient([&] {
            if (withoutNetAdmin && !lab::DropThreadCapabilities({CAP_NET_ADMIN})) {
                return;
            }
            result = PurgeArpAddress(ControlValue(address));
        }));
        return result;
    }
};

TEST_F(NetLabTest, LiveHostsAnswerAndSilentOnesTimeOut) {
    ASSERT_TRUE(lab().AddHost("h1", {20, 21}));
    ASSERT_TRUE(lab().AddHost("quiet", {40}, EchoMode::kDrop));
    // 1 is the client itself; 99 twice, once ARP has given up on it.
    for (const auto& [host, answer] : std::vector<std::pair<int, int32_t>>{
             {20, 1}, {21, 1}, {1, 1}, {99, 0}, {40, 0}, {99, 0}}) {
        EXPECT_EQ(ProbeFromClient(lab().Address(host)), answer) << host;
        if (answer == 0) {
            EXPECT_GE(elapsed, kTimeoutMs - 50) << host;
            EXPECT_LE(elapsed, kTimeoutMs + 300) << host;
        }
    }
}

// Without CAP_NET_RAW the probe falls back to the ping socket where
// ping_group_range admits it, else gives -1 with nothing sent. A host behind a
// rejecting filter answers with destination-unreachable from its own address:
// that counts on either kind of socket (the ping socket reports it through
// its error queue).
TEST_F(NetLabTest, WithoutRawSocketsThePingSocketServesWhereAllowed) {
    ASSERT_TRUE(lab().AddHost("h1", {20}));
    ASSERT_TRUE(lab().AddHost("reject", {50}, EchoMode::kUnreachable));
    ASSERT_TRUE(lab().AddHost("quiet", {51}, EchoMode::kDrop));
    EXPECT_EQ(ProbeFromClient(lab().Address(50)), 1) << "on the raw socket";

    const struct {
        const char* pingGroups;
        std::vector<int> hosts;
        std::vector<int32_t> results;
        uint64_t requests;
    } cases[] = {
        {"1 0", {20}, {-1}, 0},                      // nobody
        {"0 0", {20, 99, 50, 51}, {1, 0, 1, 0}, 4},  // root's group
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pingGroups);
        ASSERT_TRUE(lab().SetPingGroupRange(c.pingGroups));
        const std::optional<uint64_t> before = lab().EchoRequestsSent();
        ASSERT_TRUE(before.has_value());
        std::vector<int32_t> results;
        int rawError = 0;
        ASSERT_TRUE(lab().RunInClient([&] {
            if (!lab::DropThreadCapabilities({CAP_NET_RAW})) {
                return;
            }
            UniqueFd raw(socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP));
            rawError = raw.valid() ? 0 : errno;
            for (int host : c.hosts) {
                results.push_back(CEchoProbe().Probe(lab().Address(host), kTimeoutMs));
            }
        }));
        EXPECT_EQ(rawError, EPERM) << "the probe must have had to do without a raw socket";
        EXPECT_EQ(results, c.results);
        EXPECT_EQ(lab().EchoRequestsSent(), *before + c.requests);
    }
}

// Bytes of the first packet tcpdump -x printed after the line with `marker`.
std::vector<uint8_t> PacketAfter(const std::string& output, const std::string& marker) {
    std::vector<uint8_t> bytes;
    std::istringstream lines(output.substr(std::min(output.find(marker), output.size())));
    std::string line;
    std::getline(lines, line);
    for (size_t colon; std::getline(lines, line) && line.find("0x") != std::string::npos &&
                       (colon = line.find(':', line.find("0x"))) != std::string::npos;) {
        std::istringstream words(line.substr(colon + 1));
        for (std::string word; words >> word;) {
            for (size_t i = 0; i + 1 < word.size(); i += 2) {
                bytes.push_back(static_cast<uint8_t>(std::stoi(word.substr(i, 2), nullptr, 16)));
            }
        }
    }
    return bytes;
}

TEST_F(NetLabTest, CaptureShowsRecordRouteAndAChecksumTcpdumpAccepts) {
    if (access("/usr/bin/tcpdump", X_OK) != 0 && access("/usr/sbin/tcpdump", X_OK) != 0) {
        GTEST_SKIP() << "capture skipped: tcpdump is not installed";
    }
    ASSERT_TRUE(lab().AddHost("h1", {20}));
    std::unique_ptr<lab::LabProcess> capture = lab().Start(
        lab().ClientNamespace(), {"tcpdump", "-l", "-n", "-vv", "-x", "-i", "eth0", "icmp"});
    ASSERT_NE(capture, nullptr);
    ASSERT_TRUE(capture->WaitForOutput("listening on", std::chrono::seconds(10)))
        << capture->Output();
    EXPECT_EQ(ProbeFromClient(lab().Address(20)), 1);
    ASSERT_TRUE(capture->WaitForOutput("ICMP echo reply", std::chrono::seconds(10)))
        << capture->Output();
    capture->Stop();
    const std::string output = capture->Output();

    EXPECT_EQ(output.find("bad cksum"), std::string::npos) << output;
    EXPECT_EQ(output.find("wrong icmp cksum"), std::string::npos) << output;

    const std::vector<uint8_t> packet = PacketAfter(output, "ICMP echo request");
    ASSERT_EQ(packet.size(), 60u + CEchoProbe::kRequestSize) << output;
    EXPECT_EQ(packet[0], 0x4F) << "IPv4 with a 60-byte header: 40 bytes of options";
    // Record Route, 39 bytes long. The socket was handed pointer 4 and nine
    // empty slots; the sending kernel records its own address in the first
    // slot as the datagram leaves, so the wire shows pointer 8.
    const uint32_t client = ControlValue(lab().ClientAddress());
    std::vector<uint8_t> options = {7, 39, 8};
    for (int shift = 24; shift >= 0; shift -= 8) {
        options.push_back(static_cast<uint8_t>(client >> shift));
    }
    options.resize(40, 0);
    EXPECT_EQ(std::vector<uint8_t>(packet.begin() + 20, packet.begin() + 60), options);
    EXPECT_EQ(packet[60], 8);
    EXPECT_EQ(packet[61], 0);
    EXPECT_EQ(CEchoProbe::Checksum(packet.data() + 60, CEchoProbe::kRequestSize), 0);
}

// --- ARP ---------------------------------------------------------------------

TEST_F(NetLabTest, RowOfTheAddressIsDeletedOnlyWithNetAdmin) {
    ASSERT_TRUE(lab().AddHost("h1", {20, 21}));
    // Real rows: the client resolves the addresses by probing them.
    ASSERT_EQ(ProbeFromClient(lab().Address(20)), 1);
    ASSERT_EQ(ProbeFromClient(lab().Address(21)), 1);
    const std::vector<ArpRow> before = ClientRows();
    const auto row = std::find_if(before.begin(), before.end(), [&](const ArpRow& r) {
        return r.address == htonl(ControlValue(lab().Address(20)));
    });
    ASSERT_NE(row, before.end());
    EXPECT_EQ(row->linkAddress.size(), 6u);
    EXPECT_NE(row->state & (NUD_REACHABLE | NUD_STALE | NUD_DELAY | NUD_PROBE), 0);

    EXPECT_EQ(PurgeFromClient(lab().Address(20), true), 0) << "refused without CAP_NET_ADMIN";
    EXPECT_TRUE(Holds(ClientRows(), lab().Address(20)));
    EXPECT_EQ(PurgeFromClient(lab().Address(77), true), 1) << "no row: nothing to refuse";
    EXPECT_EQ(PurgeFromClient(lab().Address(77)), 1);
    EXPECT_EQ(ClientRows().size(), before.size());

    EXPECT_EQ(PurgeFromClient(lab().Address(20)), 1);
    const std::vector<ArpRow> after = ClientRows();
    EXPECT_FALSE(Holds(after, lab().Address(20)));
    EXPECT_TRUE(Holds(after, lab().Address(21))) << "only that row goes";
}

// 300 rows outside the lab's /24 make the kernel's dump span several
// receives.
TEST_F(NetLabTest, ThreeHundredRowsReadAndPurgeLikeAFew) {
    std::string batch;
    for (int i = 0; i < 300; ++i) {
        char line[128];
        std::snprintf(line, sizeof line,
                      "neigh replace 198.18.%d.%d lladdr 02:00:00:00:%02x:%02x dev eth0 nud "
                      "permanent\n",
                      20 + i / 200, 1 + i % 200, i / 256, i % 256);
        batch += line;
    }
    const std::string file = "/tmp/" + lab().Prefix() + "-neigh.batch";
    std::ofstream(file) << batch;
    const bool added = lab().Ip("client", {"-batch", file});
    unlink(file.c_str());
    ASSERT_TRUE(added);
    const std::vector<ArpRow> rows = ClientRows();
    EXPECT_TRUE(Holds(rows, "198.18.20.1") && Holds(rows, "198.18.21.100"));
    EXPECT_EQ(PurgeFromClient("198.18.21.100"), 1);
    const std::vector<ArpRow> after = ClientRows();
    EXPECT_EQ(after.size(), rows.size() - 1);
    EXPECT_FALSE(Holds(after, "198.18.21.100"));
}

}  // namespace
}  // namespace vorpane
