#include "net/arp_cache.h"

#include <cstring>

namespace vorpane {

int32_t PurgeArpAddress(NeighbourTable& table, uint32_t controlValue) {
    std::vector<ArpRow> rows;
    if (table.Read(rows) != 0) {
        return 0;
    }
    // Rows hold the address as it goes on the wire, first octet first.
    const uint8_t octets[4] = {
        static_cast<uint8_t>(controlValue >> 24), static_cast<uint8_t>(controlValue >> 16),
        static_cast<uint8_t>(controlValue >> 8), static_cast<uint8_t>(controlValue)};
    uint32_t wanted = 0;
    std::memcpy(&wanted, octets, sizeof wanted);
    for (const ArpRow& row : rows) {
        if (row.address == wanted) {
            return table.Delete(row) == 0 ? 1 : 0;
        }
    }
    return 1;
}

}  // namespace vorpane
