#pragma once
// The virtual printer's network identity: the address and MAC it has, and
// those that configuration frames (GS D, GS E) set to take effect at the
// next restart. Thread-safe: sessions set, control lines restart and show.

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

namespace vorpane {

class PrinterIdentity {
public:
    explicit PrinterIdentity(std::string address = {}) : m_address(std::move(address)) {}

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
    std::array<uint8_t, 6> m_mac = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
    std::optional<std::array<uint8_t, 4>> m_pendingAddress;
    std::optional<std::array<uint8_t, 6>> m_pendingMac;
};

}  // namespace vorpane
