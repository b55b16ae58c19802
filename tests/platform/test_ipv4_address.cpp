// The IPv4 address value: which text is an address, its one text form, its
// byte orders and its networks.

#include <gtest/gtest.h>

#include <cstring>

#include "platform/ipv4_address.h"

namespace vorpane {
namespace {

using Octets = std::array<uint8_t, 4>;

TEST(Ipv4Address, ParsesOnlyItsOneTextFormAndKeepsEveryOrderApart) {
    const std::pair<const char*, std::optional<Octets>> texts[] = {
        {"192.168.1.10", Octets{192, 168, 1, 10}},
        {"0.0.0.0", Octets{0, 0, 0, 0}},
        {"255.255.255.255", Octets{255, 255, 255, 255}},
        {"1.20.255.0", Octets{1, 20, 255, 0}},
        {"", std::nullopt},
        {"127.1", std::nullopt},
        {"1.2.3.4.", std::nullopt},
        {"1.2.3.4.5", std::nullopt},
        {"1..3.4", std::nullopt},
        {" 1.2.3.4", std::nullopt},
        {"1.2.3.4 ", std::nullopt},
        {"01.2.3.4", std::nullopt},
        {"1.2.3.00", std::nullopt},
        {"256.1.1.1", std::nullopt},
        {"1.2.3.1000", std::nullopt},
        {"0x7f.0.0.1", std::nullopt},
        {"+1.2.3.4", std::nullopt},
        {"2130706433", std::nullopt},
    };
    for (const auto& [text, octets] : texts) {
        const std::optional<Ipv4Address> parsed = Ipv4Address::Parse(text);
        ASSERT_EQ(parsed.has_value(), octets.has_value()) << text;
        if (parsed) {
            EXPECT_EQ(parsed->Octets(), *octets) << text;
            EXPECT_EQ(Ipv4Address::FromOctets(*octets).Text(), text);
        }
    }

    // The first octet is the most significant in host order and the first
    // byte in memory in network order, whatever the machine's own order.
    const Ipv4Address address = Ipv4Address::FromOctets({192, 168, 1, 77});
    EXPECT_EQ(address.HostOrder(), 0xC0A8014Du);
    EXPECT_EQ(Ipv4Address::FromHostOrder(0xC0A8014Du), address);
    const uint32_t network = address.NetworkOrder();
    Octets inMemory{};
    std::memcpy(inMemory.data(), &network, sizeof network);
    EXPECT_EQ(inMemory, (Octets{192, 168, 1, 77}));
    EXPECT_EQ(Ipv4Address::FromNetworkOrder(network), address);
    EXPECT_LT(Ipv4Address::FromOctets({9, 255, 255, 255}), Ipv4Address::FromOctets({10, 0, 0, 0}));

    const struct {
        Octets address;
        int prefixLength;
        Octets network;
        uint32_t host;
    } prefixes[] = {
        {{192, 168, 1, 77}, 24, {192, 168, 1, 0}, 77},
        {{10, 1, 250, 3}, 20, {10, 1, 240, 0}, 0xA03},
        {{10, 1, 250, 3}, 32, {10, 1, 250, 3}, 0},
        {{10, 1, 250, 3}, 0, {0, 0, 0, 0}, 0x0A01FA03},
    };
    for (const auto& p : prefixes) {
        const Ipv4Address a = Ipv4Address::FromOctets(p.address);
        EXPECT_EQ(a.Network(p.prefixLength).Octets(), p.network) << p.prefixLength;
        EXPECT_EQ(a.HostNumber(p.prefixLength), p.host) << p.prefixLength;
        EXPECT_EQ(a.Network(p.prefixLength).WithHostNumber(p.prefixLength, p.host), a);
    }
    EXPECT_EQ(address.WithHostNumber(24, 2).Text(), "192.168.1.2");
}

}  // namespace
}  // namespace vorpane
