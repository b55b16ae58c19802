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

}  // namespace vorpane
