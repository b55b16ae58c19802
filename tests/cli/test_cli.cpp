// vorpane-cli: its command line, the readings in parallel, the OUI names,
// and every subcommand against virtual printers on loopback.

#include <gtest/gtest.h>
#include <httplib.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/cli_run.h"
#include "cli/oui.h"
#include "cli/outcome_report.h"
#include "cli/system_environment.h"
#include "commands/command_frames.h"
#include "loopback_printer.h"
#include "platform/codepage.h"
#include "platform/process.h"
#include "platform/thread.h"
#include "printer_link/network_printer_link.h"

namespace vorpane {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::ordered_json;
using Args = std::vector<std::string>;

TEST(CliCommandLine, GoodLinesGiveTheirValues) {
    const auto parse = [](const Args& args) { return ParseCommandLine(args).options.value(); };
    CliOptions o = parse({"scan"});
    EXPECT_EQ(o.command, CliCommand::kScan);
    EXPECT_EQ(o.timeoutMs, 500);
    EXPECT_TRUE(o.targets.empty());
    o = parse({"--json", "status", "127.0.0.1", "10.1.2.3/24", "--timeout", "250", "--watch", "5"});
    EXPECT_TRUE(o.json);
    EXPECT_EQ(o.targets, (Args{"127.0.0.1", "10.1.2.3/24"}));
    EXPECT_EQ(o.timeoutMs, 250);
    EXPECT_EQ(o.watchSeconds, 5);
    EXPECT_TRUE(parse({"status", "127.0.0.1", "--json"}).json);
    o = parse({"print", "127.0.0.1", "hi", "--hex", "--port", "9101"});
    EXPECT_EQ(o.text, "hi");
    EXPECT_TRUE(o.hex);
    EXPECT_EQ(o.port, 9101);
    EXPECT_EQ(o.timeoutMs, 1000);
    EXPECT_FALSE(parse({"print", "127.0.0.1"}).text);
    o = parse({"set-mac", "127.0.0.1", "AA-bb-cc-dd-ee-0f"});
    EXPECT_EQ(o.mac, (std::array<uint8_t, 6>{0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0x0F}));
    EXPECT_FALSE(parse({"set-mac", "127.0.0.1"}).mac);
    EXPECT_EQ(parse({"set-ip", "127.0.0.1", "192.0.2.5"}).newAddress.Text(), "192.0.2.5");
    o = parse({"metrics", "--listen", "0.0.0.0:9000", "--rescan", "60", "10.0.0.0/16"});
    EXPECT_EQ(o.listen, "0.0.0.0:9000");
    EXPECT_EQ(o.rescanSeconds, 60);
    const ParsedCommandLine help = ParseCommandLine(Args{"status", "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("--watch"), std::string::npos);
}

TEST(CliCommandLine, BadLinesExitTwoNamingTheArgument) {
    const std::pair<Args, std::string> cases[] = {
        {{"status", "127.0.0.1", "--timeout", "0"},
         "vorpane-cli: --timeout: 0 is not a time-out (1 to 60000 ms)"},
        {{"status", "127.0.0.1", "--timeout", "1x"}, "--timeout: 1x"},
        {{"test", "127.0.0.1", "--port", "65536"}, "--port: 65536"},
        {{"status", "127.0.0.1", "--watch", "0"}, "--watch: 0"},
        {{"status", "10.0.0.0/8"}, "TARGET: 10.0.0.0/8"},
        {{"scan", "1.2.3.4/33"}, "PREFIX: 1.2.3.4/33"},
        {{"test", "127.0.0.01"}, "ADDRESS: 127.0.0.01"},
        {{"set-ip", "127.0.0.1", "300.1.1.1"}, "NEW: 300.1.1.1"},
        {{"set-mac", "127.0.0.1", "aa:bb:cc:dd:ee"}, "MAC: aa:bb:cc:dd:ee"},
        {{"set-mac", "127.0.0.1", "aa:bb-cc:dd:ee:ff"}, "MAC: aa:bb-cc"},
        {{"metrics", "--listen", "localhost:1"}, "--listen: localhost:1"},
        {{"metrics", "--rescan", "-1"}, "--rescan: -1"},
        {{"status"}, "TARGET"},
        {{"send-file", "127.0.0.1"}, "FILE"},
        {{"frob"}, "frob: not a subcommand"},
        {{"test", "127.0.0.1", "--bogus"}, "--bogus"},
        {{"init", "127.0.0.1", "--hex"}, "--hex"},
        {{}, "subcommand"},
    };
    for (const auto& [args, message] : cases) {
        const ParsedCommandLine parsed = ParseCommandLine(args);
        EXPECT_FALSE(parsed.options) << message;
        EXPECT_EQ(parsed.exitCode, kExitUsage) << message;
        EXPECT_EQ(parsed.err.find('\n'), std::string::npos) << parsed.err;
        EXPECT_NE(parsed.err.find(message), std::string::npos) << parsed.err;
    }
}

TEST(CliOui, RegistryTextAndMacs) {
    const auto names = ParseOuiText(
        "OUI/MA-L  Organization\r\n00-11-62   (hex)\t\tStar Micronics Co.,LTD.\r\n"
        "001162     (base 16)\t\tStar Micronics Co.,LTD.\r\n\t\t\t\tShizuoka\r\n"
        "AC-DE-48   (hex)\t\tPrivate\n00-XX-62   (hex)\t\tBroken\n00-26-AB   (hex)\t\t\r\n");
    EXPECT_EQ(names, (std::unordered_map<uint32_t, std::string>{
                         {0x001162, "Star Micronics Co.,LTD."}, {0xACDE48, "Private"}}));
    const std::pair<const char*, int64_t> macs[] = {{"00:11:62:0a:0b:0c", 0x001162},
                                                    {"AC-DE-48-00-00-01", 0xACDE48},
                                                    {"acde48000001", 0xACDE48},
                                                    {"00:11-62:00:00:00", -1},
                                                    {"0g:11:62", -1},
                                                    {"00:11", -1}};
    for (const auto& [mac, oui] : macs) {
        EXPECT_EQ(OuiOf(mac), oui) << mac;
    }
    const auto path = std::filesystem::temp_directory_path() /
                      ("vorpane-oui-" + std::to_string(CurrentProcessId()));
    std::ofstream(path) << "00-11-62   (hex)\t\tStar Micronics Co.,LTD.\n";
    OuiNames oui(path.string());
    EXPECT_EQ(oui.VendorOf("zz"), "");
    // Read once: the file gone, the names stay.
    EXPECT_EQ(oui.VendorOf("00:11:62:01:02:03"), "Star Micronics Co.,LTD.");
    std::filesystem::remove(path);
    EXPECT_EQ(oui.VendorOf("00-11-62-01-02-04"), "Star Micronics Co.,LTD.");
    EXPECT_EQ(oui.VendorOf("00:11:63:01:02:03"), "");
}

// Readings keep the given order; `parallel` readers run at once, no more.
TEST(CliReadPrinters, InOrderAndAtMostParallelAtOnce) {
    std::vector<Ipv4Address> addresses;
    for (uint32_t i = 0; i < 12; ++i) {
        addresses.push_back(Ipv4Address::FromHostOrder(0x7F000001 + i));
    }
    std::mutex mutex;
    std::condition_variable changed;
    int active = 0;
    int most = 0;
    int started = 0;
    const auto readings = ReadPrinters(
        addresses,
        [&](Ipv4Address address) {
            std::unique_lock lock(mutex);
            most = std::max(most, ++active);
            changed.notify_all();
            // The first three wait for each other: only readers that run at
            // the same time get past this before the deadline.
            if (started++ < 3) {
                changed.wait_for(lock, 10s, [&] { return most >= 3; });
            }
            --active;
            return PrinterReading{
                address, {}, {}, static_cast<int32_t>(address.HostOrder() & 0xFF)};
        },
        3);
    EXPECT_EQ(most, 3);
    ASSERT_EQ(readings.size(), addresses.size());
    for (size_t i = 0; i < readings.size(); ++i) {
        EXPECT_EQ(readings[i].address, addresses[i]);
        EXPECT_EQ(readings[i].status, static_cast<int32_t>(i + 1));
    }
}

// Each outcome has its own status, whatever its words say: a path or an
// address that reads like another outcome changes nothing.
TEST(CliOutcomeReport, EveryOutcomeHasItsStatusAndWords) {
    using F = SendFileOutcome::Result;
    using M = SetMacOutcome::Result;
    const std::string odd = "Success! Send finished!";
    const std::array<uint8_t, 6> mac = {0xAE, 0x2B, 0x64, 0x14, 0x2C, 0x6C};
    const std::tuple<CliReport, int, std::string> cases[] = {
        {SetIpReport(SetIpOutcome::kSameAddress, odd), kExitUsage,
         "Please input a different IP Address!"},
        {SetIpReport(SetIpOutcome::kCancelled, odd), kExitUsage,
         "Not confirmed: nothing was sent."},
        {SetIpReport(SetIpOutcome::kOccupied, odd), kExitPrinter,
         "This IP(" + odd + ") has been occupied by other network equipment!"},
        {SetIpReport(SetIpOutcome::kSent, "x"), kExitDone, "Success! Please restart the printer!"},
        {SetIpReport(SetIpOutcome::kFailed, odd), kExitPrinter, "Modify the IP Address failed!"},
        {SetMacReport({M::kCancelled}), kExitUsage, "Not confirmed: nothing was sent."},
        {SetMacReport({M::kFailed, mac}), kExitPrinter,
         "Modify Mac address failed, Please Confirm the printer is online and try again!"},
        {SetMacReport({M::kSent, mac}), kExitDone,
         "Mac:AE-2B-64-14-2C-6C Success! Please restart the printer!"},
        {SetMacReport({M::kSentArpStale, mac}), kExitDone,
         "Mac:AE-2B-64-14-2C-6C Success! But you may have to connect the printer a few minutes "
         "later !"},
        {SendFileReport({F::kOpenFailed, 13}, odd), kExitUsage, "Open File Failed!Err=13 " + odd},
        {SendFileReport({F::kTooLarge}, odd), kExitPrinter,
         "The file is too large to send! " + odd},
        {SendFileReport({F::kUnmeasured}, odd), kExitUsage,
         "Read File Failed!The file measures 0 bytes but holds more, nothing was sent " + odd},
        {SendFileReport({F::kReadShort, 0, 4096, 18, 0}, odd), kExitUsage,
         "Read File Failed!Read 18 of 4096 bytes, sent 0 of 18 bytes " + odd},
        {SendFileReport({F::kSendFailed, 0, 10, 10, 3}, odd), kExitPrinter,
         "Send Failed!Sent 3 of 10 bytes " + odd},
        {SendFileReport({F::kEmpty}, odd), kExitUsage, "The file is empty: nothing was sent."},
        {SendFileReport({F::kSent, 0, 5, 5, 5}, "Open File Failed"), kExitDone, "Send finished!"},
    };
    for (const auto& [report, exit, words] : cases) {
        EXPECT_EQ(std::pair(report.exit, report.words), std::pair(exit, words));
    }
}

class CliTest : public ::testing::Test {
protected:
    CliTest() {
        env.out = &out;
        env.err = &err;
        env.makeLink = [](uint16_t port, int32_t timeoutMs) {
            auto link = std::make_unique<NetworkPrinterLink>(port);
            link->SetTimeOut(0, timeoutMs);
            return link;
        };
        env.macOf = [](Ipv4Address a) { return a.Octets()[3] == 1 ? "00:11:62:0a:0b:0c" : ""; };
        env.vendorOf = [](const std::string& mac) {
            return mac.starts_with("00:11:62") ? "Star Micronics Co.,LTD." : "";
        };
        env.now = [this] { return std::chrono::system_clock::time_point(clock); };
        env.readInput = [] { return std::string("from standard input\n"); };
    }
    std::unique_ptr<VirtualPrinter> Printer() {
        return StartLoopbackPrinter([](VirtualPrinterConfig& c) { c.keepRaw = true; });
    }
    int Run(const Args& args) {
        out.str("");
        err.str("");
        return RunCommandLine(args, env);
    }
    std::vector<Json> Lines() {
        std::vector<Json> lines;
        std::istringstream text(out.str());
        for (std::string line; std::getline(text, line);) {
            lines.push_back(Json::parse(line));
        }
        return lines;
    }

    std::ostringstream out;
    std::ostringstream err;
    std::chrono::milliseconds clock{1'780'000'000'250};  // 2026-05-28T20:26:40.250Z
    CliEnvironment env;
};

// Every key of a line, in order, with its type (null allowed where given).
void ExpectSchema(const Json& line, const std::vector<std::pair<std::string, std::string>>& keys) {
    ASSERT_EQ(line.size(), keys.size()) << line;
    auto it = line.begin();
    for (const auto& [key, types] : keys) {
        EXPECT_EQ(it.key(), key);
        EXPECT_NE(types.find(it->type_name()), std::string::npos) << key << ": " << *it;
        ++it;
    }
}

// The keys of the conditions, after those that name the printer.
const std::vector<std::pair<std::string, std::string>> kConditionKeys = {
    {"online", "boolean"},
    {"busy", "boolean"},
    {"paperEnd", "boolean"},
    {"pause", "boolean"},
    {"coverOpen", "boolean"},
    {"overTemp", "boolean"},
    {"paperNearEnd", "boolean"},
    {"drawerPin3High", "boolean"},
    {"drawerOpen", "boolean null"},
    {"feedButton", "boolean"},
    {"cutterError", "boolean"},
    {"mechanicalError", "boolean"},
    {"unrecoverableError", "boolean"},
    {"autoRecoverableError", "boolean"},
    {"inUse", "boolean"},
    {"maker", "string null"},
    {"model", "string null"},
    {"firmware", "string null"},
    {"serial", "string null"},
    {"problem", "string null"}};

std::vector<std::pair<std::string, std::string>> Keys(
    std::vector<std::pair<std::string, std::string>> first) {
    first.insert(first.end(), kConditionKeys.begin(), kConditionKeys.end());
    return first;
}

const auto kStatusKeys = Keys({{"type", "string"},
                               {"time", "string"},
                               {"address", "string"},
                               {"mac", "string null"},
                               {"vendor", "string null"}});

TEST_F(CliTest, StatusAndScanLinesFollowTheSchema) {
    auto idle = Printer();
    auto stuck = Printer();
    ConditionSet conditions;
    conditions.Add(Condition::kPaperEnd);
    conditions.Add(Condition::kCoverOpen);
    stuck->SetConditions(conditions);
    // Both listen on 127.0.0.1, each on its own port: two runs.
    EXPECT_EQ(Run({"status", "--json", "127.0.0.1", "--port", std::to_string(idle->Port())}), 0);
    EXPECT_EQ(Run({"status", "--json", "127.0.0.1", "--port", std::to_string(stuck->Port())}), 0);
    const std::vector<Json> lines = Lines();
    ASSERT_EQ(lines.size(), 1u);
    ExpectSchema(lines[0], kStatusKeys);
    EXPECT_EQ(lines[0]["time"], "2026-05-28T20:26:40.250Z");
    EXPECT_EQ(lines[0]["mac"], "00:11:62:0a:0b:0c");
    EXPECT_EQ(lines[0]["vendor"], "Star Micronics Co.,LTD.");
    EXPECT_EQ(lines[0]["online"], true);
    EXPECT_EQ(lines[0]["paperEnd"], true);
    EXPECT_EQ(lines[0]["coverOpen"], true);
    EXPECT_EQ(lines[0]["overTemp"], false);

    const uint16_t closed = idle->Port();
    idle.reset();
    EXPECT_EQ(Run({"status", "127.0.0.2", "--port", std::to_string(closed), "--timeout", "300"}),
              kExitPrinter);
    EXPECT_NE(out.str().find("127.0.0.2  -    -       -      -         -       offline: refused"),
              std::string::npos)
        << out.str();

    env.sweep = [&](const std::vector<std::string>& prefixes, uint16_t port, int32_t timeoutMs) {
        EXPECT_EQ(prefixes, Args{"127.0.0.0/30"});
        EXPECT_EQ(port, stuck->Port());
        EXPECT_EQ(timeoutMs, 500);
        return FoundPrinters{
            {Ipv4Address::FromHostOrder(0x7F000001), Ipv4Address::FromHostOrder(0x7F000002)},
            {0x12, -1},
            0};
    };
    EXPECT_EQ(Run({"scan", "127.0.0.0/30", "--json", "--port", std::to_string(stuck->Port())}), 0);
    const std::vector<Json> found = Lines();
    ASSERT_EQ(found.size(), 2u);
    for (const Json& line : found) {
        ExpectSchema(line, Keys({{"type", "string"},
                                 {"address", "string"},
                                 {"port", "number"},
                                 {"mac", "string null"},
                                 {"vendor", "string null"},
                                 {"status", "number null"}}));
    }
    EXPECT_EQ(found[0]["status"], 0x12);
    EXPECT_EQ(found[1]["mac"], nullptr);
    EXPECT_EQ(found[1]["status"], nullptr);

    // A prefix among status's targets reads what its sweep found.
    EXPECT_EQ(Run({"status", "127.0.0.0/30", "--json", "--timeout", "500", "--port",
                   std::to_string(stuck->Port())}),
              kExitPrinter);
    EXPECT_EQ(Lines().size(), 2u);
    // The system's sweep: only 127.0.0.1 of the prefix listens on the port.
    env.sweep = SystemSweep();
    const std::string port = std::to_string(stuck->Port());
    EXPECT_EQ(Run({"scan", "127.0.0.0/29", "--json", "--port", port}), 0);
    const std::vector<Json> swept = Lines();
    ASSERT_EQ(swept.size(), 1u) << out.str();
    EXPECT_EQ(swept[0]["address"], "127.0.0.1");
    EXPECT_TRUE(swept[0]["status"].is_number());
    EXPECT_EQ(Run({"status", "127.0.0.0/29", "--port", port}), 0);
    // Off-line: no identity asked.
    EXPECT_NE(out.str().find("127.0.0.1  00:11:62:0a:0b:0c  Star Micronics Co.,LTD.  -      -    "
                             "     -       offline, cover open, stopped by paper end, paper end\n"),
              std::string::npos)
        << out.str();
    // A failure on our side: what the sweep found before it is listed and
    // read, and the exit status tells of the failure.
    for (const size_t found : {0, 1}) {
        SCOPED_TRACE(found);
        env.sweep = [found](const std::vector<std::string>&, uint16_t, int32_t) {
            return FoundPrinters{std::vector(found, Ipv4Address::FromHostOrder(0x7F000001)),
                                 std::vector<int32_t>(found, 0x12), EMFILE};
        };
        EXPECT_EQ(Run({"scan", "127.0.0.0/30", "--json"}), kExitNetwork);
        EXPECT_EQ(Lines().size(), found);
        EXPECT_NE(err.str().find("(errno " + std::to_string(EMFILE) + "); " +
                                 std::to_string(found) + " found"),
                  std::string::npos)
            << err.str();
        EXPECT_EQ(Run({"status", "127.0.0.0/30", "--json", "--port", port}), kExitNetwork);
        EXPECT_EQ(Lines().size(), found);
    }
}

// Each condition of the virtual printer in words and in its JSON keys: the
// keys named are true, every other boolean false but "online" (it answered).
TEST_F(CliTest, EveryConditionIsNamedInWordsAndKeys) {
    auto printer = Printer();
    const std::string port = std::to_string(printer->Port());
    struct Case {
        const char* conditions;
        const char* drawerOpen;  // --drawer-open, "" for none
        const char* words;
        std::vector<std::string> keys;
    };
    const Case cases[] = {
        {"online", "", "online", {}},
        {"paper-near-end", "", "online, paper near end", {"paperNearEnd"}},
        {"paper-end",
         "",
         "offline, stopped by paper end, paper end",
         {"busy", "paperEnd", "paperNearEnd"}},
        {"cover-open", "", "offline, cover open", {"busy", "coverOpen"}},
        {"over-temp",
         "",
         "offline, over temperature",
         {"busy", "overTemp", "autoRecoverableError"}},
        {"waiting-recovery", "", "offline, waiting for recovery", {"busy", "pause"}},
        {"cutter-error", "", "offline, autocutter error", {"busy", "cutterError"}},
        {"mechanical-error", "", "offline, mechanical error", {"busy", "mechanicalError"}},
        {"unrecoverable-error", "", "offline, unrecoverable error", {"busy", "unrecoverableError"}},
        {"feed-button",
         "",
         "offline, feed button pressed, paper fed by the button",
         {"busy", "feedButton"}},
        {"drawer", "", "online, drawer pin 3 high", {"drawerPin3High"}},
        {"drawer", "high", "online, drawer open", {"drawerPin3High", "drawerOpen"}},
        {"drawer", "low", "online", {"drawerPin3High"}},
        {"online", "low", "online, drawer open", {"drawerOpen"}},
        {"cutter-error,paper-near-end,drawer",
         "",
         "offline, drawer pin 3 high, autocutter error, paper near end",
         {"busy", "cutterError", "paperNearEnd", "drawerPin3High"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.conditions) + " " + c.drawerOpen);
        ConditionSet set;
        ASSERT_FALSE(ApplyConditionList(set, c.conditions, true));
        printer->SetConditions(set);
        Args args = {"status", "127.0.0.1", "--port", port, "--min-interval", "0"};
        if (*c.drawerOpen != '\0') {
            args.insert(args.end(), {"--drawer-open", c.drawerOpen});
        }
        ASSERT_EQ(Run(args), 0) << err.str();
        EXPECT_NE(out.str().find(std::string("  ") + c.words + "\n"), std::string::npos)
            << out.str();
        args.push_back("--json");
        ASSERT_EQ(Run(args), 0);
        const Json line = Lines().at(0);
        for (const auto& [key, type] : kConditionKeys) {
            const bool named = std::find(c.keys.begin(), c.keys.end(), key) != c.keys.end();
            if (key == "online") {
                EXPECT_EQ(line[key], true);
            } else if (key == "drawerOpen" && *c.drawerOpen == '\0') {
                EXPECT_EQ(line[key], nullptr);
            } else if (key == "problem") {
                EXPECT_EQ(line[key], nullptr);
            } else if (type == "string null") {
                // Who it is, asked only of a printer that reports itself on-line.
                EXPECT_EQ(line[key].is_string(), line["busy"] == false) << key;
            } else {
                EXPECT_EQ(line[key], named) << key;
            }
        }
    }
    EXPECT_EQ(Run({"status", "127.0.0.1", "--drawer-open", "open"}), kExitUsage);
    EXPECT_NE(err.str().find("--drawer-open: open is not high or low"), std::string::npos);
}

// A printer another client holds is in use and up, with the conditions it
// gave last; a reply of the wrong form is a bad reply, never conditions.
TEST_F(CliTest, InUseIsUpAndABadReplyIsNamed) {
    auto printer =
        StartLoopbackPrinter([](VirtualPrinterConfig& c) { c.mode = PrinterMode::kOneSession; });
    ConditionSet nearEnd;
    nearEnd.Add(Condition::kPaperNearEnd);
    printer->SetConditions(nearEnd);
    Socket holder;
    env.sleep = [&](std::chrono::milliseconds) {
        if (holder.Valid()) {
            return false;
        }
        holder = Socket::Open(Socket::Kind::kStream).socket;
        EXPECT_EQ(holder.Connect({kLoopbackAddress, printer->Port()}), 0);
        // Session 1 was the first reading.
        return printer->GetJournal().WaitForPrefix("session 2 open", 5s).has_value();
    };
    EXPECT_EQ(Run({"status", "127.0.0.1", "--watch", "1", "--min-interval", "0", "--timeout", "300",
                   "--port", std::to_string(printer->Port())}),
              kExitDone)
        << err.str();
    EXPECT_NE(out.str().find("  online, paper near end\n"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("  online, in use, paper near end\n"), std::string::npos) << out.str();

    struct BadLink final : PrinterLink {
        int32_t SetTimeOut(int32_t, int32_t) override { return 1; }
        int32_t IsConPrinterServer(const char*) override { return 1; }
        int32_t GetStatus(const char*) override { return 0x12131212; }  // XOFF third
        int32_t SendData(const char*, const uint8_t*, int32_t) override { return 0; }
    };
    env.makeLink = [](uint16_t, int32_t) { return std::make_unique<BadLink>(); };
    EXPECT_EQ(Run({"status", "127.0.0.1"}), kExitPrinter);
    EXPECT_NE(out.str().find("-       bad reply\n"), std::string::npos) << out.str();
    EXPECT_EQ(Run({"status", "127.0.0.1", "--json"}), kExitPrinter);
    const Json line = Lines().at(0);
    EXPECT_EQ(line["problem"], "bad reply");
    EXPECT_EQ(line["online"], false);
    EXPECT_EQ(line["paperNearEnd"], false);
}

// Who a printer is, asked once per run and only once it is on-line.
TEST_F(CliTest, IdentityIsAskedOncePerRunOfAnOnlinePrinter) {
    ConditionSet offline;
    offline.Add(Condition::kOffline);
    auto printer = StartLoopbackPrinter([&](VirtualPrinterConfig& c) {
        c.identity = {"Acme", "TM-77 \xE2\x82\xAC", "2.30", "SN-0042"};
        c.conditions = offline;
    });
    const auto asked = [&] {
        const auto lines = printer->GetJournal().Lines();
        return std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
            return line.find("GS I 66") != std::string::npos;
        });
    };
    int periods = 0;
    env.sleep = [&](std::chrono::milliseconds) {
        if (++periods == 1) {
            EXPECT_EQ(asked(), 0) << "never while off-line";
            printer->SetConditions({});
        }
        return periods < 4;
    };
    EXPECT_EQ(Run({"status", "127.0.0.1", "--watch", "1", "--json", "--min-interval", "0", "--port",
                   std::to_string(printer->Port())}),
              kExitDone);
    const std::vector<Json> lines = Lines();
    ASSERT_EQ(lines.size(), 2u) << out.str();
    EXPECT_EQ(lines[0]["maker"], nullptr);
    EXPECT_EQ(lines[1]["maker"], "Acme");
    // Bytes outside printable ASCII are no text to show.
    EXPECT_EQ(lines[1]["model"], nullptr);
    EXPECT_EQ(lines[1]["firmware"], nullptr) << "not asked after a bad answer";
    EXPECT_TRUE(printer->GetJournal().WaitForPrefix("session 5 closed", 5s));
    EXPECT_EQ(asked(), 1);
}

// --confirm: exit 0 only once the printer sent the job's process ID back;
// a condition that stops printing, or silence, is a failure with its reason.
TEST_F(CliTest, ConfirmWaitsForThePrinterToSayItPrinted) {
    struct Case {
        Args words;
        const char* conditions;
        PrinterMode mode;
        int exit;
        const char* message;
    };
    const Case cases[] = {
        {{"print", "Total 5.00\n"}, "online", PrinterMode::kNormal, 0, "Printed."},
        {{"drawer"}, "paper-near-end", PrinterMode::kNormal, 0, "Printed."},
        {{"cut"}, "online", PrinterMode::kNormal, 0, "Printed."},
        {{"print", "x"}, "paper-end", PrinterMode::kNormal, 1, "Not printed: the paper ran out."},
        {{"cut"}, "cover-open", PrinterMode::kNormal, 1, "Not printed: the cover is open."},
        {{"drawer"},
         "cutter-error",
         PrinterMode::kNormal,
         1,
         "Not printed: the printer went off-line."},
        {{"print", "x"},
         "online",
         PrinterMode::kMute,
         1,
         "The printer did not say it printed within the time-out."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.words[0] + " " + c.conditions);
        ConditionSet set;
        ASSERT_FALSE(ApplyConditionList(set, c.conditions, true));
        auto printer = StartLoopbackPrinter([&](VirtualPrinterConfig& config) {
            config.conditions = set;
            config.mode = c.mode;
            config.keepRaw = true;
        });
        Args args{c.words[0], "127.0.0.1"};
        args.insert(args.end(), c.words.begin() + 1, c.words.end());
        args.insert(args.end(), {"--confirm", "--json", "--timeout", "300", "--port",
                                 std::to_string(printer->Port())});
        EXPECT_EQ(Run(args), c.exit) << err.str();
        const Json line = Lines().at(0);
        EXPECT_EQ(line["message"], c.message);
        EXPECT_EQ(line["ok"], c.exit == 0);
        const std::vector<uint8_t> raw = printer->Raw().Bytes();
        const std::string frame(
            "\x1D(H\x06\x00"
            "00",
            7);
        EXPECT_NE(std::search(raw.begin(), raw.end(), frame.begin(), frame.end()), raw.end());
    }
}

// Each action's bytes reach the printer as the dialog's button sends them.
TEST_F(CliTest, ActionsSendTheDialogsFrames) {
    auto printer = Printer();
    const std::string port = std::to_string(printer->Port());
    const auto file = std::filesystem::temp_directory_path() /
                      ("vorpane-cli-file-" + std::to_string(CurrentProcessId()));
    std::ofstream(file, std::ios::binary) << std::string("\x1B@file\0\xFF", 8);
    std::vector<std::string> probed;
    env.makeProber = [&probed] {
        struct Silent final : EchoProber {
            std::vector<std::string>& probed;
            explicit Silent(std::vector<std::string>& p) : probed(p) {}
            int32_t Probe(const std::string& address, int32_t) override {
                probed.push_back(address);
                return 0;
            }
        };
        return std::make_unique<Silent>(probed);
    };
    std::vector<Ipv4Address> purged;
    env.purgeArp = [&purged](Ipv4Address a) {
        purged.push_back(a);
        return 1;
    };
    std::tm when{};
    when.tm_year = 126;
    when.tm_mday = 7;
    when.tm_hour = 19;
    env.macSource = {[when] { return when; }, [](unsigned) {}, [] { return 0x2C; },
                     [] { return std::time_t{0}; }};
    const auto bytes = [](auto frame) { return std::string(frame.begin(), frame.end()); };
    const std::pair<Args, std::string> cases[] = {
        {{"test"}, ""},
        {{"init"}, bytes(kInitFrame)},
        {{"drawer"}, bytes(kCashDrawerFrame)},
        {{"cut"}, bytes(kCutTextFrame) + bytes(kCutFrame)},
        {{"print", "Prix: 5 €\n"}, Utf8ToSystem("Prix: 5 €\n")},
        {{"print", "1b 40,0A;1", "--hex"}, "\x1B\x40\x0A\x01"},
        {{"print"}, "from standard input\n"},
        {{"send-file", file.string()}, std::string("\x1B@file\0\xFF", 8)},
        {{"set-ip", "192.0.2.77"}, bytes(BuildSetIpFrame({192, 0, 2, 77}))},
        {{"set-mac", "00-11-62-aa-bb-cc"},
         bytes(BuildSetMacFrame({0, 0x11, 0x62, 0xAA, 0xBB, 0xCC}))},
        {{"set-mac"}, bytes(BuildSetMacFrame(MacFromClock(when, {0x2C, 0x2C, 0x2C, 0x2C, 0x2C})))},
    };
    size_t received = 0;
    for (const auto& [words, expected] : cases) {
        Args args{words[0], "127.0.0.1"};
        args.insert(args.end(), words.begin() + 1, words.end());
        args.insert(args.end(), {"--port", port, "--json"});
        EXPECT_EQ(Run(args), 0) << words[0] << err.str();
        const std::vector<Json> lines = Lines();
        ASSERT_EQ(lines.size(), 1u) << words[0];
        ExpectSchema(lines[0], {{"type", "string"},
                                {"command", "string"},
                                {"address", "string"},
                                {"ok", "boolean"},
                                {"bytes", "number"},
                                {"message", "string"}});
        EXPECT_EQ(lines[0]["command"], words[0]);
        EXPECT_EQ(lines[0]["bytes"], expected.size()) << words[0];
        received += expected.size();
        ASSERT_TRUE(printer->Raw().WaitForSize(received, 10s)) << words[0];
        const std::vector<uint8_t> raw = printer->Raw().Bytes();
        EXPECT_EQ(std::string(raw.end() - static_cast<ptrdiff_t>(expected.size()), raw.end()),
                  expected)
            << words[0];
    }
    std::filesystem::remove(file);
    EXPECT_EQ(probed, Args{"192.0.2.77"});
    EXPECT_EQ(purged, std::vector<Ipv4Address>(2, Ipv4Address::FromHostOrder(0x7F000001)));
    EXPECT_NE(err.str().find("Mac:AE-"), std::string::npos) << err.str();

    // Nothing listens: every action stops at the on-line check.
    const uint16_t closed = printer->Port();
    printer.reset();
    for (const char* command : {"test", "init", "set-mac"}) {
        EXPECT_EQ(Run({command, "127.0.0.1", "--port", std::to_string(closed), "--timeout", "300"}),
                  kExitPrinter);
        EXPECT_NE(err.str().find("127.0.0.1: The printer is offline!"), std::string::npos);
    }
    EXPECT_EQ(Run({"send-file", "127.0.0.1", "/nonexistent/x", "--port", std::to_string(closed)}),
              kExitPrinter);
}

// A refused address or a file that cannot go out: the status, and the same
// words in the JSON line and, from the flows, on standard error.
TEST_F(CliTest, RefusedAddressesAndFilesSayWhy) {
    auto printer = Printer();
    env.makeProber = [] {
        struct Taken final : EchoProber {
            int32_t Probe(const std::string& a, int32_t) override { return a == "192.0.2.99"; }
        };
        return std::make_unique<Taken>();
    };
    const auto huge = std::filesystem::temp_directory_path() /
                      ("vorpane-cli-huge-" + std::to_string(CurrentProcessId()));
    std::ofstream(huge.string(), std::ios::binary).close();
    std::filesystem::resize_file(huge, 0x80000000);  // sparse
    const std::string missing = "/nonexistent/x";
    const std::tuple<Args, int, std::string> cases[] = {
        {{"set-ip", "127.0.0.1"}, kExitUsage, "Please input a different IP Address!"},
        {{"set-ip", "192.0.2.99"},
         kExitPrinter,
         "This IP(192.0.2.99) has been occupied by other network equipment!"},
        {{"send-file", missing}, kExitUsage, "Open File Failed!Err=2 " + missing},
        {{"send-file", huge.string()},
         kExitPrinter,
         "The file is too large to send! " + huge.string()},
    };
    for (const auto& [words, exit, message] : cases) {
        Args args{words[0], "127.0.0.1", words[1], "--port", std::to_string(printer->Port())};
        EXPECT_EQ(Run(args), exit) << message;
        const std::string said = "vorpane-cli: 127.0.0.1: " + message + "\n";
        EXPECT_EQ(std::pair(out.str(), err.str()), std::pair(std::string(), said));
        args.push_back("--json");
        EXPECT_EQ(Run(args), exit) << message;
        const std::vector<Json> lines = Lines();
        ASSERT_EQ(lines.size(), 1u) << message;
        EXPECT_EQ(lines[0]["message"], message);
        EXPECT_EQ(std::pair(lines[0]["ok"], lines[0]["bytes"]), std::pair(Json(false), Json(0)));
    }
    std::filesystem::remove(huge);
    EXPECT_TRUE(printer->Raw().Bytes().empty());
}

// Input that would send nothing, or less than it says, is refused and said,
// with exit status 2; a print is refused before the printer is asked.
TEST_F(CliTest, InputThatWouldSendNothingIsRefusedAndSaid) {
    auto printer = Printer();
    const auto empty = std::filesystem::temp_directory_path() /
                       ("vorpane-cli-empty-" + std::to_string(CurrentProcessId()));
    std::ofstream(empty.string(), std::ios::binary).close();
    const std::string proc = "/proc/self/status";
    const std::pair<Args, std::string> cases[] = {
        {{"print", "zz", "--hex"},
         "The hex text holds 'z' at position 0, which is no hex digit: nothing was sent."},
        {{"print", "1b 40 0x0a", "--hex"},
         "The hex text holds 'x' at position 7, which is no hex digit: nothing was sent."},
        {{"print", "1b\xC2\xA0", "--hex"},
         "The hex text holds byte 0xC2 at position 2, which is no hex digit: nothing was sent."},
        {{"print", " , ;", "--hex"}, "The hex text spells no bytes: nothing was sent."},
        {{"print", ""}, "The text is empty: nothing was sent."},
        {{"send-file", empty.string()}, "The file is empty: nothing was sent."},
        {{"send-file", proc},
         "Read File Failed!The file measures 0 bytes but holds more, nothing was sent " + proc},
    };
    for (const auto& [words, message] : cases) {
        SCOPED_TRACE(words[1]);
        const uint64_t sessions = printer->SessionsOpened();
        Args args{words[0], "127.0.0.1"};
        args.insert(args.end(), words.begin() + 1, words.end());
        args.insert(args.end(), {"--port", std::to_string(printer->Port()), "--json"});
        EXPECT_EQ(Run(args), kExitUsage) << err.str();
        const std::vector<Json> lines = Lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0]["ok"], false);
        EXPECT_EQ(lines[0]["bytes"], 0);
        EXPECT_EQ(lines[0]["message"], message);
        if (words[0] == "print") {
            EXPECT_EQ(printer->SessionsOpened(), sessions) << "the printer was asked";
        }
    }
    // Without --json the words go to standard error.
    EXPECT_EQ(Run({"print", "127.0.0.1", "zz", "--hex", "--port", std::to_string(printer->Port())}),
              kExitUsage);
    EXPECT_EQ(out.str(), "");
    EXPECT_NE(err.str().find("127.0.0.1: The hex text holds 'z'"), std::string::npos) << err.str();
    EXPECT_TRUE(printer->Raw().Bytes().empty());
    std::filesystem::remove(empty);
}

