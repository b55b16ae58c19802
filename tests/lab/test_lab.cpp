// The lab itself: what later network tests rely on.

#include <unistd.h>

#include <string>

#include "lab_fixture.h"

namespace vorpane::lab {
namespace {

bool NamespaceListed(const std::string& name) {
    return access(("/run/netns/" + name).c_str(), F_OK) == 0;
}

class LabSetupTest : public LabTest {};

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

// Down must leave no namespace behind.
TEST(LabTeardown, DownRemovesEveryNamespace) {
    if (!Lab::Unavailable().empty()) {
        GTEST_SKIP() << Lab::Unavailable();
    }
    std::string error;
    std::unique_ptr<Lab> lab = Lab::Up("198.18.9", 1, error);
    ASSERT_NE(lab, nullptr) << error;
    ASSERT_TRUE(lab->AddHost("h1", {2, 3}));
    const std::string prefix = lab->Prefix();
    lab.reset();

    EXPECT_FALSE(NamespaceListed(prefix + "-br"));
    EXPECT_FALSE(NamespaceListed(prefix + "-cl"));
    EXPECT_FALSE(NamespaceListed(prefix + "-h-h1"));
}

}  // namespace
}  // namespace vorpane::lab
