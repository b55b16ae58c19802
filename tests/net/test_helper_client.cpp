// The program's side of the privileged helper, against the stand-in
// helper: which way each probe goes, what the helper is asked and how its
// answer reads. Nothing is sent anywhere.

#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>

#include "net/posix/echo_arp_helper.h"
#include "platform/capabilities.h"
#include "platform/process.h"
#include "stub_helper.h"

namespace vorpane {
namespace {

// The system's ICMP sockets as the caller's rights leave them: refused with
// `error`, or one that hears every request answered by its target at once.
class Sockets final : public IcmpSocketFactory {
public:
    explicit Sockets(int error) : m_error(error) {}
    IcmpSocketOrError Open() override {
        if (m_error != 0) {
            return {nullptr, m_error};
        }
        return {std::make_unique<Answering>(), 0};
    }

private:
    struct Answering final : IcmpSocket {
        int SetIpOptions(std::span<const uint8_t>) override { return 0; }
        int SetReceiveTimeout(int32_t) override { return 0; }
        int SetSendTimeout(int32_t) override { return 0; }
        IcmpIoResult SendTo(std::span<const uint8_t> datagram, Ipv4Address to) override {
            m_to = to;
            return {static_cast<int32_t>(datagram.size()), 0};
        }
        IcmpIoResult ReceiveFrom(std::span<uint8_t>, Ipv4Address& from) override {
            from = m_to;
            return {28, 0};
        }
        Ipv4Address m_to;
    };
    int m_error;
};

// Raw socket, then the ping socket (both behind the factory), then the
// helper, and the helper only when the system refused a socket.
TEST(SystemEchoProbe, TakesASocketWhenAllowedElseAsksTheHelper) {
    constexpr const char* kAsked = "args echo 127.0.0.9 300\n";
    const struct {
        int socketError;
        int helperStatus;
        int32_t result;
        bool helperAsked;
    } rows[] = {
        {0, 11, 1, false},        // a socket: the helper's "no answer" never counts
        {EPERM, 12, 1, true},     // no right to a socket: the helper's answer
        {EACCES, 11, 0, true},    //
        {EPERM, 10, -1, true},    // the helper could not probe
        {EPERM, 64, -1, true},    // the helper refused the request
        {EMFILE, 12, -1, false},  // out of descriptors: the helper would be too
        {EAFNOSUPPORT, 12, -1, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.socketError);
        StubHelper stub(row.helperStatus);
        Sockets sockets(row.socketError);
        SystemEchoProbe probe(EchoArpHelper(stub.Path()), sockets);
        EXPECT_EQ(probe.Probe("127.0.0.9", 300), row.result);
        EXPECT_EQ(stub.Seen().starts_with(kAsked), row.helperAsked) << stub.Seen();
    }
    // No helper where it should be: the probe failed.
    Sockets refused(EPERM);
    EXPECT_EQ(
        SystemEchoProbe(EchoArpHelper("/nonexistent/helper"), refused).Probe("127.0.0.9", 300), -1);
}

TEST(EchoArpHelper, DeletesARowByItsAddressAndReadsTheAnswer) {
    const std::pair<int, int32_t> rows[] = {{12, 1}, {11, 0}, {10, 0}, {64, 0}, {3, 0}};
    for (const auto& [status, result] : rows) {
        StubHelper stub(status);
        EXPECT_EQ(EchoArpHelper(stub.Path()).DeleteArpRow(Ipv4Address::FromOctets({10, 1, 2, 3})),
                  result)
            << status;
        EXPECT_TRUE(stub.Seen().starts_with("args arp-delete 10.1.2.3\n")) << stub.Seen();
    }
}

// Run only as the fresh process the next test starts: in a network
// namespace of its own, without CAP_NET_RAW, where the ping socket is
// allowed to group 0 or to nobody.
TEST(SystemSocketsChild, DISABLED_WithoutTheRawRightThePingSocketWhereTheGroupMayHaveOne) {
    ASSERT_EQ(unshare(CLONE_NEWNET), 0);
    auto allowGroups = [](const char* range) {
        std::ofstream("/proc/sys/net/ipv4/ping_group_range") << range;
    };
    allowGroups("0 0");
    ASSERT_EQ(KeepOnlyCapability(Capability::kNetAdmin), 0);
    ASSERT_EQ(getegid(), 0u);
    IcmpSocketOrError ping = SystemIcmpSocketFactory::Instance().Open();
    EXPECT_NE(ping.socket, nullptr) << ping.error;
    {
        const RaisedCapability admin(Capability::kNetAdmin);  // sysctls are the network's admin's
        allowGroups("1 0");
    }
    const IcmpSocketOrError none = SystemIcmpSocketFactory::Instance().Open();
    EXPECT_EQ(none.socket, nullptr);
    EXPECT_EQ(none.error, EPERM);  // the raw socket's refusal, the telling one
}

TEST(SystemSockets, FallBackToThePingSocketOnlyWhenRawIsRefused) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root: makes a network namespace and gives up CAP_NET_RAW in it";
    }
    const ProgramExit child =
        RunProgram("/proc/self/exe",
                   {"--gtest_also_run_disabled_tests", "--gtest_filter=SystemSocketsChild.*"},
                   std::chrono::seconds(60));
    EXPECT_EQ(child.status, 0) << "run it alone to see why";
}

}  // namespace
}  // namespace vorpane
