// The echo probe and the ARP table on a real network inside the lab.

#include <arpa/inet.h>
#include <linux/neighbour.h>

#include "lab_fixture.h"
#include "net/echo_probe.h"
#include "net/posix/arp_cache_netlink.h"
#include "platform/unique_fd.h"

namespace vorpane {
namespace {

constexpr int32_t kTimeoutMs = 500;

// The address the text names, read by the C library.
Ipv4Address AddressOf(const std::string& address) {
    in_addr parsed{};
    inet_pton(AF_INET, address.c_str(), &parsed);
    return Ipv4Address::FromNetworkOrder(parsed.s_addr);
}

class NetLabTest : public lab::LabTest {
protected:
    // One probe from the client; -2 when the client could not be entered.
    int32_t ProbeFromClient(const std::string& address) {
        int32_t result = -2;
        EXPECT_TRUE(lab().RunInClient([&] { result = CEchoProbe().Probe(address, kTimeoutMs); }));
        return result;
    }

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
            return row.address == AddressOf(address).NetworkOrder();
        });
    }

    int32_t PurgeFromClient(const std::string& address) {
        int32_t result = -2;
        EXPECT_TRUE(lab().RunInClient([&] { result = PurgeArpAddress(AddressOf(address)); }));
        return result;
    }
};

// --- ARP ---------------------------------------------------------------------

TEST_F(NetLabTest, OnlyTheRowOfTheAddressIsDeleted) {
    ASSERT_TRUE(lab().AddHost("h1", {20, 21}));
    // Real rows: the client resolves the addresses by probing them.
    ASSERT_EQ(ProbeFromClient(lab().Address(20)), 1);
    ASSERT_EQ(ProbeFromClient(lab().Address(21)), 1);
    const std::vector<ArpRow> before = ClientRows();
    const auto row = std::find_if(before.begin(), before.end(), [&](const ArpRow& r) {
        return r.address == AddressOf(lab().Address(20)).NetworkOrder();
    });
    ASSERT_NE(row, before.end());
    EXPECT_EQ(row->linkAddress.size(), 6u);
    EXPECT_NE(row->state & (NUD_REACHABLE | NUD_STALE | NUD_DELAY | NUD_PROBE), 0);

    EXPECT_EQ(PurgeFromClient(lab().Address(77)), 1);
    EXPECT_EQ(ClientRows().size(), before.size());

    EXPECT_EQ(PurgeFromClient(lab().Address(20)), 1);
    const std::vector<ArpRow> after = ClientRows();
    EXPECT_FALSE(Holds(after, lab().Address(20)));
    EXPECT_TRUE(Holds(after, lab().Address(21))) << "only that row goes";
}

}  // namespace
}  // namespace vorpane
