// The ARP purge rule against a scripted table, and the parse of the kernel's
// neighbour dump. (The delete request is checked on a real kernel in the lab.)

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

TEST(ArpPurge, DeletesTheFirstRowWithTheControlsAddress) {
    constexpr uint32_t kTen = 0xC0A8010A;  // 192.168.1.10 as the IP address control gives it
    const ArpRow ten = Row(3, "192.168.1.10", 0xA);
    const ArpRow reversed = Row(2, "10.1.168.192");
    const std::vector<ArpRow> mixed = {Row(2, "192.168.1.9"), ten, Row(4, "192.168.1.10", 0xB),
                                       reversed};
    const struct {
        const char* name;
        std::vector<ArpRow> rows;
        uint32_t value;
        int readError;
        int deleteError;
        int32_t result;
        std::vector<ArpRow> deleted;
    } cases[] = {
        {"first of two rows", mixed, kTen, 0, 0, 1, {ten}},
        // The first octet is the most significant byte of the value.
        {"reversed octets are another address", {reversed}, kTen, 0, 0, 1, {}},
        {"the reversed value finds its own row", {reversed}, 0x0A01A8C0, 0, 0, 1, {reversed}},
        {"empty table", {}, kTen, 0, 0, 1, {}},
        {"no row", {Row(2, "192.168.1.11"), Row(2, "192.168.1.100")}, kTen, 0, 0, 1, {}},
        {"unreadable table", {ten}, kTen, EACCES, 0, 0, {}},
        {"refused deletion", {ten}, kTen, 0, EPERM, 0, {ten}},
    };
    for (const auto& c : cases) {
        ScriptedTable table;
        table.rows = c.rows;
        table.readError = c.readError;
        table.deleteError = c.deleteError;
        EXPECT_EQ(PurgeArpAddress(table, c.value), c.result) << c.name;
        EXPECT_EQ(table.deleted, c.deleted) << c.name;
    }
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

private:
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

struct Dump {
    std::vector<ArpRow> rows;
    int error = 0;
    bool interrupted = false;
    DumpStep Parse(const std::vector<uint8_t>& bytes, uint32_t sequence = 7) {
        return netlink_detail::ParseNeighbourDump(bytes, sequence, rows, error, interrupted);
    }
};

TEST(NeighbourDump, CollectsRowsAcrossPartsUntilDone) {
    Messages messages;
    messages.Neighbour(7, AF_INET, 2, {198, 18, 7, 2}, {2, 0, 0, 0, 0, 2}, NUD_REACHABLE);
    messages.Neighbour(7, AF_INET, 3, {198, 18, 7, 3}, {}, NUD_INCOMPLETE);
    Dump dump;
    EXPECT_EQ(dump.Parse(messages.Take()), DumpStep::kMore);
    // Skipped: another family, a row without address, another sequence.
    messages.Neighbour(7, AF_INET6, 2, std::vector<uint8_t>(16, 0xfe), {2, 0, 0, 0, 0, 9},
                       NUD_STALE);
    messages.Neighbour(7, AF_INET, 2, {}, {2, 0, 0, 0, 0, 8}, NUD_STALE);
    messages.Neighbour(6, AF_INET, 2, {198, 18, 7, 6}, {2, 0, 0, 0, 0, 6}, NUD_STALE);
    messages.Done(6);
    messages.Neighbour(7, AF_INET, 2, {198, 18, 7, 4}, {2, 0, 0, 0, 0, 4}, NUD_STALE);
    messages.Done(7);
    EXPECT_EQ(dump.Parse(messages.Take()), DumpStep::kDone);
    EXPECT_FALSE(dump.interrupted);
    EXPECT_EQ(dump.rows, (std::vector<ArpRow>{
                             {2, {2, 0, 0, 0, 0, 2}, NetworkOrder("198.18.7.2"), NUD_REACHABLE},
                             {3, {}, NetworkOrder("198.18.7.3"), NUD_INCOMPLETE},
                             {2, {2, 0, 0, 0, 0, 4}, NetworkOrder("198.18.7.4"), NUD_STALE},
                         }));
}

TEST(NeighbourDump, ReportsKernelErrorsInconsistencyAndMalformedMessages) {
    Messages messages;
    Dump refused;
    messages.Error(7, EPERM);
    EXPECT_EQ(refused.Parse(messages.Take()), DumpStep::kError);
    EXPECT_EQ(refused.error, EPERM);

    Dump changed;
    messages.Neighbour(7, AF_INET, 2, {198, 18, 7, 2}, {2, 0, 0, 0, 0, 2}, NUD_STALE,
                       NLM_F_MULTI | NLM_F_DUMP_INTR);
    messages.Done(7, NLM_F_MULTI | NLM_F_DUMP_INTR);
    EXPECT_EQ(changed.Parse(messages.Take()), DumpStep::kDone);
    EXPECT_TRUE(changed.interrupted);

    // A message length that runs past what was received.
    Dump cut;
    messages.Neighbour(7, AF_INET, 2, {198, 18, 7, 2}, {2, 0, 0, 0, 0, 2}, NUD_STALE);
    std::vector<uint8_t> bytes = messages.Take();
    bytes.resize(bytes.size() - 8);
    EXPECT_EQ(cut.Parse(bytes), DumpStep::kError);
    EXPECT_EQ(cut.error, EPROTO);

    // An attribute claiming more bytes than its message holds ends the row's
    // attributes there (ASan would catch a read past the buffer).
    Dump lying;
    messages.Neighbour(7, AF_INET, 2, {198, 18, 7, 2}, {1, 2, 3, 4, 5, 6}, NUD_STALE);
    bytes = messages.Take();
    const size_t lladdr = NLMSG_LENGTH(0) + NLMSG_ALIGN(sizeof(ndmsg)) + RTA_SPACE(4);
    const auto hugeLength = static_cast<unsigned short>(200);
    std::memcpy(bytes.data() + lladdr, &hugeLength, sizeof hugeLength);
    EXPECT_EQ(lying.Parse(bytes), DumpStep::kMore);
    ASSERT_EQ(lying.rows.size(), 1u);
    EXPECT_EQ(lying.rows[0].address, NetworkOrder("198.18.7.2"));
    EXPECT_TRUE(lying.rows[0].linkAddress.empty());
}

}  // namespace
}  // namespace vorpane
