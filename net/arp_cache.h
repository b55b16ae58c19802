#pragma once
// The host's IPv4 neighbour (ARP) table: read it whole, delete one row. The
// system's tables are in posix/ (rtnetlink) and windows/ (IP Helper).
// Nothing here shows messages; results are values.

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "platform/ipv4_address.h"

namespace vorpane {

struct ArpRow {
    int32_t interfaceIndex = 0;
    std::vector<uint8_t> linkAddress;  // empty for rows still being resolved
    uint32_t address = 0;              // Ipv4Address::NetworkOrder()
    uint16_t state = 0;                // the system's row state or type

    bool operator==(const ArpRow&) const = default;
};

// What PurgeArpAddress needs of a neighbour table.
class NeighbourTable {
public:
    virtual ~NeighbourTable() = default;
    // Replaces `rows` with every IPv4 row; 0 or an errno.
    virtual int Read(std::vector<ArpRow>& rows) = 0;
    // 0 or an errno (EPERM without the right to change the table, ENOENT
    // when already gone).
    virtual int Delete(const ArpRow& row) = 0;
};

// The system's own table (rtnetlink on Linux, IP Helper on Windows), or the
// errno that kept it from opening.
struct NeighbourTableOrError {
    std::unique_ptr<NeighbourTable> table;
    int error = 0;
};
NeighbourTableOrError OpenSystemNeighbourTable();

// The link address of the first row for `address` that has one; nullopt
// while no row is resolved.
std::optional<std::vector<uint8_t>> FindLinkAddress(const std::vector<ArpRow>& rows,
                                                    Ipv4Address address);

// Deletes the first row of `table` that holds `address`. 1 when no row holds
// the address or the deletion worked; 0 when the table cannot be read or the
// deletion is refused.
int32_t PurgeArpAddress(NeighbourTable& table, Ipv4Address address);

}  // namespace vorpane
