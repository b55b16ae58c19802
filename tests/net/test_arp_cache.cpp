// The ARP purge rule against a scripted table, and the parse of the kernel's
// neighbour dump. (The delete request is checked on a real kernel in the lab.)

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <linux/rtnetlink.h>

#include <cstring>

#include "net/posix/arp_cache_netlink.h"

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

struct ScriptedTable final : NeighbourTable {
    int readError = 0, deleteError = 0;
    std::vector<ArpRow> rows, deleted;
    int Read(std::vector<ArpRow>& out) override {
        out = readError != 0 ? std::vector<ArpRow>{} : rows;
        return readError;
    }
    int Delete(const ArpRow& row) override { return deleted.push_back(row), deleteError; }
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
        int readError, deleteError;
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
        EXPECT_EQ(PurgeArpAddress(table, Ipv4Address::FromHostOrder(c.value)), c.result) << c.name;
        EXPECT_EQ(table.deleted, c.deleted) << c.name;
    }
}

// --- netlink messages ---------------------------------------------------------

using Bytes = std::vector<uint8_t>;

template <class T>
Bytes Raw(const T& value, size_t size = sizeof(T)) {
    Bytes bytes(size, 0);
    std::memcpy(bytes.data(), &value, sizeof value);
    return bytes;
}

// Header plus body, padded; an rtattr and a nlmsghdr are laid out alike.
template <class Header>
void Append(Bytes& out, Header header, const Bytes& body) {
    const size_t at = out.size(), headerSize = NLMSG_ALIGN(sizeof header);
    out.resize(at + NLMSG_ALIGN(headerSize + body.size()), 0);
    std::memcpy(out.data() + at, &header, sizeof header);
    std::copy(body.begin(), body.end(), out.begin() + static_cast<ptrdiff_t>(at + headerSize));
}

void Message(Bytes& out, uint16_t type, uint16_t flags, uint32_t sequence, const Bytes& body) {
    Append(out,
           nlmsghdr{static_cast<uint32_t>(NLMSG_LENGTH(body.size())), type, flags, sequence, 0},
           body);
}

void Neighbour(Bytes& out, uint32_t sequence, uint8_t family, int ifindex, const Bytes& dst,
               const Bytes& lladdr, uint16_t state, uint16_t flags = NLM_F_MULTI) {
    ndmsg neighbour{};
    neighbour.ndm_family = family;
    neighbour.ndm_ifindex = ifindex;
    neighbour.ndm_state = state;
    Bytes body = Raw(neighbour, NLMSG_ALIGN(sizeof neighbour));
    for (const auto& [type, data] :
         {std::pair{NDA_DST, dst}, {NDA_LLADDR, lladdr}, {NDA_PROBES, Bytes{1, 0, 0, 0}}}) {
        if (!data.empty()) {
            Append(body,
                   rtattr{static_cast<unsigned short>(RTA_LENGTH(data.size())),
                          static_cast<unsigned short>(type)},
                   data);
        }
    }
    Message(out, RTM_NEWNEIGH, flags, sequence, body);
}

void Done(Bytes& out, uint32_t sequence, uint16_t flags = NLM_F_MULTI) {
    Message(out, NLMSG_DONE, flags, sequence, Bytes(4, 0));
}

struct Dump {
    std::vector<ArpRow> rows;
    int error = 0;
    bool interrupted = false;
    DumpStep Parse(Bytes bytes) {
        return netlink_detail::ParseNeighbourDump(bytes, 7, rows, error, interrupted);
    }
};

TEST(NeighbourDump, CollectsRowsAcrossPartsUntilDone) {
    const Bytes mac2 = {2, 0, 0, 0, 0, 2}, mac4 = {2, 0, 0, 0, 0, 4};
    Bytes part;
    Neighbour(part, 7, AF_INET, 2, {198, 18, 7, 2}, mac2, NUD_REACHABLE);
    Neighbour(part, 7, AF_INET, 3, {198, 18, 7, 3}, {}, NUD_INCOMPLETE);
    Dump dump;
    EXPECT_EQ(dump.Parse(std::exchange(part, {})), DumpStep::kMore);
    // Skipped: another family, a row without address, another sequence.
    Neighbour(part, 7, AF_INET6, 2, Bytes(16, 0xfe), mac4, NUD_STALE);
    Neighbour(part, 7, AF_INET, 2, {}, mac4, NUD_STALE);
    Neighbour(part, 6, AF_INET, 2, {198, 18, 7, 6}, mac4, NUD_STALE);
    Done(part, 6);
    Neighbour(part, 7, AF_INET, 2, {198, 18, 7, 4}, mac4, NUD_STALE);
    Done(part, 7);
    EXPECT_EQ(dump.Parse(part), DumpStep::kDone);
    EXPECT_FALSE(dump.interrupted);
    EXPECT_EQ(dump.rows, (std::vector<ArpRow>{
                             {2, mac2, NetworkOrder("198.18.7.2"), NUD_REACHABLE},
                             {3, {}, NetworkOrder("198.18.7.3"), NUD_INCOMPLETE},
                             {2, mac4, NetworkOrder("198.18.7.4"), NUD_STALE},
                         }));
}

}  // namespace
}  // namespace vorpane
