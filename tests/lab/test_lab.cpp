// The lab itself: what later network tests rely on.

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <numeric>
#include <string>
#include <vector>

#include "lab_fixture.h"

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

class LabSetupTest : public LabTest {
protected:
    // The IPv4 addresses on eth0 of namespace `name`, one line each.
    std::string AddressesOf(const std::string& name) {
        std::string out;
        EXPECT_EQ(
            Lab::Script({"ip", lab().Prefix(), name, "-4", "-o", "addr", "show", "dev", "eth0"},
                        &out),
            0);
        return out;
    }
};

TEST_F(LabSetupTest, ClientHasOnlyTheLabLinkAndTheBroadcastRoute) {
    std::string routes;
    ASSERT_EQ(Lab::Script({"ip", lab().Prefix(), "client", "route", "show"}, &routes), 0);
    EXPECT_EQ(routes.find("default"), std::string::npos) << routes;
    EXPECT_NE(routes.find("255.255.255.255 dev eth0"), std::string::npos) << routes;
    EXPECT_NE(routes.find("198.18.7.0/24 dev eth0"), std::string::npos) << routes;
    // Anything off the lab's /24 must be unreachable from the client.
    std::string outside;
    EXPECT_NE(
        Lab::Script({"ip", lab().Prefix(), "client", "route", "get", "203.0.113.9"}, &outside), 0);
    EXPECT_NE(outside.find("Network is unreachable"), std::string::npos) << outside;
}

// Many addresses in one host namespace are what the scan and probe tests
// build on; the NetBIOS answerer is exercised by the discovery lab's sweep.
TEST_F(LabSetupTest, UpAndAddHostAgainChangeNothingAndAnotherSubnetIsRefused) {
    std::vector<int> hosts(30);
    std::iota(hosts.begin(), hosts.end(), 100);
    ASSERT_TRUE(lab().AddHost("many", hosts));
    EXPECT_EQ(Lab::Script({"up", lab().Prefix(), lab().Subnet(), "1"}), 0);
    EXPECT_EQ(Lab::Script({"up", lab().Prefix(), lab().Subnet(), "1"}), 0);
    EXPECT_TRUE(lab().AddHost("many", hosts));

    const std::string client = AddressesOf("client");
    EXPECT_NE(client.find("198.18.7.1/24"), std::string::npos) << client;
    EXPECT_EQ(client.find('\n'), std::string::npos) << "one address only:\n" << client;
    const std::string many = AddressesOf("many");
    for (int host : hosts) {
        EXPECT_NE(many.find(" " + lab().Address(host) + "/24"), std::string::npos) << host;
    }
    EXPECT_EQ(std::count(many.begin(), many.end(), '\n') + 1, 30) << many;

    std::string refused;
    EXPECT_NE(Lab::Script({"up", lab().Prefix(), "198.18.8", "1"}, &refused), 0);
    EXPECT_NE(refused.find("is up with subnet 198.18.7"), std::string::npos) << refused;
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
