// The echo probe's checksum, request bytes and request loop, against a
// scripted ICMP network: every receive takes the next scripted event, time
// runs only when the script says so, and every call is recorded.

#include <gtest/gtest.h>

#include <cerrno>
#include <deque>

#include "net/echo_probe.h"
#include "platform/thread.h"

namespace vorpane {
namespace {

using Bytes = std::vector<uint8_t>;

// A datagram from `from` of ICMP type `type`, `afterMs` into the wait. No
// sender is a time-out; an error fails the receive after `afterMs`.
struct Event {
    std::string from;
    uint8_t type = 0;
    uint64_t afterMs = 1;
    int error = 0;
};
Event Error(int error, uint64_t afterMs = 0) {
    return {"", 0, afterMs, error};
}

struct Sent {
    Bytes bytes;
    std::string to;
};

class FakeIcmpNetwork final : public IcmpSocketFactory, public MillisecondClock {
    struct Socket final : IcmpSocket {
        FakeIcmpNetwork& n;
        explicit Socket(FakeIcmpNetwork& network) : n(network) { ++n.opened, ++n.open; }
        ~Socket() override { --n.open; }
        int SetIpOptions(std::span<const uint8_t> options) override {
            n.ipOptions.assign(options.begin(), options.end());
            return n.ipOptionsError;
        }
        int SetReceiveTimeout(int32_t ms) override { return n.receiveTimeouts.push_back(ms), 0; }
        int SetSendTimeout(int32_t ms) override { return n.sendTimeouts.push_back(ms), 0; }
        IcmpIoResult SendTo(std::span<const uint8_t> datagram, Ipv4Address to) override {
            n.sent.push_back({Bytes(datagram.begin(), datagram.end()), to.Text()});
            const size_t i = n.sent.size() - 1;
            const int error = i < n.sendErrors.size() ? n.sendErrors[i] : 0;
            if (error == EAGAIN) {
                n.now += static_cast<uint64_t>(n.sendTimeouts.back());
            }
            return {error != 0 ? 0 : static_cast<int32_t>(datagram.size()), error};
        }
        IcmpIoResult ReceiveFrom(std::span<uint8_t> buffer, Ipv4Address& from) override {
            if (++n.receiveCalls > 100000) {  // a loop without a bound fails here
                return {0, EIO};
            }
            Event e;
            if (!n.receives.empty()) {
                e = n.receives.front();
                n.receives.pop_front();
            } else if (n.afterScript) {
                e = n.afterScript();
            }
            const auto wait =
                static_cast<uint64_t>(n.receiveTimeouts.empty() ? 0 : n.receiveTimeouts.back());
            if (e.error != 0) {
                n.now += std::min(e.afterMs, wait);
                return {0, e.error};
            }
            if (e.from.empty() || e.afterMs >= wait) {
                n.now += wait;
                return {0, EAGAIN};
            }
            n.now += e.afterMs;
            // A whole IPv4 datagram as a raw socket gives it: 20-byte header, ICMP header.
            std::fill(buffer.begin(), buffer.end(), uint8_t{0});
            buffer[0] = 0x45;
            buffer[9] = 1;  // ICMP
            from = Ipv4Address::Parse(e.from).value_or(Ipv4Address());
            const auto octets = from.Octets();
            std::copy(octets.begin(), octets.end(), buffer.begin() + 12);
            buffer[20] = e.type;
            return {28, 0};
        }
    };

public:
    int openError = 0, ipOptionsError = 0;
    std::vector<int> sendErrors;         // errno of the n-th send (0 = success)
    std::deque<Event> receives;          // outcome of each receive, in order
    std::function<Event()> afterScript;  // every receive past the script; else silence
    std::vector<Sent> sent;
    Bytes ipOptions;
    std::vector<int32_t> receiveTimeouts, sendTimeouts;  // every value set, in order
    int receiveCalls = 0, opened = 0, open = 0;          // open: sockets not yet destroyed
    uint64_t now = 5000;