// Each period reads every printer again; a change shows within one period,
// and a printer that stays as it was prints nothing.
TEST_F(CliTest, WatchPrintsEachChangeOnce) {
    auto first = Printer();
    int periods = 0;
    env.sleep = [&](std::chrono::milliseconds period) {
        EXPECT_EQ(period, 2s);
        clock += period;
        ConditionSet conditions;
        if (++periods == 1) {
            conditions.Add(Condition::kPaperEnd);
            first->SetConditions(conditions);
        } else if (periods == 3) {
            conditions.Add(Condition::kOverTemp);
            first->SetConditions(conditions);
        }
        return periods < 4;
    };
    EXPECT_EQ(Run({"status", "127.0.0.1", "127.0.0.3", "--watch", "2", "--json", "--port",
                   std::to_string(first->Port()), "--min-interval", "0"}),
              kExitPrinter);
    const std::vector<Json> lines = Lines();
    ASSERT_EQ(lines.size(), 4u) << out.str();
    const std::pair<const char*, const char*> expected[] = {
        {"2026-05-28T20:26:40.250Z", "127.0.0.1"},
        {"2026-05-28T20:26:40.250Z", "127.0.0.3"},
        {"2026-05-28T20:26:42.250Z", "127.0.0.1"},
        {"2026-05-28T20:26:46.250Z", "127.0.0.1"}};
    for (size_t i = 0; i < lines.size(); ++i) {
        ExpectSchema(lines[i], kStatusKeys);
        EXPECT_EQ(lines[i]["time"], expected[i].first);
        EXPECT_EQ(lines[i]["address"], expected[i].second);
    }
    EXPECT_EQ(lines[1]["mac"], nullptr);
    EXPECT_EQ(lines[2]["paperEnd"], true);
    EXPECT_EQ(lines[3]["paperEnd"], false);
    EXPECT_EQ(lines[3]["overTemp"], true);
}

