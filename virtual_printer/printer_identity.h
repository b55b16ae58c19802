#pragma once
// The virtual printer's network identity: the address and MAC it has, and
// those that configuration frames (GS D, GS E) set to take effect at the
// next restart. Thread-safe: sessions set, control lines restart and show.

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace vorpane {

// What GS I 65-68 answer; an empty serial follows the MAC.
struct IdentityTexts {
    std::string maker = "Vorpane";
    std::string model = "VP-80 virtual";
    std::string firmware = "1.00";
    std::string serial;
};

// Sets "maker=A,model=B,firmware=C,serial=D" (any of them, in any order) on
// `texts`; returns the first part it cannot take.
std::optional<std::string> ApplyIdentityList(IdentityTexts& texts, std::string_view list);

class PrinterIdentity {
public:
    explicit PrinterIdentity(std::string address = {}, IdentityTexts texts = {})
        : m_address(std::move(address)), m_texts(std::move(texts)) {}

    void SetPendingAddress(const std::array<uint8_t, 4>& address);
    void SetPendingMac(const std::array<uint8_t, 6>& mac);
    // Takes a pending address and MAC; returns the journal line that says so.
    std::string Restart();

    std::string Address() const;
    std::string Mac() const;  // AE-2B-64-14-2C-6C
    std::optional<std::string> PendingAddress() const;
    std::optional<std::string> PendingMac() const;
    // The reply to GS I n: one byte for the IDs (1..3, 49..51), else "_",
    // the text and NUL (65..69, 111, 112); nothing for another n.
    std::optional<std::string> IdReply(uint8_t n) const;

private:
    mutable std::mutex m_mutex;
    std::string m_address;
    const IdentityTexts m_texts;
    std::array<uint8_t, 6> m_mac = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
    std::optional<std::array<uint8_t, 4>> m_pendingAddress;
    std::optional<std::array<uint8_t, 6>> m_pendingMac;
};

}  // namespace vorpane
