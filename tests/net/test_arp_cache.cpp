// The ARP purge rule against a scripted table, and the netlink messages the
// table reads and writes.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "net/arp_cache.h"

namespace vorpane {
namespace {

using netlink_detail::DumpStep;

uint32_t NetworkOrder(const char* text) {
    in_addr address{};
    inet_pton(AF_INET, text, &address);
    return address.s_addr;
}

ArpRow Row(int32_t interfaceIndex, const char* address, uint8_t last = 1) {
    return ArpRow{interfaceIndex, {0x02, 0, 0, 0, 0, last}, NetworkOrder(address), NUD_REACHABLE};
}

class ScriptedTable final : public NeighbourTable {
public:
    int readError = 0;
    int deleteError = 0;
    std::vector<ArpRow> rows;
    std::vector<ArpRow> deleted;

    int Read(std::vector<ArpRow>& out) override {
        if (readError != 0) {
            out.clear();
            return readError;
        }
        out = rows;
        return 0;
    }
    int Delete(const ArpRow& row) override {
        deleted.push_back(row);
        return deleteError;
    }
};

// 192.168.1.10 as the IP address control gives it.
constexpr uint32_t kControlValue = 0xC0A8010A;

TEST(ArpPurge, DeletesOnlyTheFirstRowWithTheAddress) {
    ScriptedTable table;
    table.rows = {Row(2, "192.168.1.9"), Row(3, "192.168.1.10", 0xA), Row(4, "192.168.1.10", 0xB),
                  Row(2, "10.1.168.192")};
    EXPECT_EQ(PurgeArpAddress(table, kControlValue), 1);
    ASSERT_EQ(table.deleted.size(), 1u);
    EXPECT_EQ(table.deleted[0], table.rows[1]);
}

TEST(ArpPurge, ReadsTheControlValueFirstOctetMostSignificant) {
    // The reversed value 10.1.168.192 must not match 192.168.1.10.
    ScriptedTable table;
    table.rows = {Row(2, "10.1.168.192")};
    EXPECT_EQ(PurgeArpAddress(table, kControlValue), 1);
    EXPECT_TRUE(table.deleted.empty());
    EXPECT_EQ(PurgeArpAddress(table, 0x0A01A8C0), 1);
    EXPECT_EQ(table.deleted.size(), 1u);
}

TEST(ArpPurge, NoRowOrAnEmptyTableIsSuccess) {
    ScriptedTable table;
    EXPECT_EQ(PurgeArpAddress(table, kControlValue), 1);
    table.rows = {Row(2, "192.168.1.11"), Row(2, "192.168.1.100")};
    EXPECT_EQ(PurgeArpAddress(table, kControlValue), 1);
    EXPECT_TRUE(table.deleted.empty());
}

TEST(ArpPurge, UnreadableTableOrRefusedDeletionIsFailure) {
    ScriptedTable unreadable;
    unreadable.readError = EACCES;
    unreadable.rows = {Row(2, "192.168.1.10")};
    EXPECT_EQ(PurgeArpAddress(unreadable, kControlValue), 0);
    EXPECT_TRUE(unreadable.deleted.empty());

    ScriptedTable refusing;
    refusing.deleteError = EPERM;
    refusing.rows = {Row(2, "192.168.1.10")};
    EXPECT_EQ(PurgeArpAddress(refusing, kControlValue), 0);
    EXPECT_EQ(refusing.deleted.size(), 1u);
}

// --- netlink messages ---------------------------------------------------------

class Messages {
public:
    void Neighbour(uint32_t sequence, uint8_t family, int ifindex, const std::vector<uint8_t>& dst,
                   const std::vector<uint8_t>& lladdr, uint16_t state,
                   uint16_t flags = NLM_F_MULTI) {
        std::vector<uint8_t> body(NLMSG_ALIGN(sizeof(ndmsg)), 0);
        ndmsg neighbour{};
        neighbour.ndm_family = family;
        neighbour.ndm_ifindex = ifindex;
        neighbour.ndm_state = state;
        std::memcpy(body.data(), &neighbour, sizeof neighbour);
        if (!dst.empty()) {
            Attribute(body, NDA_DST, dst);
        }
        if (!lladdr.empty()) {
            Attribute(body, NDA_LLADDR, lladdr);
        }
        Attribute(body, NDA_PROBES, {1, 0, 0, 0});
        Message(RTM_NEWNEIGH, flags, sequence, body);
    }
    void Done(uint32_t sequence, uint16_t flags = NLM_F_MULTI) {
        Message(NLMSG_DONE, flags, sequence, std::vector<uint8_t>(4, 0));
    }
    void Error(uint32_t sequence, int error) {
        nlmsgerr body{};
        body.error = -error;
        std::vector<uint8_t> bytes(sizeof body);
        std::memcpy(bytes.data(), &body, sizeof body);
        Message(NLMSG_ERROR, 0, sequence, bytes);
    }
    std::vector<uint8_t> Take() { return std::exchange(m_bytes, {}); }

