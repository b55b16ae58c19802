// The platform's sockets on loopback: the same errno values, endpoints and
// readiness on every system (on Windows the Winsock side's translation).

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/socket.h"

namespace vorpane {
namespace {

using Clock = std::chrono::steady_clock;

Socket Open(Socket::Kind kind, bool nonBlocking = false) {
    Socket::Opened opened = Socket::Open(kind, nonBlocking);
    EXPECT_EQ(opened.error, 0);
    return std::move(opened.socket);
}

Ipv4Endpoint Bound(Socket& socket) {
    Ipv4Endpoint local;
    EXPECT_EQ(socket.Bind({kLoopbackAddress, 0}), 0);
    EXPECT_EQ(socket.LocalEndpoint(local), 0);
    return local;
}

bool WouldBlock(int error) {
    return error == EWOULDBLOCK || error == EAGAIN;
}

TEST(Socket, StreamConnectAcceptAndEndGiveTheSameValues) {
    // A port that was just given back: nobody listens there.
    Socket closed = Open(Socket::Kind::kStream);
    const Ipv4Endpoint nobody = Bound(closed);
    closed.Close();
    Socket refused = Open(Socket::Kind::kStream, true);
    int error = refused.Connect(nobody);
    if (error == EINPROGRESS) {
        ASSERT_EQ(WaitForSocket(refused, kSocketWritable, 5000), 0);
        error = refused.ConnectResult();
    }
    EXPECT_EQ(error, ECONNREFUSED);

    Socket listener = Open(Socket::Kind::kStream);
    const Ipv4Endpoint at = Bound(listener);
    ASSERT_EQ(listener.Listen(4), 0);
    {
        Socket client = Open(Socket::Kind::kStream, true);
        const int connecting = client.Connect(at);
        ASSERT_TRUE(connecting == 0 || connecting == EINPROGRESS) << connecting;
        ASSERT_EQ(WaitForSocket(client, kSocketWritable, 5000), 0);
        EXPECT_EQ(client.ConnectResult(), 0);
        Ipv4Endpoint peer, local;
        Socket::Opened accepted = listener.Accept(peer);
        ASSERT_TRUE(accepted.socket.Valid()) << accepted.error;
        ASSERT_EQ(client.LocalEndpoint(local), 0);
        EXPECT_EQ(peer, local);

        uint8_t byte = 0;
        EXPECT_TRUE(WouldBlock(client.Receive({&byte, 1}).error));
        accepted.socket.Close();
        ASSERT_EQ(WaitForSocket(client, kSocketReadable, 5000), 0);
        const SocketIo end = client.Receive({&byte, 1});
        EXPECT_EQ(end.bytes, 0);
        EXPECT_EQ(end.error, 0);
    }
    EXPECT_EQ(SocketErrorText(ECONNRESET), "Connection reset by peer");
}

TEST(Socket, DatagramsCarryTheirSenderAndABlockingReceiveTimesOut) {
    Socket a = Open(Socket::Kind::kDatagram);
    Socket b = Open(Socket::Kind::kDatagram);
    const Ipv4Endpoint atA = Bound(a);
    const Ipv4Endpoint atB = Bound(b);
    const uint8_t sent[3] = {1, 2, 3};
    EXPECT_EQ(a.SendTo(sent, atB).bytes, 3);
    uint8_t got[8] = {};
    Ipv4Endpoint from;
    EXPECT_EQ(b.ReceiveFrom(got, from).bytes, 3);
    EXPECT_EQ(from, atA);
    EXPECT_EQ(got[2], 3);

    ASSERT_EQ(b.SetReceiveTimeout(150), 0);
    const auto start = Clock::now();
    EXPECT_TRUE(WouldBlock(b.ReceiveFrom(got, from).error));
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(120));
    EXPECT_LT(waited, std::chrono::milliseconds(3000));
}

TEST(Socket, WakerEndsAWaitOnAnotherThread) {
    SocketWaker::Created created = SocketWaker::Create();
    ASSERT_TRUE(created.waker) << created.error;
    Socket idle = Open(Socket::Kind::kDatagram);
    Bound(idle);
    SocketPoll items[2] = {{created.waker->Handle(), kSocketReadable},
                           {idle.Handle(), kSocketReadable}};
    // Nothing ready yet: the wait runs out, as a time-out does everywhere.
    EXPECT_EQ(PollSockets(items, 20), EAGAIN);
    std::jthread waker([&] { created.waker->Wake(); });
    EXPECT_EQ(PollSockets(items, 10000), 0);
    EXPECT_EQ(items[0].ready, kSocketReadable);
    EXPECT_EQ(items[1].ready, 0);
}

}  // namespace
}  // namespace vorpane
