#pragma once
// The neighbour table of Linux over rtnetlink.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "net/arp_cache.h"
#include "platform/unique_fd.h"

namespace vorpane {

struct ArpCacheOrError;

// The neighbour table of the calling thread's network namespace.
class ArpCache final : public NeighbourTable {
public:
    static ArpCacheOrError Open();

    ArpCache(ArpCache&&) noexcept = default;
    ArpCache& operator=(ArpCache&&) noexcept = default;

    int Read(std::vector<ArpRow>& rows) override;
    int Delete(const ArpRow& row) override;

    // Delete in its two halves, for a caller that holds the right to change
    // the table only while the request goes out: the kernel acts on the
    // request as it is sent, and its answer needs no privilege to read.
    // SendDelete sets `sequence` for AwaitDeleteAnswer; both 0 or an errno.
    int SendDelete(const ArpRow& row, uint32_t& sequence);
    int AwaitDeleteAnswer(uint32_t sequence);

private:
    explicit ArpCache(UniqueFd socket) : m_socket(std::move(socket)) {}
    int Send(std::span<const uint8_t> message);

    UniqueFd m_socket;
    uint32_t m_sequence = 1;
};

// Either an open table or the errno that kept it from opening.
struct ArpCacheOrError {
    std::optional<ArpCache> cache;
    int error = 0;
};

// Whether the kernel learned `row` from the network, as opposed to a row an
// administrator pinned (permanent) or one that needs no resolving (noarp).
bool IsLearnedRow(const ArpRow& row);

// The same on the calling thread's own neighbour table.
int32_t PurgeArpAddress(Ipv4Address address);

namespace netlink_detail {

// Outcome of parsing one receive of a neighbour dump.
enum class DumpStep { kMore, kDone, kError };

// Appends the IPv4 rows found in `received` (one or more netlink messages) to
// `rows`. Messages whose sequence number is not `sequence` are skipped. kDone
// at NLMSG_DONE, kError (with `error` set) at an error message or a malformed
// message, kMore when further receives follow. `interrupted` is set when the
// kernel flagged a message of the dump as inconsistent (the table changed
// while it was being dumped).
DumpStep ParseNeighbourDump(std::span<const uint8_t> received, uint32_t sequence,
                            std::vector<ArpRow>& rows, int& error, bool& interrupted);

// Builds the RTM_DELNEIGH request for `row`.
std::vector<uint8_t> BuildDeleteRequest(const ArpRow& row, uint32_t sequence);

}  // namespace netlink_detail

}  // namespace vorpane
