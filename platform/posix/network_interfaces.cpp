#include "platform/network_interfaces.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <bit>
#include <cerrno>
#include <memory>

namespace vorpane {

LocalInterfaces ReadLocalInterfaces() {
    LocalInterfaces result;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        result.error = errno;
        return result;
    }
    const std::unique_ptr<ifaddrs, decltype(&freeifaddrs)> owner(list, freeifaddrs);
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) {
            continue;
        }
        LocalInterface item;
        item.name = entry->ifa_name;
        item.address = Ipv4Address::FromNetworkOrder(
            reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr);
        // The netmask is contiguous ones from the top on Linux.
        if (entry->ifa_netmask != nullptr) {
            const uint32_t mask =
                ntohl(reinterpret_cast<const sockaddr_in*>(entry->ifa_netmask)->sin_addr.s_addr);
            item.prefixLength = std::popcount(mask);
        }
        item.up = (entry->ifa_flags & IFF_UP) != 0 && (entry->ifa_flags & IFF_RUNNING) != 0;
        item.loopback = (entry->ifa_flags & IFF_LOOPBACK) != 0;
        result.interfaces.push_back(std::move(item));
    }
    return result;
}

}  // namespace vorpane
