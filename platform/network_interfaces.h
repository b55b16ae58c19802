#pragma once
// The IPv4 addresses of this machine's network interfaces, as the system
// lists them: getifaddrs on POSIX, GetAdaptersAddresses on Windows.

#include <string>
#include <vector>

#include "platform/ipv4_address.h"

namespace vorpane {

struct LocalInterface {
    std::string name;  // "eth0"; on Windows the adapter's friendly name
    Ipv4Address address;
    int prefixLength = 0;
    bool up = false;
    bool loopback = false;
    bool operator==(const LocalInterface&) const = default;
};

// One entry per IPv4 address (an interface with two addresses gives two), in
// the system's order; `error` is 0 or the errno of a list that could not be
// read, and then `interfaces` is empty.
struct LocalInterfaces {
    std::vector<LocalInterface> interfaces;
    int error = 0;
};

LocalInterfaces ReadLocalInterfaces();

}  // namespace vorpane
