#pragma once
// The printer sweep behind `vorpane-cli scan`: a TCP connect to one port of
// every host of a prefix at once, then one DLE EOT 1 to each host that
// accepted. It needs no privilege. Silent hosts cost the deadline and
// nothing more; a refusal, or a route that drops or forbids a host, ends
// that host at once and no other.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ipv4_address.h"
#include "platform/network_interfaces.h"

namespace vorpane {

// A.B.C.D/N with N from 16 to 32, or one address (a /32).
struct Ipv4Prefix {
    Ipv4Address network;  // host bits zero
    int length = 32;

    // Nullopt for anything else; the host bits of A.B.C.D may be set
    // ("192.0.2.77/24" is 192.0.2.0/24).
    static std::optional<Ipv4Prefix> Parse(std::string_view text);
    // "192.0.2.0/24"; a /32 as its plain address.
    std::string Text() const;
    // Every host: without the network and broadcast addresses below /31.
    std::vector<Ipv4Address> Hosts() const;
    bool operator==(const Ipv4Prefix&) const = default;
};

struct SweepOptions {
    uint16_t port = 9100;
    // Connect deadline: a host still pending at half of it gets a second
    // connect; one still pending at its end is silent. Each host that
    // accepted gets as long again for its status byte.
    int32_t timeoutMs = 500;
    // Open sockets at most; hosts past it wait for a free slot.
    int32_t maxOpenSockets = 512;
    // The subnets of this machine's links. A host there holds a neighbour
    // entry from its first connect until it answers, and, when it does not,
    // as long as the system asks for its address (Linux: mcast_solicit times
    // retrans_time, 3 s), even after its connect was given up. At most
    // maxOnLinkPending hosts hold one at a time (0: no such bound), so a big
    // sweep does not push the link's other hosts out of the table.
    std::vector<Ipv4Prefix> onLink{};
    int32_t maxOnLinkPending = 0;
    int32_t neighbourHoldMs = 3000;
};

struct SweepHit {
    Ipv4Address address;
    // The one byte a print server answers to DLE EOT 1; nullopt when the
    // port accepted but nothing came back ("9100 open, no status").
    std::optional<uint8_t> status;
    bool operator==(const SweepHit&) const = default;
};

struct SweepResult {
    std::vector<SweepHit> hits;  // ascending by address
    // 0, or the errno of a failure on our side (no socket could be opened,
    // the wait failed); hits found before it are kept.
    int error = 0;
    // The most sockets open, and on-link hosts holding a neighbour entry,
    // at one time.
    int32_t peakOpenSockets = 0;
    int32_t peakOnLinkPending = 0;
};

// Every host's connect starts as soon as the window has room; one wait
// serves all connects and status reads at once, so the whole sweep takes
// about one connect deadline plus, when a host accepted late, one status
// wait. maxOpenSockets is bounded by what one wait can hold
// (kMaxPollSockets).
SweepResult SweepPort(std::span<const Ipv4Address> hosts, const SweepOptions& options);

// The on-link bound for a neighbour table of `size` entries (0: none
// known): a quarter of it, since Linux starts pushing entries out past half
// (gc_thresh2) and the link's own hosts need the rest; a /24 still fits.
int32_t OnLinkWindow(int32_t neighbourTableSize);

// The window for a process that may hold `openFileLimit` descriptors (0:
// no such limit, as on Windows): most of them, leaving room for what else
// the process holds, and within what one wait can hold.
int32_t SweepWindow(int64_t openFileLimit);

// Whether `address` is inside one of `prefixes`.
bool InAnyPrefix(const std::vector<Ipv4Prefix>& prefixes, Ipv4Address address);

// The subnet of each address of an interface that is up and not loopback.
std::vector<Ipv4Prefix> LinkPrefixes(const std::vector<LocalInterface>& interfaces);

// The prefixes a scan covers when none is given: the /24 of each address of
// an interface that is up and not loopback, each once, in the interfaces'
// order.
std::vector<Ipv4Prefix> DefaultScanPrefixes(const std::vector<LocalInterface>& interfaces);

}  // namespace vorpane
