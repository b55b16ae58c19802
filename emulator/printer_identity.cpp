#include "emulator/printer_identity.h"

#include "platform/address_text.h"
#include "platform/ipv4_address.h"

namespace vorpane {

void PrinterIdentity::SetPendingAddress(const std::array<uint8_t, 4>& address) {
    std::lock_guard lock(m_mutex);
    m_pendingAddress = address;
}

void PrinterIdentity::SetPendingMac(const std::array<uint8_t, 6>& mac) {
    std::lock_guard lock(m_mutex);
    m_pendingMac = mac;
}

std::string PrinterIdentity::Restart() {
    std::lock_guard lock(m_mutex);
    if (m_pendingAddress) {
        m_address = Ipv4Address::FromOctets(*m_pendingAddress).Text();
        m_pendingAddress.reset();
    }
    if (m_pendingMac) {
        m_mac = *m_pendingMac;
        m_pendingMac.reset();
    }
    return "restart: address now " + m_address + ", MAC now " + MacText(m_mac, '-');
}

std::string PrinterIdentity::Address() const {
    std::lock_guard lock(m_mutex);
    return m_address;
}

std::string PrinterIdentity::Mac() const {
    std::lock_guard lock(m_mutex);
    return MacText(m_mac, '-');
}

std::optional<std::string> PrinterIdentity::PendingAddress() const {
    std::lock_guard lock(m_mutex);
    if (!m_pendingAddress) {
        return std::nullopt;
    }
    return Ipv4Address::FromOctets(*m_pendingAddress).Text();
}

std::optional<std::string> PrinterIdentity::PendingMac() const {
    std::lock_guard lock(m_mutex);
    if (!m_pendingMac) {
        return std::nullopt;
    }
    return MacText(*m_pendingMac, '-');
}

}  // namespace vorpane
