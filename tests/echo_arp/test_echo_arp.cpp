// The helper program's grammar, and in the lab the helper run by the user
// nobody, with the capabilities on a copy of the helper alone.

#include <gtest/gtest.h>
#include <linux/capability.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <sys/xattr.h>

#include <filesystem>
#include <regex>
#include <sstream>

#include "app/posix/system_services.h"
#include "app/printer_tool_dlg.h"
#include "net/echo_arp_request.h"
#include "platform/capabilities.h"
#include "platform/unique_fd.h"
#include "printer_link/network_printer_link.h"
#include "scan_lab.h"
#include "ui/headless/headless_window_system.h"

namespace vorpane {
namespace {

using namespace std::chrono_literals;
using Op = HelperRequest::Operation;

using Args = std::vector<std::string>;

const std::pair<Args, HelperRequest> kAccepted[] = {
    {{"echo", "198.18.7.10", "500"}, {Op::kEcho, Ipv4Address::FromOctets({198, 18, 7, 10}), 500}},
    {{"echo", "1.0.0.0", "1"}, {Op::kEcho, Ipv4Address::FromOctets({1, 0, 0, 0}), 1}},
    {{"echo", "223.255.255.255", "10000"},
     {Op::kEcho, Ipv4Address::FromOctets({223, 255, 255, 255}), 10000}},
    {{"arp-delete", "198.18.7.10"}, {Op::kArpDelete, Ipv4Address::FromOctets({198, 18, 7, 10}), 0}},
};

// Missing, extra or unknown words; no IPv4 text or not its one form; leading
// zeros; numbers and time-outs out of range or not numbers; very long input;
// addresses of no single host (0/8, multicast, reserved and broadcast).
// The lab's client has a row for 198.18.7.10, whose host answers echo.
// clang-format off
const Args kRefused[] = {
    {}, {"echo"}, {"echo", "198.18.7.10"}, {"arp-delete"}, {"echo", "198.18.7.10", "500", "500"},
    {"arp-delete", "198.18.7.10", "500"}, {"ECHO", "198.18.7.10", "500"}, {"--help"},
    {"198.18.7.10", "500"}, {"arp-delete", ""}, {"arp-delete", "printer.local"},
    {"arp-delete", "::1"}, {"arp-delete", "198.18.7"}, {"arp-delete", "198.18.7.10.1"},
    {"arp-delete", "198.18..10"}, {"arp-delete", "198.18.7.10."}, {"arp-delete", " 198.18.7.10"},
    {"arp-delete", "198.18.7.+10"}, {"arp-delete", "0xC6.18.7.10"}, {"arp-delete", "3323070218"},
    {"arp-delete", "198.18.7.010"}, {"echo", "198.018.7.10", "500"}, {"arp-delete", "198.18.7.00"},
    {"arp-delete", "198.18.7.256"}, {"arp-delete", "198.18.7.1000"},
    {"echo", "198.18.263.10", "500"}, {"echo", "198.18.7.10", "0"},
    {"echo", "198.18.7.10", "10001"}, {"echo", "198.18.7.10", "-5"},
    {"echo", "198.18.7.10", "+5"}, {"echo", "198.18.7.10", "0500"},
    {"echo", "198.18.7.10", "5ms"}, {"echo", "198.18.7.10", "1e3"}, {"echo", "198.18.7.10", ""},
    {"echo", "198.18.7.10", "4294967796"}, {"echo", std::string(100000, '1'), "500"},
    {"arp-delete", "198.18.7.10" + std::string(5000, ' ')}, {"echo", "0.0.0.0", "500"},
    {"echo", "0.255.255.255", "500"}, {"echo", "224.0.0.1", "500"},
    {"echo", "239.255.255.250", "500"}, {"echo", "240.0.0.0", "500"},
    {"echo", "255.255.255.255", "500"}, {"arp-delete", "0.0.0.0"}, {"arp-delete", "224.0.0.251"},
    {"arp-delete", "255.255.255.255"}};
// clang-format on

HelperRequestOrRefusal Parse(const Args& args) {
    std::vector<const char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(arg.c_str());
    }
    return ParseHelperRequest(argv);
}

TEST(HelperRequestTest, OnlyTheOneGrammarIsAccepted) {
    for (const auto& [args, asks] : kAccepted) {
        EXPECT_TRUE(Parse(args).request == asks) << ::testing::PrintToString(args);
        EXPECT_EQ(HelperArguments(asks), args);
    }
    for (const Args& args : kRefused) {
        const HelperRequestOrRefusal parsed = Parse(args);
        EXPECT_TRUE(!parsed.request && !parsed.refusal.empty()) << ::testing::PrintToString(args);
    }
}

class EchoArpLabTest : public lab::LabTest {
protected:
    void SetUp() override {
        LabTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        // A copy with the capabilities in its permitted set, as the package
        // installs it; the build's own file stays without.
        directory = "/tmp/" + lab().Prefix() + "-helper";
        helper = directory + "/helper";
        std::filesystem::create_directory(directory);
        std::filesystem::copy_file(VORPANE_BUILT_HELPER, helper);
        vfs_cap_data caps{};
        caps.magic_etc = VFS_CAP_REVISION_2;
        caps.data[0].permitted = 1u << CAP_NET_RAW | 1u << CAP_NET_ADMIN;
        ASSERT_EQ(chmod(directory.c_str(), 0755) | chmod(helper.c_str(), 0755), 0);
        ASSERT_EQ(setxattr(helper.c_str(), "security.capability", &caps, XATTR_CAPS_SZ_2, 0), 0);
        // No ICMP socket for anyone: a probe can only go through the helper.
        ASSERT_EQ(lab::Lab::Script({"ping-group", lab().Prefix(), "1 0"}), 0);
        ASSERT_TRUE(lab().AddHost("h", {10, 20, 200}));
    }
    void TearDown() override {
        std::filesystem::remove_all(directory);
        LabTest::TearDown();
    }