// metrics reads the named printers on each scrape and ends when asked to.
TEST_F(CliTest, MetricsServesTheNamedPrinters) {
    auto printer = Printer();
    const uint16_t listen = Printer()->Port();  // free again once that printer is gone
    std::atomic<bool> stop{false};
    env.stopRequested = &stop;
    int exit = -1;
    std::thread serving([&] {
        exit = Run({"metrics", "127.0.0.1", "--port", std::to_string(printer->Port()), "--listen",
                    "127.0.0.1:" + std::to_string(listen)});
    });
    httplib::Client client("127.0.0.1", listen);
    std::string body;
    // Refused until the server listens.
    for (auto deadline = std::chrono::steady_clock::now() + 10s;
         body.empty() && std::chrono::steady_clock::now() < deadline;) {
        if (const auto answer = client.Get("/metrics")) {
            body = answer->body;
        } else {
            std::this_thread::sleep_for(10ms);
        }
    }
    stop = true;
    serving.join();
    EXPECT_EQ(exit, 0) << err.str();
    EXPECT_NE(body.find("vorpane_printer_up{address=\"127.0.0.1\"} 1"), std::string::npos) << body;
    EXPECT_NE(body.find(",mac=\"00:11:62:0a:0b:0c\"} 1"), std::string::npos) << body;
}

