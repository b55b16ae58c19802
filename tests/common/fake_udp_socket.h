#pragma once
// A scripted network for the NetBIOS sweep: a UDP socket that hands out
// answers at given times of its own millisecond clock, and records what the
// sweep did with it. Receive time-outs and sleeps move the clock instead of
// taking real time, so a sweep costs nothing.

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "discovery/netbios_sweep.h"

namespace vorpane {

class FakeUdpNetwork {
public:
    struct Answer {
        uint32_t atMs;  // clock value at which it arrives
        uint32_t from;  // host order
        uint16_t port;
        std::vector<uint8_t> bytes;  // empty: an empty datagram
    };
    struct Sent {
        std::vector<uint8_t> bytes;
        Ipv4Endpoint to;
        uint32_t atMs;
    };

    // Clock value at the start; tests near the wrap-around set it high.
    uint32_t nowMs = 100000;
    int openError = 0;  // nonzero: the socket cannot be opened
    int bindError = 0;  // nonzero: bind fails with it
    std::deque<Answer> answers;

    // What happened.
    int opened = 0;
    int closed = 0;
    int broadcastCalls = 0;
    bool broadcast = false;
    int32_t receiveTimeoutMs = -1;
    std::vector<Ipv4Endpoint> binds;
    std::vector<Sent> sent;
    std::vector<uint32_t> sleeps;
    int receives = 0;

    // Queues a datagram from port 137 `afterMs` after the clock's current
    // value: the first `bytes` bytes of a name query response to the sweep
    // (a header, then filler), so fewer than 12 make it no answer.
    void AnswerAfter(uint32_t afterMs, uint32_t from, int32_t bytes = 50) {
        std::vector<uint8_t> d = {0x80, 0x21, 0x85, 0x00, 0, 0, 0, 1, 0, 0, 0, 0};
        d.resize(static_cast<size_t>(bytes), 0x55);
        DatagramAfter(afterMs, from, 137, std::move(d));
    }
    void DatagramAfter(uint32_t afterMs, uint32_t from, uint16_t port, std::vector<uint8_t> bytes) {
        answers.push_back({nowMs + afterMs, from, port, std::move(bytes)});
    }

    NetbiosSweepServices Services(Ipv4Endpoint destination = {0xFFFFFFFFu, 137}) {
        NetbiosSweepServices s;
        s.openSocket = [this]() -> UdpSocketOrError {
            if (openError != 0) {
                return {nullptr, openError};
            }
            ++opened;
            return {std::make_unique<Socket>(*this), 0};
        };
        s.destination = destination;
        s.tickCountMs = [this] { return nowMs; };
        s.sleepMs = [this](uint32_t ms) {
            sleeps.push_back(ms);
            nowMs += ms;
        };
        return s;
    }

private:
    class Socket : public UdpSocket {
    public:
        explicit Socket(FakeUdpNetwork& net) : m_net(net) {}
        ~Socket() override { ++m_net.closed; }
        int SetBroadcast(bool enable) override {
            ++m_net.broadcastCalls;
            m_net.broadcast = enable;
            return 0;
        }
        int SetReceiveTimeout(int32_t ms) override {
            m_net.receiveTimeoutMs = ms;
            return 0;
        }
        int Bind(const Ipv4Endpoint& local) override {
            m_net.binds.push_back(local);
            return m_net.bindError;
        }
        UdpIoResult SendTo(std::span<const uint8_t> d, const Ipv4Endpoint& to) override {
            m_net.sent.push_back({{d.begin(), d.end()}, to, m_net.nowMs});
            return {static_cast<int32_t>(d.size()), 0};
        }
        UdpIoResult ReceiveFrom(std::span<uint8_t> buffer, Ipv4Endpoint& from) override {
            ++m_net.receives;
            const uint32_t timeout =
                m_net.receiveTimeoutMs > 0 ? static_cast<uint32_t>(m_net.receiveTimeoutMs) : 1000u;
            if (!m_net.answers.empty()) {
                const Answer a = m_net.answers.front();
                const auto wait = static_cast<int32_t>(a.atMs - m_net.nowMs);
                if (wait <= static_cast<int32_t>(timeout)) {
                    m_net.answers.pop_front();
                    if (wait > 0) {
                        m_net.nowMs = a.atMs;
                    }
                    const size_t n = std::min(buffer.size(), a.bytes.size());
                    std::copy_n(a.bytes.begin(), n, buffer.begin());
                    from = {a.from, a.port};
                    return {static_cast<int32_t>(n), 0};
                }
            }
            m_net.nowMs += timeout;
            return {0, EAGAIN};
        }

    private:
        FakeUdpNetwork& m_net;
    };
};

}  // namespace vorpane
