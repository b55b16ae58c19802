#include "net/echo_arp_request.h"

#include <cstring>
#include <string_view>

namespace vorpane {

namespace {

// Longer than any argument of the grammar ("255.255.255.255" is 15); longer
// input is refused before it is looked at.
constexpr size_t kMaxArgumentLength = 15;

constexpr char kEcho[] = "echo";
constexpr char kArpDelete[] = "arp-delete";

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// A decimal number of 1..maxDigits digits, without sign or leading zero.
std::optional<uint32_t> Decimal(std::string_view text, size_t maxDigits) {
    if (text.empty() || text.size() > maxDigits || (text[0] == '0' && text.size() > 1)) {
        return std::nullopt;
    }
    uint32_t value = 0;
    for (char c : text) {
        if (!IsDigit(c)) {
            return std::nullopt;
        }
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    return value;
}

// Addresses no single host holds: "this network" (0.0.0.0/8, which the
// kernel takes as the machine itself), multicast (224.0.0.0/4, answered by
// every member of a group) and the reserved block above it (240.0.0.0/4, the
// limited broadcast 255.255.255.255 included). A probe or a row of one is
// never about a printer.
bool IsOneHostAddress(Ipv4Address address) {
    const uint8_t first = address.Octets()[0];
    return first != 0 && first < 224;
}

HelperRequestOrRefusal Refuse(std::string why) {
    return {std::nullopt, std::move(why)};
}

}  // namespace

HelperRequestOrRefusal ParseHelperRequest(std::span<const char* const> arguments) {
    for (const char* argument : arguments) {
        if (argument == nullptr || strnlen(argument, kMaxArgumentLength + 1) > kMaxArgumentLength) {
            return Refuse("an argument is longer than any request has");
        }
    }
    if (arguments.empty()) {
        return Refuse("no operation given");
    }
    HelperRequest request;
    const std::string_view operation = arguments[0];
    size_t expected = 0;
    if (operation == kEcho) {
        request.operation = HelperRequest::Operation::kEcho;
        expected = 3;
    } else if (operation == kArpDelete) {
        request.operation = HelperRequest::Operation::kArpDelete;
        expected = 2;
    } else {
        return Refuse("unknown operation (echo or arp-delete)");
    }
    if (arguments.size() != expected) {
        return Refuse(std::string(operation) + " takes " + std::to_string(expected - 1) +
                      (expected == 3 ? " arguments" : " argument"));
    }
    const std::optional<Ipv4Address> address = Ipv4Address::Parse(arguments[1]);
    if (!address) {
        return Refuse("not an IPv4 address in dotted-quad form");
    }
    if (!IsOneHostAddress(*address)) {
        return Refuse("not the address of one host (0/8, multicast or reserved)");
    }
    request.address = *address;
    if (request.operation == HelperRequest::Operation::kEcho) {
        const std::optional<uint32_t> timeout = Decimal(arguments[2], 5);
        if (!timeout || *timeout < 1 || *timeout > kHelperMaxTimeoutMs) {
            return Refuse("the time-out must be 1 to 10000 milliseconds");
        }
        request.timeoutMs = static_cast<int32_t>(*timeout);
    }
    return {std::move(request), {}};
}

std::vector<std::string> HelperArguments(const HelperRequest& request) {
    if (request.operation == HelperRequest::Operation::kEcho) {
        return {kEcho, request.address.Text(), std::to_string(request.timeoutMs)};
    }
    return {kArpDelete, request.address.Text()};
}

}  // namespace vorpane