// A scrape's reading held by a printer that accepted and stays silent, with a
// 10 s time-out, does not hold the end of metrics.
TEST_F(CliTest, MetricsEndsWithinASecondWhileASilentPrinterHoldsAReading) {
    auto mute = StartLoopbackPrinter([](VirtualPrinterConfig& c) { c.mode = PrinterMode::kMute; });
    const uint16_t listen = Printer()->Port();  // free again once that printer is gone
    std::atomic<bool> stop{false};
    env.stopRequested = &stop;
    int exit = -1;
    std::thread serving([&] {
        exit = Run({"metrics", "127.0.0.1", "--port", std::to_string(mute->Port()), "--timeout",
                    "10000", "--listen", "127.0.0.1:" + std::to_string(listen)});
    });
    httplib::Client client("127.0.0.1", listen);
    bool listening = false;
    // Refused until the server listens; /sd reads no printer.
    for (auto deadline = std::chrono::steady_clock::now() + 10s;
         !listening && std::chrono::steady_clock::now() < deadline;) {
        listening = static_cast<bool>(client.Get("/sd"));
        if (!listening) {
            std::this_thread::sleep_for(10ms);
        }
    }
    std::thread scrape([&] { httplib::Client("127.0.0.1", listen).Get("/metrics"); });
    const bool reading = mute->GetJournal().WaitForPrefix("session 1 open", 10s).has_value();
    const auto start = std::chrono::steady_clock::now();
    stop = true;
    serving.join();
    const auto took = std::chrono::steady_clock::now() - start;
    scrape.join();
    EXPECT_TRUE(listening);
    EXPECT_TRUE(reading);
    EXPECT_EQ(exit, 0) << err.str();
    EXPECT_LT(took, 1s);
}

