#include "platform/network_interfaces.h"

#include <winsock2.h>

#include <windows.h>

// After <windows.h>, in this order.
#include <iphlpapi.h>
#include <ws2tcpip.h>

#include <cerrno>
#include <vector>

#include "platform/windows/wide_text.h"

namespace vorpane {

LocalInterfaces ReadLocalInterfaces() {
    LocalInterfaces result;
    const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    // The list may grow between the call that sizes it and the one that
    // fills it; a few tries cover that.
    ULONG size = 16 * 1024;
    std::vector<unsigned char> buffer;
    ULONG rc = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 4 && rc == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.resize(size);
        rc = GetAdaptersAddresses(AF_INET, flags, nullptr,
                                  reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    }
    if (rc == ERROR_NO_DATA) {
        return result;
    }
    if (rc != NO_ERROR) {
        result.error = rc == ERROR_NOT_ENOUGH_MEMORY ? ENOMEM : EIO;
        return result;
    }
    for (auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data());
         adapter != nullptr; adapter = adapter->Next) {
        for (const IP_ADAPTER_UNICAST_ADDRESS* unicast = adapter->FirstUnicastAddress;
             unicast != nullptr; unicast = unicast->Next) {
            const SOCKADDR* address = unicast->Address.lpSockaddr;
            if (address == nullptr || address->sa_family != AF_INET) {
                continue;
            }
            LocalInterface item;
            item.name = adapter->FriendlyName ? windows::WideToUtf8(adapter->FriendlyName) : "";
            item.address = Ipv4Address::FromNetworkOrder(
                reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr);
            item.prefixLength = unicast->OnLinkPrefixLength;
            item.up = adapter->OperStatus == IfOperStatusUp;
            item.loopback = adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK;
            result.interfaces.push_back(std::move(item));
        }
    }
    return result;
}

}  // namespace vorpane
