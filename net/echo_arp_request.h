#pragma once
// What the privileged helper program (vorpane-echo-arp) is asked and how it
// answers: the one grammar both sides use.
//
//   vorpane-echo-arp echo ADDRESS TIMEOUT_MS   one echo probe
//   vorpane-echo-arp arp-delete ADDRESS        delete the first ARP row of ADDRESS
//
// ADDRESS is a dotted quad in its one text form (no leading zeros, no
// spaces) of one host: not in 0.0.0.0/8, 224.0.0.0/4 (multicast) or
// 240.0.0.0/4 (reserved, 255.255.255.255 included). TIMEOUT_MS is 1..10000
// without leading zeros. Nothing else is accepted. The answer is the exit status: kHelperStatusBase
// plus the result plus one (the probe's -1/0/1, the deletion's 0/1), or kHelperRefused for a
// request it turned down.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/ipv4_address.h"

namespace vorpane {

inline constexpr int kHelperStatusBase = 10;  // 10: -1, 11: 0, 12: 1
inline constexpr int kHelperRefused = 64;     // EX_USAGE
inline constexpr int32_t kHelperMaxTimeoutMs = 10000;

struct HelperRequest {
    enum class Operation { kEcho, kArpDelete };
    Operation operation = Operation::kEcho;
    Ipv4Address address;
    int32_t timeoutMs = 0;  // echo only

    bool operator==(const HelperRequest&) const = default;
};

struct HelperRequestOrRefusal {
    std::optional<HelperRequest> request;
    std::string refusal;  // why, when there is no request
};

// Reads the arguments that follow the program's name.
HelperRequestOrRefusal ParseHelperRequest(std::span<const char* const> arguments);

// The arguments that ask for `request`, as ParseHelperRequest reads them.
std::vector<std::string> HelperArguments(const HelperRequest& request);

// The exit status that carries `result`, and the result an exit status
// carries (nullopt for any other status).
inline int HelperStatus(int32_t result) {
    return kHelperStatusBase + result + 1;
}
inline std::optional<int32_t> HelperResult(int status) {
    if (status < kHelperStatusBase || status > kHelperStatusBase + 2) {
        return std::nullopt;
    }
    return status - kHelperStatusBase - 1;
}

}  // namespace vorpane
