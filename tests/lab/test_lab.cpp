// The lab itself: what later network tests rely on.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <string>

#include "lab_fixture.h"
#include "net/unique_fd.h"

namespace vorpane::lab {
namespace {

bool NamespaceListed(const std::string& name) {
    return access(("/run/netns/" + name).c_str(), F_OK) == 0;
}

// Running and not a zombie: an orphan that the machine's init does not reap
// stays a zombie, which no longer counts.
bool Running(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string pidText, name, state;
    if (!(stat >> pidText >> name >> state)) {
        return false;
    }
    return state != "Z" && state != "X";
}

class LabSetupTest : public LabTest {};

TEST_F(LabSetupTest, ClientHasOnlyTheLabLinkAndTheBroadcastRoute) {
    std::string routes;
    ASSERT_EQ(Lab::Script({"ip", lab().Prefix(), "client", "route", "show"}, &routes), 0);
    EXPECT_EQ(routes.find("default"), std::string::npos) << routes;
    EXPECT_NE(routes.find("255.255.255.255 dev eth0"), std::string::npos) << routes;
    EXPECT_NE(routes.find("198.18.7.0/24 dev eth0"), std::string::npos) << routes;

    // A route lookup is all a UDP connect does: nothing is sent. Anything
    // off the lab's /24 must be unreachable from the client.
    int connectError = 0;
    ASSERT_TRUE(lab().RunInClient([&] {
        UniqueFd udp(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        sockaddr_in outside{};
        outside.sin_family = AF_INET;
        outside.sin_port = htons(9);
        inet_pton(AF_INET, "203.0.113.9", &outside.sin_addr);
        if (connect(udp.get(), reinterpret_cast<const sockaddr*>(&outside), sizeof outside) != 0) {
            connectError = errno;
        }
    }));
    EXPECT_EQ(connectError, ENETUNREACH);
}

TEST_F(LabSetupTest, UpAgainChangesNothingAndRefusesAnotherSubnet) {
    ASSERT_TRUE(lab().AddHost("h1", {20}));
    EXPECT_EQ(Lab::Script({"up", lab().Prefix(), lab().Subnet(), "1"}), 0);
    EXPECT_EQ(Lab::Script({"up", lab().Prefix(), lab().Subnet(), "1"}), 0);
    std::string addresses;
    ASSERT_EQ(
        Lab::Script({"ip", lab().Prefix(), "client", "-4", "-o", "addr", "show", "dev", "eth0"},
                    &addresses),
        0);
    EXPECT_NE(addresses.find("198.18.7.1/24"), std::string::npos) << addresses;
    EXPECT_EQ(addresses.find('\n'), std::string::npos) << "one address only:\n" << addresses;
    std::string refused;
    EXPECT_NE(Lab::Script({"up", lab().Prefix(), "198.18.8", "1"}, &refused), 0);
    EXPECT_NE(refused.find("is up with subnet 198.18.7"), std::string::npos) << refused;
}

TEST_F(LabSetupTest, ManyAddressesShareOneHostNamespace) {
    std::vector<int> hosts;
    for (int host = 100; host < 130; ++host) {
        hosts.push_back(host);
    }
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(lab().AddHost("many", hosts));
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    std::string addresses;
    ASSERT_EQ(Lab::Script({"ip", lab().Prefix(), "many", "-4", "-o", "addr", "show", "dev", "eth0"},
                          &addresses),
              0);
    for (int host : hosts) {
        EXPECT_NE(addresses.find(" " + lab().Address(host) + "/24"), std::string::npos) << host;
    }
    // Adding the same addresses again is harmless.
    EXPECT_TRUE(lab().AddHost("many", hosts));
    RecordProperty("add_host_30_addresses_ms", static_cast<int>(took.count()));
}

TEST_F(LabSetupTest, NetbiosBroadcastFromTheClientReachesTheAnswerer) {
    ASSERT_TRUE(lab().AddNetbiosAnswerer("nb1", 30));
    std::string sender;
    std::array<uint8_t, 64> answer{};
    ssize_t got = -1;
    ASSERT_TRUE(lab().RunInClient([&] {
        UniqueFd udp(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        const int on = 1;
        setsockopt(udp.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
        sockaddr_in broadcast{};
        broadcast.sin_family = AF_INET;
        broadcast.sin_port = htons(137);
        broadcast.sin_addr.s_addr = htonl(INADDR_BROADCAST);
        const uint8_t query[] = {0x80, 0x21, 0x00, 0x00, 0x00, 0x01};
        if (sendto(udp.get(), query, sizeof query, 0, reinterpret_cast<const sockaddr*>(&broadcast),
                   sizeof broadcast) != static_cast<ssize_t>(sizeof query)) {
            return;
        }
        pollfd ready{udp.get(), POLLIN, 0};
        if (poll(&ready, 1, 3000) != 1) {
            return;
        }
        sockaddr_in from{};
        socklen_t length = sizeof from;
        got = recvfrom(udp.get(), answer.data(), answer.size(), 0,
                       reinterpret_cast<sockaddr*>(&from), &length);
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
        sender = text;
    }));
    EXPECT_EQ(got, 6);
    EXPECT_EQ(sender, lab().Address(30));
    EXPECT_EQ(answer[0], 0x80);
    EXPECT_EQ(answer[2], 0x80) << "the answer carries the response bit";
}

// Down must leave nothing behind, also processes started inside the lab by
// the script or directly by a test.
TEST(LabTeardown, DownRemovesEveryNamespaceAndProcess) {
    if (!Lab::Unavailable().empty()) {
        GTEST_SKIP() << Lab::Unavailable();
    }
    std::string error;
    std::unique_ptr<Lab> lab = Lab::Up("198.18.9", 1, error);
    ASSERT_NE(lab, nullptr) << error;
    ASSERT_TRUE(lab->AddHost("h1", {2, 3}));
    const std::string prefix = lab->Prefix();
    std::string spawnedPid;
    ASSERT_EQ(Lab::Script({"spawn", prefix, "h1", "sleeper", "--", "sleep", "600"}, &spawnedPid),
              0);
    // A process the test started itself and then lost track of.
    std::unique_ptr<LabProcess> stray = lab->Start(lab->HostNamespace("h1"), {"sleep", "600"});
    ASSERT_NE(stray, nullptr);

    lab.reset();

    EXPECT_FALSE(NamespaceListed(prefix + "-br"));
    EXPECT_FALSE(NamespaceListed(prefix + "-cl"));
    EXPECT_FALSE(NamespaceListed(prefix + "-h-h1"));
    EXPECT_FALSE(Running(std::stoi(spawnedPid))) << "spawned process still runs";
    // The stray one is our child: down killed it, reaping is ours.
    const std::optional<int> status = stray->WaitForExit(std::chrono::seconds(5));
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFSIGNALED(*status));
}

TEST(LabTeardown, GcRemovesLabsOfProcessesThatAreGone) {
    if (!Lab::Unavailable().empty()) {
        GTEST_SKIP() << Lab::Unavailable();
    }
    // A pid that surely is gone: a child that has ended and been reaped.
    const pid_t child = fork();
    if (child == 0) {
        _exit(0);
    }
    ASSERT_GT(child, 0);
    ASSERT_EQ(waitpid(child, nullptr, 0), child);
    const std::string prefix = "vp-" + std::to_string(child) + "-0";
    ASSERT_EQ(Lab::Script({"up", prefix, "198.18.10", "1"}), 0);
    ASSERT_TRUE(NamespaceListed(prefix + "-cl"));
    EXPECT_EQ(Lab::Script({"gc"}), 0);
    EXPECT_FALSE(NamespaceListed(prefix + "-cl"));
    EXPECT_FALSE(NamespaceListed(prefix + "-br"));
    Lab::Script({"down", prefix});
}

}  // namespace
}  // namespace vorpane::lab
