#include "virtual_printer/printer_identity.h"

#include <algorithm>

#include "platform/address_text.h"
#include "platform/ipv4_address.h"

namespace vorpane {

std::optional<std::string> ApplyIdentityList(IdentityTexts& texts, std::string_view list) {
    size_t start = 0;
    while (start < list.size()) {
        const size_t comma = std::min(list.find(',', start), list.size());
        const std::string_view part = list.substr(start, comma - start);
        const size_t eq = part.find('=');
        const std::string_view key = part.substr(0, eq);
        std::string* field = key == "maker"      ? &texts.maker
                             : key == "model"    ? &texts.model
                             : key == "firmware" ? &texts.firmware
                             : key == "serial"   ? &texts.serial
                                                 : nullptr;
        // A NUL would end the reply early.
        if (eq == std::string_view::npos || field == nullptr ||
            part.find('\0') != std::string_view::npos) {
            return std::string(part);
        }
        *field = std::string(part.substr(eq + 1));
        start = comma + 1;
    }
    return std::nullopt;
}

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

std::optional<std::string> PrinterIdentity::IdReply(uint8_t n) const {
    // Model, type (two-byte characters and an autocutter) and ROM version IDs.
    constexpr uint8_t kIds[] = {0x20, 0x03, 0x10};
    if ((n >= 1 && n <= 3) || (n >= 49 && n <= 51)) {
        return std::string(1, static_cast<char>(kIds[(n - 1) % 48]));
    }
    std::string text;
    switch (n) {
        case 65:
            text = m_texts.firmware;
            break;
        case 66:
            text = m_texts.maker;
            break;
        case 67:
            text = m_texts.model;
            break;
        case 68: {
            if (!m_texts.serial.empty()) {
                text = m_texts.serial;
                break;
            }
            // The serial number follows the MAC, so that each board has its own.
            const std::string mac = Mac();
            for (char c : mac) {
                if (c != '-') {
                    text += c;
                }
            }
            break;
        }
        case 69:
            text = "SIMPLIFIED CHINESE";
            break;
        case 111:
            text = "Ethernet";
            break;
        case 112:
            text = Address();
            break;
        default:
            return std::nullopt;
    }
    return "_" + text + std::string(1, '\0');
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