    uint64_t NowMs() override { return now; }
    IcmpSocketOrError Open() override {
        if (openError != 0) {
            return {nullptr, openError};
        }
        return {std::make_unique<Socket>(*this), 0};
    }
};

constexpr char kTarget[] = "198.18.7.20";
constexpr char kOther[] = "198.18.7.21";

uint32_t Le(const Bytes& bytes, size_t at, size_t width) {
    uint32_t value = 0;
    for (size_t i = width; i-- > 0;) {
        value = value << 8 | bytes[at + i];
    }
    return value;
}

uint16_t Sum(const Bytes& b) {
    return CEchoProbe::Checksum(b.data(), b.size());
}

// RFC 1071, section 3: 0001 f203 f4f5 f6f7 sum to 2ddf0, folding to ddf2;
// an odd tail is padded with zero. Every request's own sum is checked below.
TEST(EchoChecksum, Rfc1071ExampleAndOddTail) {
    EXPECT_EQ(Sum({0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7}), 0x220d);
    EXPECT_EQ(Sum({0x00, 0x01, 0xf2}), 0x0dfe);
}

TEST(EchoRequest, SocketOptionsAndRequestFieldsLeastSignificantByteFirst) {
    FakeIcmpNetwork network;
    network.now = 0x1'2345'6789;  // only the low 32 bits go into the request
    network.receives = {{kOther, 0, 10}, {kTarget, 0, 5}};
    ASSERT_EQ(CEchoProbe(network, network).Probe(kTarget, 750), 1);

    Bytes recordRoute(40, 0);
    recordRoute[0] = 7;   // Record Route
    recordRoute[1] = 39;  // nine four-byte slots
    recordRoute[2] = 4;   // pointer to the first free slot
    EXPECT_EQ(network.ipOptions, recordRoute);
    ASSERT_FALSE(network.receiveTimeouts.empty());
    EXPECT_EQ(network.receiveTimeouts.front(), 750);
    EXPECT_EQ(network.sendTimeouts, std::vector<int32_t>{750});

    ASSERT_EQ(network.sent.size(), 2u);
    for (size_t i = 0; i < network.sent.size(); ++i) {
        SCOPED_TRACE(i);
        const Bytes& request = network.sent[i].bytes;
        ASSERT_EQ(request.size(), CEchoProbe::kRequestSize);
        EXPECT_EQ(request[0], 8);
        EXPECT_EQ(request[1], 0);
        EXPECT_EQ(Le(request, 4, 2), CurrentProcessId() & 0xFFFF);
        EXPECT_EQ(Le(request, 6, 2), i) << "sequence 0, then 1";
        EXPECT_EQ(Le(request, 8, 4), 0x23456789u + 10 * i);
        EXPECT_EQ(Bytes(request.begin() + 12, request.end()), Bytes(32, 0));
        EXPECT_EQ(Sum(request), 0) << "the stored checksum verifies";
        EXPECT_EQ(network.sent[i].to, kTarget);
    }
}

// One probe of kTarget with a 500 ms time-out per case. Every path must
// release its socket.
TEST(EchoLoop, ResultsRequestsAndReceivesPerScript) {
    const Event foreign{kOther}, reply{kTarget}, silence{};
    std::deque<Event> sixteenForeignThenReply;
    for (int i = 0; i < 16; ++i) {
        sixteenForeignThenReply.push_back({"198.18.7." + std::to_string(30 + i)});
    }
    sixteenForeignThenReply.push_back(reply);
    const struct Case {
        const char* name;
        std::deque<Event> receives;
        std::vector<int> sendErrors;
        int openError, optionsError;
        int32_t result;
        size_t sent;  // requests, the last with sequence sent - 1
        int receiveCalls;
    } cases[] = {
        {"reply", {reply}, {}, 0, 0, 1, 1, 1},
        {"time-out", {silence}, {}, 0, 0, 0, 1, 1},
        {"foreign then reply: a fresh request", {foreign, reply}, {}, 0, 0, 1, 2, 2},
        {"foreign then silence", {foreign, silence}, {}, 0, 0, 0, 2, 2},
        {"unreachable from the target", {{kTarget, 3}}, {}, 0, 0, 1, 1, 1},
        {"a prefix of the address", {{"198.18.7.2"}, silence}, {}, 0, 0, 0, 2, 2},
        {"sixteen foreign then reply", sixteenForeignThenReply, {}, 0, 0, 1, 17, 17},
        {"interrupted receive waits on", {Error(EINTR, 100), reply}, {}, 0, 0, 1, 1, 2},
        {"send error", {}, {ENETUNREACH}, 0, 0, -1, 1, 0},
        {"send time-out: no wait for a reply", {}, {EAGAIN}, 0, 0, 0, 1, 0},
        {"receive error", {Error(ENOMEM)}, {}, 0, 0, -1, 1, 1},
        {"no socket", {}, {}, EPERM, 0, -1, 0, 0},
        {"options refused", {}, {}, 0, EINVAL, -1, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeIcmpNetwork network;
        network.receives = c.receives;
        network.sendErrors = c.sendErrors;
        network.openError = c.openError;
        network.ipOptionsError = c.optionsError;
        EXPECT_EQ(CEchoProbe(network, network).Probe(kTarget, 500), c.result);
        ASSERT_EQ(network.sent.size(), c.sent);
        if (c.sent > 0) {
            EXPECT_EQ(Le(network.sent.back().bytes, 6, 2), c.sent - 1);
        }
        EXPECT_EQ(network.receiveCalls, c.receiveCalls);
        EXPECT_EQ(network.opened, c.openError == 0 ? 1 : 0);
        EXPECT_EQ(network.open, 0);
    }
}

TEST(EchoLoop, UnusableAddressOrTimeoutIsRefusedBeforeAnySocket) {
    // inet_addr would have turned such text into 255.255.255.255, and a zero
    // time-out into a wait without end.
    const std::pair<const char*, int32_t> cases[] = {
        {"", 500}, {"198.18.7", 500}, {"198.18.7.256", 500}, {" 198.18.7.20", 500}, {kTarget, 0}};
    for (const auto& [address, timeout] : cases) {
        FakeIcmpNetwork network;
        EXPECT_EQ(CEchoProbe(network, network).Probe(address, timeout), -1) << address << timeout;
        EXPECT_EQ(network.opened, 0) << address << timeout;
    }
}

TEST(EchoLoop, BoundHoldsUnderEndlessForeignDatagrams) {
    // A foreign datagram just before every time-out would restart the wait
    // for ever; the probe still ends two time-outs after it began.
    for (uint64_t gap : {uint64_t{1}, uint64_t{499}}) {
        SCOPED_TRACE(gap);
        FakeIcmpNetwork network;
        network.afterScript = [gap] { return Event{kOther, 0, gap}; };
        const uint64_t start = network.now;
        EXPECT_EQ(CEchoProbe(network, network).Probe(kTarget, 500), 0);
        EXPECT_LE(network.now - start, 2u * 500);
        EXPECT_GE(network.now - start, 2u * 500 - gap);
        EXPECT_EQ(network.open, 0);
        for (int32_t timeout : network.receiveTimeouts) {
            EXPECT_GT(timeout, 0);
            EXPECT_LE(timeout, 500);
        }
    }
}

TEST(EchoLoop, OneObjectProbesHostAfterHostFromSequenceZero) {
    FakeIcmpNetwork network;
    network.receives = {{kOther}, {kTarget}, {kOther}};
    CEchoProbe probe(network, network);
    EXPECT_EQ(probe.Probe(kTarget, 500), 1);
    EXPECT_EQ(probe.Probe(kOther, 500), 1);
    ASSERT_EQ(network.sent.size(), 3u);
    EXPECT_EQ(Le(network.sent[2].bytes, 6, 2), 0u);
    EXPECT_EQ(network.sent[2].to, kOther);
    EXPECT_EQ(network.opened, 2);
    EXPECT_EQ(network.open, 0);
}

}  // namespace
}  // namespace vorpane
