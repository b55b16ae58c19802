#include "net/windows/ip_helper.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>

namespace vorpane::windows {

namespace {

// Owns an echo service handle.
class IcmpHandle {
public:
    IcmpHandle(const IcmpServiceCalls& calls) : m_calls(calls), m_handle(calls.create()) {}
    ~IcmpHandle() {
        if (Valid()) {
            m_calls.close(m_handle);
        }
    }
    IcmpHandle(const IcmpHandle&) = delete;
    IcmpHandle& operator=(const IcmpHandle&) = delete;
    bool Valid() const { return m_handle != INVALID_HANDLE_VALUE && m_handle != nullptr; }
    HANDLE get() const { return m_handle; }

private:
    const IcmpServiceCalls& m_calls;
    HANDLE m_handle;
};

// The echo service answers a request nobody acknowledged with one of these;
// every other failure means the request never went out.
bool NobodyAnswered(DWORD status) {
    return status == IP_REQ_TIMED_OUT || status == IP_DEST_HOST_UNREACHABLE ||
           status == IP_TTL_EXPIRED_TRANSIT;
}

int FromWin32(DWORD error) {
    switch (error) {
        case ERROR_ACCESS_DENIED:
            return EPERM;
        case ERROR_NOT_FOUND:
            return ENOENT;
        case ERROR_NOT_ENOUGH_MEMORY:
            return ENOMEM;
        default:
            return EIO;
    }
}

}  // namespace

int32_t ServiceEchoProbe::Probe(const std::string& address, int32_t timeoutMs) {
    const std::optional<Ipv4Address> parsed = Ipv4Address::Parse(address);
    if (timeoutMs <= 0 || !parsed) {
        return -1;
    }
    const IcmpHandle handle(m_calls);
    if (!handle.Valid()) {
        return -1;
    }
    std::array<uint8_t, CEchoProbe::kIpOptionsSize> options = CEchoProbe::RecordRouteOptions();
    IP_OPTION_INFORMATION information{};
    information.Ttl = kTimeToLive;
    information.OptionsSize = static_cast<UCHAR>(options.size());
    information.OptionsData = options.data();
    // The service writes the 8-byte ICMP header itself; the data is what
    // follows it in the raw socket's request.
    std::array<uint8_t, CEchoProbe::kRequestSize - 8> data{};
    alignas(ICMP_ECHO_REPLY) std::array<uint8_t, CEchoProbe::kBufferSize> replies{};
    const IPAddr destination = parsed->NetworkOrder();
    const DWORD count =
        m_calls.sendEcho2(handle.get(), nullptr, nullptr, nullptr, destination, data.data(),
                          static_cast<WORD>(data.size()), &information, replies.data(),
                          static_cast<DWORD>(replies.size()), static_cast<DWORD>(timeoutMs));
    if (count == 0) {
        return NobodyAnswered(GetLastError()) ? 0 : -1;
    }
    const size_t fits = replies.size() / sizeof(ICMP_ECHO_REPLY);
    for (size_t i = 0; i < std::min<size_t>(count, fits); ++i) {
        ICMP_ECHO_REPLY reply;
        std::memcpy(&reply, replies.data() + i * sizeof reply, sizeof reply);
        if (reply.Address == destination) {
            return 1;
        }
    }
    return 0;
}

int32_t SystemEchoProbe::Probe(const std::string& address, int32_t timeoutMs) {
    IcmpSocketOrError opened = SystemIcmpSocketFactory::Instance().Open();
    if (opened.socket) {
        OpenedIcmpSocket socket(std::move(opened.socket));
        return CEchoProbe(socket).Probe(address, timeoutMs);
    }
    // Only a refusal sends the probe to the echo service; any other failure
    // would fail there too.
    if (opened.error != EACCES && opened.error != EPERM) {
        return -1;
    }
    return ServiceEchoProbe().Probe(address, timeoutMs);
}

int IpNetTable::Read(std::vector<ArpRow>& rows) {
    rows.clear();
    std::vector<uint8_t> buffer;
    ULONG size = 0;
    DWORD result = m_calls.getTable(nullptr, &size, FALSE);
    // The table may grow between the two calls.
    for (int attempt = 0; attempt < 4 && result == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
        buffer.assign(size, 0);
        result = m_calls.getTable(reinterpret_cast<PMIB_IPNETTABLE>(buffer.data()), &size, FALSE);
    }
    if (result == ERROR_NO_DATA) {
        return 0;
    }
    if (result != NO_ERROR) {
        return FromWin32(result);
    }
    const auto* table = reinterpret_cast<const MIB_IPNETTABLE*>(buffer.data());
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
        const MIB_IPNETROW& row = table->table[i];
        ArpRow out;
        out.interfaceIndex = static_cast<int32_t>(row.dwIndex);
        out.linkAddress.assign(row.bPhysAddr,
                               row.bPhysAddr + std::min<DWORD>(row.dwPhysAddrLen, MAXLEN_PHYSADDR));
        out.address = row.dwAddr;
        out.state = static_cast<uint16_t>(row.dwType);
        rows.push_back(std::move(out));
    }
    return 0;
}

int IpNetTable::Delete(const ArpRow& row) {
    MIB_IPNETROW entry{};
    entry.dwIndex = static_cast<DWORD>(row.interfaceIndex);
    entry.dwPhysAddrLen =
        static_cast<DWORD>(std::min<size_t>(row.linkAddress.size(), MAXLEN_PHYSADDR));
    std::copy_n(row.linkAddress.begin(), entry.dwPhysAddrLen, entry.bPhysAddr);
    entry.dwAddr = row.address;
    entry.dwType = row.state;
    const DWORD result = m_calls.deleteEntry(&entry);
    return result == NO_ERROR ? 0 : FromWin32(result);
}

}  // namespace vorpane::windows

namespace vorpane {

// IP Helper needs nothing opened: the table is read afresh on each call.
NeighbourTableOrError OpenSystemNeighbourTable() {
    return {std::make_unique<windows::IpNetTable>(), 0};
}

}  // namespace vorpane
