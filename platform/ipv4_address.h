#pragma once
// An IPv4 address, and the one way each of its forms is read and written:
// four octets, a number in host order (first octet most significant), a
// number in network order (first octet first in memory, as sockets and the
// system's tables hold it) and dotted decimal text.

#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vorpane {

class Ipv4Address {
public:
    // 0.0.0.0.
    constexpr Ipv4Address() = default;

    static constexpr Ipv4Address FromOctets(const std::array<uint8_t, 4>& octets) {
        return Ipv4Address(uint32_t{octets[0]} << 24 | uint32_t{octets[1]} << 16 |
                           uint32_t{octets[2]} << 8 | octets[3]);
    }
    static constexpr Ipv4Address FromHostOrder(uint32_t value) { return Ipv4Address(value); }
    static Ipv4Address FromNetworkOrder(uint32_t value);
    // Dotted decimal in its one form: exactly four decimal numbers up to 255
    // without leading zeros or anything around them ("0x7f.0.0.1", "127.1"
    // and " 127.0.0.1" are no addresses).
    static std::optional<Ipv4Address> Parse(std::string_view text);

    constexpr std::array<uint8_t, 4> Octets() const {
        return {static_cast<uint8_t>(m_value >> 24), static_cast<uint8_t>(m_value >> 16),
                static_cast<uint8_t>(m_value >> 8), static_cast<uint8_t>(m_value)};
    }
    constexpr uint32_t HostOrder() const { return m_value; }
    uint32_t NetworkOrder() const;
    // Dotted decimal without leading zeros, "%d.%d.%d.%d": "192.168.1.10".
    std::string Text() const;

    // The network of the first `prefixLength` bits (0..32), host bits zero,
    // and the number of this address within that network.
    constexpr Ipv4Address Network(int prefixLength) const {
        return Ipv4Address(m_value & Mask(prefixLength));
    }
    constexpr uint32_t HostNumber(int prefixLength) const { return m_value & ~Mask(prefixLength); }
    // The address numbered `host` in this address's network of that prefix.
    constexpr Ipv4Address WithHostNumber(int prefixLength, uint32_t host) const {
        return Ipv4Address((m_value & Mask(prefixLength)) | (host & ~Mask(prefixLength)));
    }

    constexpr auto operator<=>(const Ipv4Address&) const = default;

private:
    constexpr explicit Ipv4Address(uint32_t value) : m_value(value) {}
    static constexpr uint32_t Mask(int prefixLength) {
        return prefixLength <= 0    ? 0
               : prefixLength >= 32 ? 0xFFFFFFFFu
                                    : ~(0xFFFFFFFFu >> prefixLength);
    }

    uint32_t m_value = 0;
};

// The four fields the address control shows for text set into it: each
// field takes the digits up to its dot (anything else is skipped), its value
// capped at 255; a field without digits stays blank, and text past the
// fourth field is dropped. A blank field reads as 0.
std::array<std::optional<uint8_t>, 4> AddressControlFields(std::string_view text);

}  // namespace vorpane