    // The helper run by nobody in the client with `environment` alone: its
    // exit status, and " refused" when it said it refused.
    // `tracer` comes before it all, and `text` receives what was printed.
    std::string RunHelper(const std::vector<std::string>& args,
                          const std::vector<std::string>& environment, const Args& tracer = {},
                          std::string* text = nullptr) {
        std::vector<std::string> words = tracer;
        words.insert(words.end(), {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups",
                                   "env", "-i"});
        words.insert(words.end(), environment.begin(), environment.end());
        words.push_back(helper);
        words.insert(words.end(), args.begin(), args.end());
        std::string command;
        for (const std::string& word : words) {
            command += " '" + word + "'";  // no word here holds a quote
        }
        command += " 2>&1";
        std::string output;
        int status = -1;
        lab().RunInClient([&] {
            if (std::FILE* pipe = popen(command.c_str(), "r")) {
                char buffer[4096];
                for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
                    output.append(buffer, n);
                }
                status = pclose(pipe);
            }
        });
        if (status == -1 || !WIFEXITED(status)) {
            return "not run";
        }
        if (text != nullptr) {
            *text = output;
        }
        const bool refused = output.find(": request refused: ") != std::string::npos;
        return std::to_string(WEXITSTATUS(status)) + (refused ? " refused" : "");
    }

    std::optional<uint64_t> EchoRequestsSent() {
        std::string output;
        if (lab::Lab::Script({"echo-count", lab().Prefix()}, &output) != 0 || output.empty()) {
            return std::nullopt;
        }
        return std::stoull(output);
    }

    bool Neigh(const Args& args) {
        Args words = {"ip", lab().Prefix(), "client", "neigh"};
        words.insert(words.end(), args.begin(), args.end());
        return lab::Lab::Script(words) == 0;
    }

    bool HasArpRow(const std::string& address) {
        return lab::Lab::Script(
                   {"ip", lab().Prefix(), "client", "neigh", "get", address, "dev", "eth0"}) == 0;
    }

