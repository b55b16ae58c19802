// vorpane-cli with the system's own environment inside a lab network: the
// local interfaces give the prefix, the neighbour table the MAC, Debian's
// OUI registry the maker.

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "cli/system_environment.h"
#include "lab_fixture.h"
#include "scan_lab.h"
#include "virtual_printer/virtual_printer.h"

namespace vorpane {
namespace {

class CliLabTest : public lab::LabTest {
protected:
    std::string LabSubnet() const override { return "198.18.33"; }
};

TEST_F(CliLabTest, ScanAndStatusNameEachPrinterByItsMacAndMaker) {
    ASSERT_TRUE(lab().AddHost("printer", {17}));
    ASSERT_TRUE(lab().AddHost("pc", {18}));
    // 00:11:62 belongs to a printer maker in the registry.
    const std::string setMac = "ip -n '" + lab().HostNamespace("printer") +
                               "' link set dev eth0 address 00:11:62:0a:0b:11";
    ASSERT_EQ(std::system(setMac.c_str()), 0);
    std::string error;
    const auto printer = scanlab::StartPrinter(lab(), lab().HostNamespace("printer"),
                                               lab().Address(17), false, error);
    ASSERT_NE(printer, nullptr) << error;

    std::ostringstream out;
    std::ostringstream err;
    int scanStatus = -1;
    int statusStatus = -1;
    ASSERT_TRUE(lab().RunInClient([&] {
        CliEnvironment env = MakeSystemEnvironment(out, err);
        // No prefix: the client's own /24.
        const std::string scan[] = {"--json", "scan"};
        scanStatus = RunCommandLine(scan, env);
        const std::string status[] = {"--json", "status", lab().Address(17), lab().Address(18)};
        statusStatus = RunCommandLine(status, env);
    }));
    EXPECT_EQ(scanStatus, 0) << err.str();
    EXPECT_EQ(statusStatus, 1) << err.str();  // .18 refuses: not a printer

    const std::string named =
        "\"mac\":\"00:11:62:0a:0b:11\",\"vendor\":\"STAR MICRONICS CO.,LTD.\"";
    std::istringstream lines(out.str());
    std::string scanLine, printerLine, pcLine, extra;
    ASSERT_TRUE(std::getline(lines, scanLine) && std::getline(lines, printerLine) &&
                std::getline(lines, pcLine))
        << out.str();
    EXPECT_FALSE(std::getline(lines, extra)) << out.str();
    EXPECT_NE(scanLine.find("\"address\":\"198.18.33.17\""), std::string::npos) << scanLine;
    EXPECT_NE(scanLine.find(named), std::string::npos) << scanLine;
    EXPECT_NE(printerLine.find(named), std::string::npos) << printerLine;
    EXPECT_NE(printerLine.find("\"online\":true"), std::string::npos) << printerLine;
    EXPECT_NE(pcLine.find("\"online\":false"), std::string::npos) << pcLine;
}

// A /23 whose lower half the client's routes drop, refuse or forbid, and
// whose upper half answers on every host but the client's own .254.
class CliHalfRoutedLabTest : public lab::LabTest {
protected:
    std::string LabSubnet() const override { return "198.18.35"; }
    int LabClientHost() const override { return 254; }
};

TEST_F(CliHalfRoutedLabTest, ARouteThatDropsHalfThePrefixEndsOnlyTheHostsBehindIt) {
    ASSERT_TRUE(lab().AddHost("printers", {1}));
    const std::string printers = lab().HostNamespace("printers");
    // Every address from .0 to .253 is the printers' own; .254 stays the
    // client's, so answers to it still leave.
    for (const char* part : {"0/25", "128/26", "192/27", "224/28", "240/29", "248/30", "252/31"}) {
        const std::string local =
            "ip -n '" + printers + "' route add local 198.18.35." + part + " dev lo";
        ASSERT_EQ(std::system(local.c_str()), 0) << local;
    }
    // One printer answers on all of them, with room for every host's
    // session at once.
    VirtualPrinter::Created printer;
    ASSERT_TRUE(lab().RunInNamespace(printers, [&] {
        VirtualPrinterConfig config;
        config.listenAddresses = {"0.0.0.0"};
        config.port = 9100;
        config.maxSessions = 512;
        printer = VirtualPrinter::Create(std::move(config));
    }));
    ASSERT_NE(printer.printer, nullptr) << printer.error;
    std::vector<std::string> expected;
    // In a /23, .0 of the upper half is a host like any other.
    for (int host = 0; host <= 253; ++host) {
        expected.push_back("198.18.35." + std::to_string(host));
    }

    // A blackhole route makes connect() say EINVAL, an unreachable one
    // EHOSTUNREACH, a prohibiting one EACCES: each about its host alone.
    for (const char* type : {"blackhole", "unreachable", "prohibit"}) {
        SCOPED_TRACE(type);
        const std::string route =
            "ip -n '" + lab().ClientNamespace() + "' route replace " + type + " 198.18.34.0/24";
        ASSERT_EQ(std::system(route.c_str()), 0) << route;
        std::ostringstream out;
        std::ostringstream err;
        int status = -1;
        ASSERT_TRUE(lab().RunInClient([&] {
            CliEnvironment env = MakeSystemEnvironment(out, err);
            const std::string scan[] = {"--json", "scan", "198.18.34.0/23", "--timeout", "2000"};
            status = RunCommandLine(scan, env);
        }));
        EXPECT_EQ(status, 0) << err.str();
        std::vector<std::string> listed;
        std::istringstream lines(out.str());
        for (std::string line; std::getline(lines, line);) {
            const auto json = nlohmann::json::parse(line);
            listed.push_back(json["address"]);
        }
        EXPECT_EQ(listed, expected) << err.str();
    }
}

}  // namespace
}  // namespace vorpane
