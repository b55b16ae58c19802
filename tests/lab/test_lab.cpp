// The lab itself: its client reaches nothing outside the lab.

#include <string>

#include "lab_fixture.h"

namespace vorpane::lab {
namespace {

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

}  // namespace
}  // namespace vorpane::lab
