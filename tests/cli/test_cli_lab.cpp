// vorpane-cli with the system's own environment inside a lab network: the
// local interfaces give the prefix, the neighbour table the MAC, Debian's
// OUI registry the maker.

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>

#include "cli/system_environment.h"
#include "emulator/virtual_printer.h"
#include "lab_fixture.h"
#include "scan_lab.h"

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

}  // namespace
}  // namespace vorpane
