#include "net/arp_cache.h"

namespace vorpane {

int32_t PurgeArpAddress(NeighbourTable& table, Ipv4Address address) {
    std::vector<ArpRow> rows;
    if (table.Read(rows) != 0) {
        return 0;
    }
    const uint32_t wanted = address.NetworkOrder();
    for (const ArpRow& row : rows) {
        if (row.address == wanted) {
            return table.Delete(row) == 0 ? 1 : 0;
        }
    }
    return 1;
}

std::optional<std::vector<uint8_t>> FindLinkAddress(const std::vector<ArpRow>& rows,
                                                    Ipv4Address address) {
    const uint32_t wanted = address.NetworkOrder();
    for (const ArpRow& row : rows) {
        if (row.address == wanted && !row.linkAddress.empty()) {
            return row.linkAddress;
        }
    }
    return std::nullopt;
}

}  // namespace vorpane