    static void Attribute(std::vector<uint8_t>& body, uint16_t type,
                          const std::vector<uint8_t>& data) {
        rtattr attribute{};
        attribute.rta_len = static_cast<unsigned short>(RTA_LENGTH(data.size()));
        attribute.rta_type = type;
        const size_t at = body.size();
        body.resize(at + RTA_SPACE(data.size()), 0);
        std::memcpy(body.data() + at, &attribute, sizeof attribute);
        std::memcpy(body.data() + at + RTA_LENGTH(0), data.data(), data.size());
    }

private:
    void Message(uint16_t type, uint16_t flags, uint32_t sequence,
                 const std::vector<uint8_t>& body) {
        nlmsghdr header{};
        header.nlmsg_len = static_cast<uint32_t>(NLMSG_LENGTH(body.size()));
        header.nlmsg_type = type;
        header.nlmsg_flags = flags;
        header.nlmsg_seq = sequence;
        const size_t at = m_bytes.size();
        m_bytes.resize(at + NLMSG_SPACE(body.size()), 0);
        std::memcpy(m_bytes.data() + at, &header, sizeof header);
        std::memcpy(m_bytes.data() + at + NLMSG_LENGTH(0), body.data(), body.size());
    }
    std::vector<uint8_t> m_bytes;
};

TEST(NeighbourDump, CollectsRowsAcrossPartsUntilDone) {
    Messages messages;
    messages.Neighbour(7, AF_INET, 2, {198, 18, 7, 2}, {2, 0, 0, 0, 0, 2}, NUD_REACHABLE);
    messages.Neighbour(7, AF_INET, 3, {198, 18, 7, 3}, {}, NUD_INCOMPLETE);
    const std::vector<uint8_t> first = messages.Take();
    messages.Neighbour(7, AF_INET, 2, {198, 18, 7, 4}, {2, 0, 0, 0, 0, 4}, NUD_STALE);
    messages.Done(7);
    const std::vector<uint8_t> second = messages.Take();

    std::vector<ArpRow> rows;
    int error = 0;
    bool interrupted = false;
    EXPECT_EQ(netlink_detail::ParseNeighbourDump(first, 7, rows, error, interrupted),
              DumpStep::kMore);
    EXPECT_EQ(netlink_detail::ParseNeighbourDump(second, 7, rows, error, interrupted),
              DumpStep::kDone);
    EXPECT_FALSE(interrupted);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], (ArpRow{2, {2, 0, 0, 0, 0, 2}, NetworkOrder("198.18.7.2"), NUD_REACHABLE}));
    EXPECT_EQ(rows[1], (ArpRow{3, {}, NetworkOrder("198.18.7.3"), NUD_INCOMPLETE}));
    EXPECT_EQ(rows[2], (ArpRow{2, {2, 0, 0, 0, 0, 4}, NetworkOrder("198.18.7.4"), NUD_STALE}));
}

TEST(NeighbourDump, SkipsOtherFamiliesRowsWithoutAddressAndOtherSequences) {
    Messages messages;
    messages.Neighbour(7, AF_INET6, 2, std::vector<uint8_t>(16, 0xfe), {2, 0, 0, 0, 0, 9},
                       NUD_STALE);
    messages.Neighbour(7, AF_INET, 2, {}, {2, 0, 0, 0, 0, 8}, NUD_STALE);
    messages.Neighbour(6, AF_INET, 2, {198, 18, 7, 6}, {2, 0, 0, 0, 0, 6}, NUD_STALE);
    messages.Done(6);
    messages.Neighbour(7, AF_INET, 2, {198, 18, 7, 7}, {2, 0, 0, 0, 0, 7}, NUD_STALE);
    messages.Done(7);
    std::vector<ArpRow> rows;
    int error = 0;
    bool interrupted = false;
    EXPECT_EQ(netlink_detail::ParseNeighbourDump(messages.Take(), 7, rows, error, interrupted),
              DumpStep::kDone);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].address, NetworkOrder("198.18.7.7"));
}

