// IP Helper on Windows: the echo service's probe and the ARP table with the
// system's calls stood in for (wine drops the echo service's IP options and
// deletes no ARP row), then real probes of loopback.

#include <gtest/gtest.h>

#include "net/windows/ip_helper.h"

namespace vorpane {
namespace {

using Bytes = std::vector<uint8_t>;

// What the stand-in of IcmpSendEcho2 answers, and what it was asked.
struct EchoScript {
    bool createFails = false;
    std::vector<std::pair<IPAddr, ULONG>> replies = {};  // sender, status
    DWORD error = 0;                                     // when there is no reply
};
struct EchoSeen {
    EchoScript script;
    int sends = 0, closes = 0;
    IPAddr destination = 0;
    Bytes options = {};
    UCHAR ttl = 0;
    WORD requestSize = 0;
    DWORD timeout = 0;
} g_echo;

HANDLE WINAPI FakeCreate() {
    return g_echo.script.createFails ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(0x1CE);
}
BOOL WINAPI FakeClose(HANDLE) {
    ++g_echo.closes;
    return TRUE;
}
DWORD WINAPI FakeSendEcho2(HANDLE, HANDLE, FARPROC, PVOID, IPAddr destination, LPVOID,
                           WORD requestSize, PIP_OPTION_INFORMATION options, LPVOID reply,
                           DWORD replySize, DWORD timeout) {
    ++g_echo.sends;
    g_echo.destination = destination;
    g_echo.options.assign(options->OptionsData, options->OptionsData + options->OptionsSize);
    g_echo.ttl = options->Ttl;
    g_echo.requestSize = requestSize;
    g_echo.timeout = timeout;
    EXPECT_GE(replySize, g_echo.script.replies.size() * sizeof(ICMP_ECHO_REPLY));
    auto* out = static_cast<ICMP_ECHO_REPLY*>(reply);
    for (const auto& [from, status] : g_echo.script.replies) {
        *out++ = ICMP_ECHO_REPLY{from, status, 1, 0, 0, nullptr, {}};
    }
    SetLastError(g_echo.script.replies.empty() ? g_echo.script.error : 0);
    return static_cast<DWORD>(g_echo.script.replies.size());
}

constexpr IPAddr Wire(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    return static_cast<IPAddr>(a | b << 8 | c << 16 | d << 24);  // first octet first in memory
}

TEST(ServiceEchoProbe, AnswersAsTheRawProbeAndSendsTheRecordRouteOption) {
    const windows::IcmpServiceCalls stand_in{FakeCreate, FakeClose, FakeSendEcho2};
    const IPAddr target = Wire(198, 18, 7, 20), router = Wire(198, 18, 7, 1);
    struct Case {
        const char* name;
        EchoScript script;
        const char* address;
        int32_t timeoutMs, result, sends;
    };
    const Case cases[] = {
        {"echo reply", {.replies = {{target, IP_SUCCESS}}}, "198.18.7.20", 1000, 1, 1},
        {"the host's own unreachable",
         {.replies = {{target, IP_DEST_PORT_UNREACHABLE}}},
         "198.18.7.20",
         500,
         1,
         1},
        {"a router's answer",
         {.replies = {{router, IP_DEST_HOST_UNREACHABLE}}},
         "198.18.7.20",
         500,
         0,
         1},
        {"time-out", {.error = IP_REQ_TIMED_OUT}, "198.18.7.20", 500, 0, 1},
        {"unreachable", {.error = IP_DEST_HOST_UNREACHABLE}, "198.18.7.20", 500, 0, 1},
        {"no route", {.error = IP_DEST_NET_UNREACHABLE}, "198.18.7.20", 500, -1, 1},
        {"bad parameter", {.error = ERROR_INVALID_PARAMETER}, "198.18.7.20", 500, -1, 1},
        {"no service", {.createFails = true}, "198.18.7.20", 500, -1, 0},
        {"no address", {}, "198.18.7", 500, -1, 0},
        {"no time-out", {}, "198.18.7.20", 0, -1, 0},
    };
    const auto route = CEchoProbe::RecordRouteOptions();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_echo = EchoSeen{c.script};
        EXPECT_EQ(windows::ServiceEchoProbe(stand_in).Probe(c.address, c.timeoutMs), c.result);
        ASSERT_EQ(g_echo.sends, c.sends);
        EXPECT_EQ(g_echo.closes, c.script.createFails ? 0 : c.sends);
        if (c.sends > 0) {
            EXPECT_EQ(g_echo.destination, target);
            EXPECT_EQ(g_echo.options, Bytes(route.begin(), route.end()));
            EXPECT_EQ(g_echo.options.size(), 40u);
            EXPECT_EQ(g_echo.ttl, 128);
            EXPECT_EQ(g_echo.requestSize, CEchoProbe::kRequestSize - 8);
            EXPECT_EQ(g_echo.timeout, static_cast<DWORD>(c.timeoutMs));
        }
    }
}

// The ARP table's stand-in: rows, the answer of the first GetIpNetTable call
// and of DeleteIpNetEntry, and the rows deleted.
struct TableScript {
    std::vector<MIB_IPNETROW> rows = {};
    DWORD readError = NO_ERROR, deleteError = NO_ERROR;
};
struct TableSeen {
    TableScript script;
    std::vector<MIB_IPNETROW> deleted = {};
} g_table;

DWORD WINAPI FakeGetTable(PMIB_IPNETTABLE table, PULONG size, BOOL) {
    if (g_table.script.readError != NO_ERROR) {
        return g_table.script.readError;
    }
    if (g_table.script.rows.empty()) {
        return ERROR_NO_DATA;
    }
    const ULONG needed = sizeof(MIB_IPNETTABLE) + g_table.script.rows.size() * sizeof(MIB_IPNETROW);
    if (table == nullptr || *size < needed) {
        *size = needed;
        return ERROR_INSUFFICIENT_BUFFER;
    }
    table->dwNumEntries = static_cast<DWORD>(g_table.script.rows.size());
    std::copy(g_table.script.rows.begin(), g_table.script.rows.end(), table->table);
    return NO_ERROR;
}
DWORD WINAPI FakeDeleteEntry(PMIB_IPNETROW row) {
    g_table.deleted.push_back(*row);
    return g_table.script.deleteError;
}

MIB_IPNETROW Row(DWORD index, IPAddr address) {
    return {index, 6, {0xAE, 0x2B, 0x64, 0x14, 0x2C, 0x6C}, address, MIB_IPNET_TYPE_DYNAMIC};
}

TEST(IpNetTable, PurgeDeletesTheRowOfTheAddressAndIsRefusedWithoutAnAdministrator) {
    const windows::IpNetCalls stand_in{FakeGetTable, FakeDeleteEntry};
    const MIB_IPNETROW rows[] = {Row(3, Wire(198, 18, 7, 1)), Row(7, Wire(198, 18, 7, 20))};
    // The table holds the first `rowCount` rows. (A table of scripts, each
    // with a vector, trips GCC 12's maybe-uninitialized check at -O3.)
    struct Case {
        const char* name;
        size_t rowCount;
        DWORD readError, deleteError;
        int32_t result;
        std::vector<DWORD> deletedIndexes;
    };
    const Case cases[] = {
        {"deleted", 2, NO_ERROR, NO_ERROR, 1, {7}},
        {"refused", 2, NO_ERROR, ERROR_ACCESS_DENIED, 0, {7}},
        {"not there", 1, NO_ERROR, NO_ERROR, 1, {}},
        {"empty table", 0, NO_ERROR, NO_ERROR, 1, {}},
        {"unreadable", 2, ERROR_NOT_SUPPORTED, NO_ERROR, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_table = TableSeen{{{rows, rows + c.rowCount}, c.readError, c.deleteError}};
        windows::IpNetTable table(stand_in);
        EXPECT_EQ(PurgeArpAddress(table, Ipv4Address::FromOctets({198, 18, 7, 20})), c.result);
        std::vector<DWORD> indexes;
        for (const MIB_IPNETROW& row : g_table.deleted) {
            indexes.push_back(row.dwIndex);
            EXPECT_EQ(row.dwAddr, Wire(198, 18, 7, 20));
            EXPECT_EQ(Bytes(row.bPhysAddr, row.bPhysAddr + row.dwPhysAddrLen),
                      Bytes({0xAE, 0x2B, 0x64, 0x14, 0x2C, 0x6C}));
        }
        EXPECT_EQ(indexes, c.deletedIndexes);
    }
}

// On loopback, the system's own way: a raw socket (wine runs as the host's
// root here) and the echo service.
TEST(SystemEchoProbe, LoopbackAnswersEveryWay) {
    EXPECT_EQ(windows::ServiceEchoProbe().Probe("127.0.0.1", 1000), 1);
    EXPECT_EQ(windows::SystemEchoProbe().Probe("127.0.0.1", 1000), 1);
    EXPECT_EQ(windows::SystemEchoProbe().Probe("127.0.0.1.5", 1000), -1);
}

}  // namespace
}  // namespace vorpane