    std::string directory, helper;
};

TEST_F(EchoArpLabTest, RefusesBadRequestsSendingNothingAndIgnoresItsEnvironment) {
    ASSERT_TRUE(lab().AddHost("quiet", {11}, lab::EchoMode::kDrop));
    ASSERT_TRUE(lab().RunInClient([&] { CEchoProbe().Probe("198.18.7.10", 500); }));
    const std::optional<uint64_t> before = EchoRequestsSent();
    const std::vector<std::string> hostile = {"LD_PRELOAD=" VORPANE_PRELOAD_EXIT,
                                              "LD_LIBRARY_PATH=/tmp", "QT_PLUGIN_PATH=/tmp",
                                              "MALLOC_CHECK_=3"};
    for (const Args& args : kRefused) {
        EXPECT_EQ(RunHelper(args, hostile), "64 refused") << ::testing::PrintToString(args);
    }
    EXPECT_EQ(EchoRequestsSent(), before) << "nothing sent for a refused request";
    EXPECT_TRUE(HasArpRow("198.18.7.10"));
    for (const auto& environment : {std::vector<std::string>{}, hostile}) {
        EXPECT_EQ(RunHelper({"echo", "198.18.7.10", "500"}, environment), "12");
        EXPECT_EQ(RunHelper({"echo", "198.18.7.11", "500"}, environment), "11");
    }
    EXPECT_EQ(RunHelper({"arp-delete", "198.18.7.10"}, hostile), "12");
    EXPECT_FALSE(HasArpRow("198.18.7.10"));
}

TEST_F(EchoArpLabTest, DeletesOnlyRowsTheKernelLearned) {
    ASSERT_TRUE(lab().RunInClient([&] { CEchoProbe().Probe("198.18.7.10", 500); }));
    struct Row {
        std::string address, state, answer;
        bool stays;
    };
    const Row rows[] = {{"198.18.7.10", "", "12", false},  // reachable: learned just now
                        {"198.18.7.40", "stale", "12", false},
                        {"198.18.7.41", "permanent", "11", true},
                        {"198.18.7.42", "noarp", "11", true}};
    for (const Row& row : rows) {
        if (!row.state.empty()) {
            ASSERT_TRUE(Neigh({"replace", row.address, "lladdr", "02:00:5e:00:00:01", "dev", "eth0",
                               "nud", row.state}));
        }
        ASSERT_TRUE(HasArpRow(row.address)) << row.address;
    }
    for (const Row& row : rows) {
        EXPECT_EQ(RunHelper({"arp-delete", row.address}, {}), row.answer) << row.address;
        EXPECT_EQ(HasArpRow(row.address), row.stays) << row.address;
    }
}

// The helper's system calls as strace sees them: CAP_NET_ADMIN is in force
// when the deletion goes out and gone before the kernel's answer is read.
TEST_F(EchoArpLabTest, HoldsNoCapabilityWhileItReadsTheKernelsAnswer) {
    ASSERT_TRUE(Neigh(
        {"replace", "198.18.7.40", "lladdr", "02:00:5e:00:00:01", "dev", "eth0", "nud", "stale"}));
    // Its exit status is left aside: a sanitized build's leak checker fails
    // any run under a tracer.
    std::string trace;
    RunHelper({"arp-delete", "198.18.7.40"}, {},
              {"strace", "-qq", "-e", "signal=none", "-e", "trace=execve,capset,sendto,recvmsg",
               "-e", "abbrev=none"},
              &trace);
    EXPECT_FALSE(HasArpRow("198.18.7.40"));
    // From the helper's start on: the effective set at the deletion and at
    // each receive after it.
    const std::regex effective(R"(^capset\(.*\{effective=([^,]*),)");
    std::string inForce = "0";
    std::string seen;
    bool deleting = false;
    std::istringstream lines(trace);
    for (std::string line; std::getline(lines, line);) {
        std::smatch match;
        if (line.starts_with("execve(")) {
            inForce = "0";
            seen.clear();
        } else if (std::regex_search(line, match, effective)) {
            inForce = match[1];
        } else if (line.starts_with("sendto(") && line.find("RTM_DELNEIGH") != std::string::npos) {
            deleting = true;
            seen += "delete:" + inForce + " ";
        } else if (deleting && line.starts_with("recvmsg(")) {
            seen += "answer:" + inForce + " ";
        }
    }
    EXPECT_EQ(seen, "delete:1<<CAP_NET_ADMIN answer:0 ") << trace;
}