TEST(NeighbourDump, ReportsKernelErrorsInconsistencyAndMalformedMessages) {
    std::vector<ArpRow> rows;
    int error = 0;
    bool interrupted = false;

    Messages refused;
    refused.Error(7, EPERM);
    EXPECT_EQ(netlink_detail::ParseNeighbourDump(refused.Take(), 7, rows, error, interrupted),
              DumpStep::kError);
    EXPECT_EQ(error, EPERM);

    Messages changed;
    changed.Neighbour(7, AF_INET, 2, {198, 18, 7, 2}, {2, 0, 0, 0, 0, 2}, NUD_STALE,
                      NLM_F_MULTI | NLM_F_DUMP_INTR);
    changed.Done(7, NLM_F_MULTI | NLM_F_DUMP_INTR);
    EXPECT_EQ(netlink_detail::ParseNeighbourDump(changed.Take(), 7, rows, error, interrupted),
              DumpStep::kDone);
    EXPECT_TRUE(interrupted);

    // A length that runs past what was received.
    Messages cut;
    cut.Neighbour(7, AF_INET, 2, {198, 18, 7, 2}, {2, 0, 0, 0, 0, 2}, NUD_STALE);
    std::vector<uint8_t> bytes = cut.Take();
    bytes.resize(bytes.size() - 8);
    error = 0;
    EXPECT_EQ(netlink_detail::ParseNeighbourDump(bytes, 7, rows, error, interrupted),
              DumpStep::kError);
    EXPECT_EQ(error, EPROTO);
}

TEST(NeighbourDump, AttributeLengthsThatLieAreNotFollowed) {
    // An attribute claiming more bytes than its message holds ends the row's
    // attributes there (ASan would catch a read past the buffer).
    std::vector<uint8_t> body(NLMSG_ALIGN(sizeof(ndmsg)), 0);
    ndmsg neighbour{};
    neighbour.ndm_family = AF_INET;
    std::memcpy(body.data(), &neighbour, sizeof neighbour);
    Messages::Attribute(body, NDA_DST, {198, 18, 7, 2});
    const size_t lying = body.size();
    Messages::Attribute(body, NDA_LLADDR, {1, 2, 3, 4, 5, 6});
    const auto hugeLength = static_cast<unsigned short>(200);
    std::memcpy(body.data() + lying, &hugeLength, sizeof hugeLength);

    nlmsghdr header{};
    header.nlmsg_len = static_cast<uint32_t>(NLMSG_LENGTH(body.size()));
    header.nlmsg_type = RTM_NEWNEIGH;
    header.nlmsg_seq = 7;
    std::vector<uint8_t> bytes(NLMSG_LENGTH(0));
    std::memcpy(bytes.data(), &header, sizeof header);
    bytes.insert(bytes.end(), body.begin(), body.end());

    std::vector<ArpRow> rows;
    int error = 0;
    bool interrupted = false;
    EXPECT_EQ(netlink_detail::ParseNeighbourDump(bytes, 7, rows, error, interrupted),
              DumpStep::kMore);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].address, NetworkOrder("198.18.7.2"));
    EXPECT_TRUE(rows[0].linkAddress.empty());
}

TEST(NeighbourDelete, RequestNamesInterfaceAndAddressAndAsksForAnAck) {
    const ArpRow row = Row(5, "198.18.7.42");
    const std::vector<uint8_t> message = netlink_detail::BuildDeleteRequest(row, 99);
    nlmsghdr header{};
    ASSERT_GE(message.size(), sizeof header);
    std::memcpy(&header, message.data(), sizeof header);
    EXPECT_EQ(header.nlmsg_len, message.size());
    EXPECT_EQ(header.nlmsg_type, RTM_DELNEIGH);
    EXPECT_EQ(header.nlmsg_flags, NLM_F_REQUEST | NLM_F_ACK);
    EXPECT_EQ(header.nlmsg_seq, 99u);
    ndmsg neighbour{};
    std::memcpy(&neighbour, message.data() + NLMSG_LENGTH(0), sizeof neighbour);
    EXPECT_EQ(neighbour.ndm_family, AF_INET);
    EXPECT_EQ(neighbour.ndm_ifindex, 5);
    const size_t at = NLMSG_LENGTH(0) + NLMSG_ALIGN(sizeof(ndmsg));
    ASSERT_EQ(message.size(), at + RTA_SPACE(4));
    rtattr attribute{};
    std::memcpy(&attribute, message.data() + at, sizeof attribute);
    EXPECT_EQ(attribute.rta_type, NDA_DST);
    EXPECT_EQ(attribute.rta_len, RTA_LENGTH(4));
    EXPECT_EQ(std::vector<uint8_t>(message.begin() + at + RTA_LENGTH(0), message.end()),
              (std::vector<uint8_t>{198, 18, 7, 42}));
}

}  // namespace
}  // namespace vorpane
