// The echo probe's checksum, request bytes and request loop, against a
// scripted socket.

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <thread>
#include <vector>

#include "fake_icmp.h"
#include "net/echo_probe.h"

namespace vorpane {
namespace {

using testing::FakeEvent;
using testing::FakeIcmpNetwork;

constexpr char kTarget[] = "198.18.7.20";
constexpr char kOther[] = "198.18.7.21";

uint16_t Le16(const std::vector<uint8_t>& bytes, size_t at) {
    return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

uint32_t Le32(const std::vector<uint8_t>& bytes, size_t at) {
    return static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8 |
           static_cast<uint32_t>(bytes[at + 2]) << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

// --- Checksum ----------------------------------------------------------------

TEST(EchoChecksum, MatchesTheWorkedExampleOfRfc1071AndVerifiesToZero) {
    // RFC 1071, section 3: the words 0001 f203 f4f5 f6f7 sum to 2ddf0, which
    // folds to ddf2; the checksum is its complement.
    std::vector<uint8_t> data = {0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7};
    EXPECT_EQ(CEchoProbe::Checksum(data.data(), data.size()), 0x220d);
    data.push_back(0x22);
    data.push_back(0x0d);
    EXPECT_EQ(CEchoProbe::Checksum(data.data(), data.size()), 0x0000);
}

TEST(EchoChecksum, IsIndependentOfByteOrderAsRfc1071States) {
    // Section 2(B): swapping the bytes of every word swaps the checksum.
    const std::vector<uint8_t> data = {0x12, 0x34, 0xab, 0xcd, 0xff, 0x01, 0x80, 0x7f};
    std::vector<uint8_t> swapped;
    for (size_t i = 0; i < data.size(); i += 2) {
        swapped.push_back(data[i + 1]);
        swapped.push_back(data[i]);
    }
    const uint16_t sum = CEchoProbe::Checksum(data.data(), data.size());
    EXPECT_EQ(CEchoProbe::Checksum(swapped.data(), swapped.size()),
              static_cast<uint16_t>(sum << 8 | sum >> 8));
}

TEST(EchoChecksum, PadsAnOddTrailingByteWithZero) {
    const uint8_t one[] = {0x01};
    EXPECT_EQ(CEchoProbe::Checksum(one, 1), 0xfeff);
    const uint8_t three[] = {0x00, 0x01, 0xf2};  // 0001 + f200 = f201
    EXPECT_EQ(CEchoProbe::Checksum(three, 3), 0x0dfe);
    const uint8_t four[] = {0x00, 0x01, 0xf2, 0x00};
    EXPECT_EQ(CEchoProbe::Checksum(three, 3), CEchoProbe::Checksum(four, 4));
    EXPECT_EQ(CEchoProbe::Checksum(nullptr, 0), 0xffff);
}

TEST(EchoChecksum, FoldsCarriesBackIn) {
    // ffff + ffff + 0001 = 1ffff -> ffff + 1 = 10000 -> 0001: two folds.
    const uint8_t twice[] = {0xff, 0xff, 0xff, 0xff, 0x00, 0x01};
    EXPECT_EQ(CEchoProbe::Checksum(twice, sizeof twice), 0xfffe);
    // 8000 + 8000 = 10000 -> 0001.
    const uint8_t once[] = {0x80, 0x00, 0x80, 0x00};
    EXPECT_EQ(CEchoProbe::Checksum(once, sizeof once), 0xfffe);
    // A long run of ffff words never overflows the accumulator: the sum of
    // n words of ffff folds to ffff, complement 0000.
    const std::vector<uint8_t> ones(200000, 0xff);
    EXPECT_EQ(CEchoProbe::Checksum(ones.data(), ones.size()), 0x0000);
}

// --- Request bytes ------------------------------------------------------------

TEST(EchoRequest, FillWritesTypeCodeIdentifierAndZeroes) {
    std::array<uint8_t, CEchoProbe::kBufferSize> buffer{};
    buffer.fill(0xAA);
    CEchoProbe::FillEchoRequest(buffer.data());
    EXPECT_EQ(buffer[0], 8);
    EXPECT_EQ(buffer[1], 0);
    EXPECT_EQ(buffer[2] | buffer[3] << 8, 0);
    EXPECT_EQ(buffer[4] | buffer[5] << 8, getpid() & 0xFFFF);
    EXPECT_EQ(buffer[6] | buffer[7] << 8, 0);
    EXPECT_EQ(buffer[8] | buffer[9] | buffer[10] | buffer[11], 0);
    EXPECT_EQ(buffer[12], 0xAA) << "the data is left as it was";
}

TEST(EchoRequest, SentRequestsCarryTheirFieldsLeastSignificantByteFirst) {
    FakeIcmpNetwork network;
    network.now = 0x1'2345'6789;  // only the low 32 bits go into the request
    network.receives = {FakeEvent::Datagram(kOther, 0, 10), FakeEvent::Datagram(kTarget, 0, 5)};
    CEchoProbe probe(network, network);
    ASSERT_EQ(probe.Probe(kTarget, 1000), 1);

    ASSERT_EQ(network.sent.size(), 2u);
    for (size_t i = 0; i < network.sent.size(); ++i) {
        const std::vector<uint8_t>& request = network.sent[i].bytes;
        SCOPED_TRACE(i);
        ASSERT_EQ(request.size(), CEchoProbe::kRequestSize);
        EXPECT_EQ(request[0], 8);
        EXPECT_EQ(request[1], 0);
        EXPECT_EQ(Le16(request, 4), getpid() & 0xFFFF);
        EXPECT_EQ(Le16(request, 6), i) << "sequence 0, then 1";
        EXPECT_EQ(Le32(request, 8), static_cast<uint32_t>(network.sent[i].atMs));
        EXPECT_EQ(std::vector<uint8_t>(request.begin() + 12, request.end()),
                  std::vector<uint8_t>(32, 0));
        EXPECT_EQ(CEchoProbe::Checksum(request.data(), request.size()), 0)
            << "the stored checksum verifies";
        EXPECT_EQ(network.sent[i].to, kTarget);
        EXPECT_EQ(network.sent[i].port, 0);
    }
    EXPECT_EQ(Le32(network.sent[0].bytes, 8), 0x23456789u);
    EXPECT_EQ(Le32(network.sent[1].bytes, 8), 0x23456789u + 10);
}

TEST(EchoRequest, SocketGetsRecordRouteOptionsAndBothTimeouts) {
    FakeIcmpNetwork network;
    network.receives = {FakeEvent::Datagram(kTarget)};
    CEchoProbe probe(network, network);
    ASSERT_EQ(probe.Probe(kTarget, 750), 1);
    std::vector<uint8_t> expected(40, 0);
    expected[0] = 7;   // Record Route
    expected[1] = 39;  // its length: nine four-byte slots
    expected[2] = 4;   // pointer to the first free slot
    EXPECT_EQ(network.ipOptions, expected);
    ASSERT_FALSE(network.receiveTimeouts.empty());
    EXPECT_EQ(network.receiveTimeouts.front(), 750);
    EXPECT_EQ(network.sendTimeouts, std::vector<int32_t>{750});
}

// --- The request loop ---------------------------------------------------------

TEST(EchoLoop, ReplyFromTheTargetAfterOneRequestGivesOne) {
    FakeIcmpNetwork network;
    network.receives = {FakeEvent::Datagram(kTarget)};
    EXPECT_EQ(CEchoProbe(network, network).Probe(kTarget, 500), 1);
    EXPECT_EQ(network.sent.size(), 1u);
    EXPECT_EQ(network.receiveCalls, 1);
    EXPECT_EQ(network.open, 0);
}

TEST(EchoLoop, TimeoutAfterOneRequestGivesZero) {
    FakeIcmpNetwork network;
    const uint64_t start = network.now;
    network.receives = {FakeEvent::Timeout()};
    EXPECT_EQ(CEchoProbe(network, network).Probe(kTarget, 500), 0);
    ASSERT_EQ(network.sent.size(), 1u);
    EXPECT_EQ(Le16(network.sent[0].bytes, 6), 0);
    EXPECT_EQ(network.now - start, 500u);
    EXPECT_EQ(network.open, 0);
}

TEST(EchoLoop, ForeignDatagramSendsAFreshRequestWithTheNextSequence) {
    FakeIcmpNetwork network;
    network.receives = {FakeEvent::Datagram(kOther), FakeEvent::Datagram(kTarget)};
    EXPECT_EQ(CEchoProbe(network, network).Probe(kTarget, 500), 1);
    ASSERT_EQ(network.sent.size(), 2u);
    EXPECT_EQ(Le16(network.sent[1].bytes, 6), 1);
    EXPECT_EQ(network.receiveCalls, 2);
}

TEST(EchoLoop, ForeignDatagramThenSilenceGivesZero) {
    FakeIcmpNetwork network;
    network.receives = {FakeEvent::Datagram(kOther), FakeEvent::Timeout()};
    EXPECT_EQ(CEchoProbe(network, network).Probe(kTarget, 500), 0);
    EXPECT_EQ(network.sent.size(), 2u);
}

TEST(EchoLoop, AnyIcmpTypeFromTheTargetCounts) {
    for (uint8_t type : {uint8_t{3}, uint8_t{11}, uint8_t{8}}) {
        FakeIcmpNetwork network;
        network.receives = {FakeEvent::Datagram(kTarget, type)};
        EXPECT_EQ(CEchoProbe(network, network).Probe(kTarget, 500), 1) << int{type};
        EXPECT_EQ(network.sent.size(), 1u);
    }
}

TEST(EchoLoop, SourceIsComparedAsWholeText) {
    // 198.18.7.2 is a prefix of 198.18.7.20 but another host.
    FakeIcmpNetwork network;
    network.receives = {FakeEvent::Datagram("198.18.7.2"), FakeEvent::Timeout()};
    EXPECT_EQ(CEchoProbe(network, network).Probe(kTarget, 500), 0);
    EXPECT_EQ(network.sent.size(), 2u);
}

TEST(EchoLoop, SendOrReceiveErrorGivesMinusOneAndReleasesTheSocket) {
    {
        FakeIcmpNetwork network;
        network.sendErrors = {ENETUNREACH};
        EXPECT_EQ(CEchoProbe(network, network).Probe(kTarget, 500), -1);
        EXPECT_EQ(network.receiveCalls, 0);
        EXPECT_EQ(network.opened, 1);
        EXPECT_EQ(network.open, 0);
    }
    {
        FakeIcmpNetwork network;
        network.receives = {FakeEvent::Error(ENOMEM)};
        EXPECT_EQ(CEchoProbe(network, network).Probe(kTarget, 500), -1);
        EXPECT_EQ(network.sent.size(), 1u);
        EXPECT_EQ(network.open, 0);
    }
    {
        // After a foreign datagram, too.
        FakeIcmpNetwork network;
        network.receives = {FakeEvent::Datagram(kOther), FakeEvent::Error(EBADF)};
        EXPECT_EQ(CEchoProbe(network, network).Probe(kTarget, 500), -1);
        EXPECT_EQ(network.open, 0);
    }
}

TEST(EchoLoop, SendTimeoutGivesZeroWithoutWaitingForAReply) {
    FakeIcmpNetwork network;
    network.sendErrors = {EAGAIN};
    EXPECT_EQ(CEchoProbe(network, network).Probe(kTarget, 500), 0);
    EXPECT_EQ(network.sent.size(), 1u);
    EXPECT_EQ(network.receiveCalls, 0);
    EXPECT_EQ(network.open, 0);
}

TEST(EchoLoop, InterruptedReceiveWaitsOnWithoutANewRequest) {
    FakeIcmpNetwork network;
    network.receives = {FakeEvent::Interrupted(100), FakeEvent::Datagram(kTarget)};
    EXPECT_EQ(CEchoProbe(network, network).Probe(kTarget, 500), 1);
    EXPECT_EQ(network.sent.size(), 1u);
    EXPECT_EQ(network.receiveCalls, 2);
}

TEST(EchoLoop, NoSocketOrOptionsMeansMinusOneWithNothingSent) {
    {
        FakeIcmpNetwork network;
        network.openError = EPERM;
        EXPECT_EQ(CEchoProbe(network, network).Probe(kTarget, 500), -1);
        EXPECT_TRUE(network.sent.empty());
    }
    {
        FakeIcmpNetwork network;
        network.ipOptionsError = EINVAL;
        EXPECT_EQ(CEchoProbe(network, network).Probe(kTarget, 500), -1);
        EXPECT_TRUE(network.sent.empty());
        EXPECT_EQ(network.opened, 1);
        EXPECT_EQ(network.open, 0);
    }
}

TEST(EchoLoop, UnusableAddressOrTimeoutIsRefusedBeforeAnySocket) {
    // inet_addr would have turned such text into 255.255.255.255, and a zero
    // time-out into a wait without end.
    for (const char* address : {"", "198.18.7", "198.18.7.256", "printer", " 198.18.7.20"}) {
        FakeIcmpNetwork network;
        EXPECT_EQ(CEchoProbe(network, network).Probe(address, 500), -1) << address;
        EXPECT_EQ(network.opened, 0) << address;
    }
    for (int32_t timeout : {0, -1}) {
        FakeIcmpNetwork network;
        EXPECT_EQ(CEchoProbe(network, network).Probe(kTarget, timeout), -1) << timeout;
        EXPECT_EQ(network.opened, 0);
    }
}

TEST(EchoLoop, BoundHoldsUnderEndlessForeignDatagrams) {
    // A foreign datagram just before every time-out would restart the wait
    // for ever; the probe still ends two time-outs after it began.
    for (uint64_t gap : {uint64_t{1}, uint64_t{499}}) {
        FakeIcmpNetwork network;
        network.afterScript = [gap] { return FakeEvent::Datagram(kOther, 0, gap); };
        const uint64_t start = network.now;
        EXPECT_EQ(CEchoProbe(network, network).Probe(kTarget, 500), 0) << gap;
        EXPECT_LE(network.now - start, 2u * 500) << gap;
        EXPECT_GE(network.now - start, 2u * 500 - gap) << gap;
        EXPECT_EQ(network.open, 0);
        for (int32_t timeout : network.receiveTimeouts) {
            EXPECT_GT(timeout, 0);
            EXPECT_LE(timeout, 500);
        }
    }
}

TEST(EchoLoop, TargetStillCountsAmongManyForeignDatagrams) {
    FakeIcmpNetwork network;
    for (int i = 0; i < 16; ++i) {
        network.receives.push_back(FakeEvent::Datagram("198.18.7." + std::to_string(30 + i)));
    }
    network.receives.push_back(FakeEvent::Datagram(kTarget));
    EXPECT_EQ(CEchoProbe(network, network).Probe(kTarget, 500), 1);
    EXPECT_EQ(network.sent.size(), 17u);
    EXPECT_EQ(Le16(network.sent.back().bytes, 6), 16);
}

TEST(EchoLoop, OneObjectProbesHostAfterHostFromSequenceZero) {
    FakeIcmpNetwork network;
    network.receives = {FakeEvent::Datagram(kOther), FakeEvent::Datagram(kTarget),
                        FakeEvent::Datagram(kOther)};
    CEchoProbe probe(network, network);
    EXPECT_EQ(probe.Probe(kTarget, 500), 1);
    EXPECT_EQ(probe.Probe(kOther, 500), 1);
    ASSERT_EQ(network.sent.size(), 3u);
    EXPECT_EQ(Le16(network.sent[2].bytes, 6), 0);
    EXPECT_EQ(network.sent[2].to, kOther);
    EXPECT_EQ(network.opened, 2);
    EXPECT_EQ(network.open, 0);
}

TEST(EchoLoop, ProbesOnManyThreadsShareNothing) {
    constexpr int kThreads = 17;
    std::vector<FakeIcmpNetwork> networks(kThreads);
    std::vector<int32_t> results(kThreads, -2);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        const std::string target = "198.18.7." + std::to_string(100 + i);
        if (i % 3 == 0) {
            networks[i].receives = {FakeEvent::Timeout()};
        } else {
            networks[i].receives = {FakeEvent::Datagram(kOther), FakeEvent::Datagram(target)};
        }
        threads.emplace_back([&, i, target] {
            results[i] = CEchoProbe(networks[i], networks[i]).Probe(target, 500);
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (int i = 0; i < kThreads; ++i) {
        EXPECT_EQ(results[i], i % 3 == 0 ? 0 : 1) << i;
    }
}

}  // namespace
}  // namespace vorpane