TEST_F(EchoArpLabTest, ScanAndSetMacWorkForNobodyThroughTheHelper) {
    std::vector<std::unique_ptr<VirtualPrinter>> printers;
    for (const std::string address : {"198.18.7.20", "198.18.7.200"}) {
        std::string error;
        printers.push_back(
            scanlab::StartPrinter(lab(), lab().HostNamespace("h"), address, false, error));
        ASSERT_NE(printers.back(), nullptr) << error;
    }
    const std::optional<std::string> seen =
        lab().RunAsNobody(lab().ClientNamespace(), "EchoArpNobodyJob.ScanAndSetMac", helper, 120s);
    ASSERT_TRUE(seen);
    std::smatch shown;
    EXPECT_TRUE(std::regex_match(*seen, shown,
                                 std::regex("alive found Mac:([0-9A-F]E(-[0-9A-F]{2}){5})\n"
                                            "Success!\nPlease restart the printer!")))
        << *seen;
    EXPECT_EQ(printers[0]->PendingMac(), shown[1].str()) << "the frame reached the printer";
    EXPECT_FALSE(HasArpRow("198.18.7.20"));
}

// The nobody half of the test above, in a process of its own.
TEST(EchoArpNobodyJob, ScanAndSetMac) {
    if (!lab::NobodyJob::IsThisProcess()) {
        GTEST_SKIP() << "run by ScanAndSetMacWorkForNobodyThroughTheHelper";
    }
    const std::optional<std::string> helper = lab::NobodyJob::Enter();
    ASSERT_TRUE(helper);
    // Nothing that the program could do by itself.
    std::string out = HasCapability(Capability::kNetAdmin) ? "admin " : "";
    out += UniqueFd(socket(AF_INET, SOCK_RAW, IPPROTO_ICMP)).valid() ? "raw " : "";
    out += UniqueFd(socket(AF_INET, SOCK_DGRAM, IPPROTO_ICMP)).valid() ? "ping " : "";
    scanlab::ScanHooks hooks;
    hooks.adjust = [&](DialogServices& s) {
        const DialogServices own = MakeSystemServices(*s.ws, *s.link, *helper);
        s.makeProber = own.makeProber;
        s.purgeArp = own.purgeArp;
    };
    scanlab::ScanRun run = scanlab::RunScanHere("198.18.7.20", 60s, hooks);
    // The hosts that answered the probe, and the printers among them.
    std::sort(run.alive.begin(), run.alive.end());
    std::sort(run.printers.begin(), run.printers.end());
    const std::vector<std::string> expected = {"198.18.7.20", "198.18.7.200"};
    out += run.alive == std::vector<std::string>{"198.18.7.10", expected[0], expected[1]} ? "alive "
                                                                                          : "";
    out += run.printers == expected ? "found " : "";
    // Set MAC connects first, which leaves a row for the printer.
    ui::HeadlessWindowSystem ws;
    NetworkPrinterLink link;
    CPrinterToolDlg dlg(MakeSystemServices(ws, link, *helper));
    if (dlg.Create()) {
        auto* window = static_cast<ui::HeadlessWindow*>(dlg.GetWindow());
        window->SetText(IDC_IP, "198.18.7.20");
        ws.QueueAnswer(ui::kIdOk);
        window->Click(IDC_SET_MAC);
    }
    lab::NobodyJob::Answer(out + (ws.ShownBoxes().empty() ? "" : ws.ShownBoxes().back().text));
}

}  // namespace
}  // namespace vorpane