// The program itself: exit status and standard output.
TEST(CliProgram, RunsAsAProcess) {
    auto printer = StartLoopbackPrinter();
    const auto file = std::filesystem::temp_directory_path() /
                      ("vorpane-cli-out-" + std::to_string(CurrentProcessId()));
    const std::string command = std::string("exec ") + VORPANE_CLI_PATH +
                                " status --json 127.0.0.1 --port " +
                                std::to_string(printer->Port()) + " > " + file.string();
    EXPECT_EQ(RunProgram("/bin/sh", {"-c", command}, 30s).status, 0);
    std::ifstream in(file);
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_EQ(Json::parse(line)["online"], true) << line;
    std::filesystem::remove(file);
    EXPECT_EQ(RunProgram(VORPANE_CLI_PATH, {"test", "localhost"}, 30s).status, kExitUsage);
}

// metrics as a process ends within a second of SIGINT or SIGTERM, with 0.
TEST(CliProgram, MetricsEndsWithinASecondOfAStopSignal) {
    const uint16_t listen = StartLoopbackPrinter()->Port();  // free again once it is gone
    for (const char* signal : {"INT", "TERM"}) {
        const std::string script =
            "PATH=/usr/bin:/bin; err=$(mktemp); \"$0\" metrics 127.0.0.1 --listen 127.0.0.1:$1 "
            "2>\"$err\" & pid=$!; i=0; until grep -q serving \"$err\"; do i=$((i+1)); "
            "[ $i -lt 400 ] || exit 90; sleep 0.05; done; start=$(date +%s%N); kill -$2 $pid; "
            "wait $pid; rc=$?; took=$(( ($(date +%s%N) - start) / 1000000 )); rm -f \"$err\"; "
            "[ $took -lt 1000 ] || exit 91; exit $rc";
        EXPECT_EQ(RunProgram("/bin/sh",
                             {"-c", script, VORPANE_CLI_PATH, std::to_string(listen), signal}, 30s)
                      .status,
                  0)
            << signal;
    }
}

}  // namespace
}  // namespace vorpane
