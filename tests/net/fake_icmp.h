#pragma once
// A scripted ICMP network for the probe's request loop: every receive takes
// the next scripted event (a datagram from some address, a time-out, an
// error), time runs only when the script says so, and every call is recorded.

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "net/echo_probe.h"

namespace vorpane::testing {

struct FakeEvent {
    enum class Kind { kDatagram, kTimeout, kError };
    Kind kind = Kind::kTimeout;
    std::string from;      // sender of a datagram
    uint8_t icmpType = 0;  // 0 echo reply, 3 destination unreachable, ...
    int error = 0;         // for kError
    uint64_t afterMs = 0;  // time that passes before a datagram or error arrives

    static FakeEvent Datagram(std::string from, uint8_t type = 0, uint64_t afterMs = 1) {
        return {Kind::kDatagram, std::move(from), type, 0, afterMs};
    }
    static FakeEvent Timeout() { return {}; }
    static FakeEvent Error(int error, uint64_t afterMs = 0) {
        return {Kind::kError, {}, 0, error, afterMs};
    }
};

struct SentRequest {
    std::vector<uint8_t> bytes;
    std::string to;
    uint16_t port = 0;
    uint64_t atMs = 0;
};

class FakeIcmpNetwork final : public IcmpSocketFactory, public MillisecondClock {
public:
    // Script.
    int openError = 0;               // Open() fails with this errno
    int ipOptionsError = 0;          // SetIpOptions fails with this errno
    std::vector<int> sendErrors;     // errno of the n-th send (0 = success)
    std::deque<FakeEvent> receives;  // outcome of each receive, in order
    // What every receive past the script brings; a time-out when empty.
    std::function<FakeEvent()> afterScript;

    // Record.
    std::vector<SentRequest> sent;
    std::vector<uint8_t> ipOptions;
    std::vector<int32_t> receiveTimeouts;  // every value set, in order
    std::vector<int32_t> sendTimeouts;
    int receiveCalls = 0;
    int opened = 0;
    int open = 0;  // sockets not yet destroyed
    uint64_t now = 5000;

    uint64_t NowMs() override { return now; }
    IcmpSocketOrError Open() override;

    int32_t CurrentReceiveTimeout() const {
        return receiveTimeouts.empty() ? 0 : receiveTimeouts.back();
    }
};

class FakeIcmpSocket final : public IcmpSocket {
public:
    explicit FakeIcmpSocket(FakeIcmpNetwork& network) : m_network(network) {
        ++m_network.opened;
        ++m_network.open;
    }
    ~FakeIcmpSocket() override { --m_network.open; }

    int SetIpOptions(std::span<const uint8_t> options) override {
        m_network.ipOptions.assign(options.begin(), options.end());
        return m_network.ipOptionsError;
    }
    int SetReceiveTimeout(int32_t milliseconds) override {
        m_network.receiveTimeouts.push_back(milliseconds);
        return 0;
    }
    int SetSendTimeout(int32_t milliseconds) override {
        m_network.sendTimeouts.push_back(milliseconds);
        return 0;
    }

    IcmpIoResult SendTo(std::span<const uint8_t> datagram, const sockaddr_in& to) override {
        const size_t index = m_network.sent.size();
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &to.sin_addr, text, sizeof text);
        m_network.sent.push_back({std::vector<uint8_t>(datagram.begin(), datagram.end()), text,
                                  ntohs(to.sin_port), m_network.now});
        if (index < m_network.sendErrors.size() && m_network.sendErrors[index] != 0) {
            if (m_network.sendErrors[index] == EAGAIN) {
                m_network.now += static_cast<uint64_t>(m_network.sendTimeouts.back());
            }
            return {0, m_network.sendErrors[index]};
        }
        return {static_cast<int32_t>(datagram.size()), 0};
    }

    IcmpIoResult ReceiveFrom(std::span<uint8_t> buffer, sockaddr_in& from) override {
        // A loop without a bound would spin here for ever: fail it instead.
        if (++m_network.receiveCalls > kReceiveLimit) {
            return {0, EIO};
        }
        FakeEvent event;
        if (!m_network.receives.empty()) {
            event = m_network.receives.front();
            m_network.receives.pop_front();
        } else if (m_network.afterScript) {
            event = m_network.afterScript();
        }
        const auto wait = static_cast<uint64_t>(m_network.CurrentReceiveTimeout());
        switch (event.kind) {
            case FakeEvent::Kind::kTimeout:
                m_network.now += wait;
                return {0, EAGAIN};
            case FakeEvent::Kind::kError:
                m_network.now += std::min(event.afterMs, wait);
                return {0, event.error};
            case FakeEvent::Kind::kDatagram:
                break;
        }
        if (event.afterMs >= wait) {  // arrives too late: the receive times out
            m_network.now += wait;
            return {0, EAGAIN};
        }
        m_network.now += event.afterMs;
        // A whole IPv4 datagram, as a raw socket delivers it: 20-byte header,
        // then an 8-byte ICMP header.
        std::fill(buffer.begin(), buffer.end(), uint8_t{0});
        buffer[0] = 0x45;
        buffer[9] = IPPROTO_ICMP;
        from = sockaddr_in{};
        from.sin_family = AF_INET;
        inet_pton(AF_INET, event.from.c_str(), &from.sin_addr);
        std::memcpy(buffer.data() + 12, &from.sin_addr, 4);
        buffer[20] = event.icmpType;
        return {28, 0};
    }

private:
    static constexpr int kReceiveLimit = 100000;
    FakeIcmpNetwork& m_network;
};

inline IcmpSocketOrError FakeIcmpNetwork::Open() {
    if (openError != 0) {
        return {nullptr, openError};
    }
    return {std::make_unique<FakeIcmpSocket>(*this), 0};
}

}  // namespace vorpane::testing
