// NetworkPrinterLink against the virtual printer and small hand-made peers,
// all on loopback with ports the system picks.

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstdio>
#include <future>
#include <latch>
#include <map>
#include <mutex>
#include <numeric>
#include <thread>

#include "loopback_printer.h"

#include "platform/socket.h"
#include "printer_link/network_printer_link.h"
#include "printer_link/status_reader.h"
#include "virtual_printer/virtual_printer.h"

namespace vorpane {
namespace {

using namespace std::chrono_literals;

constexpr const char* kLoopback = "127.0.0.1";
constexpr auto kWait = 5s;
using Bytes = std::vector<uint8_t>;

Socket TcpSocket(bool nonBlocking = false) {
    return Socket::Open(Socket::Kind::kStream, nonBlocking).socket;
}

// A listening socket on 127.0.0.1 with a port the system picks. The small
// receive buffer is inherited by the accepted socket.
Socket Listen(int backlog, uint16_t& port, int receiveBuffer = 0) {
    Socket socket = TcpSocket();
    if (receiveBuffer > 0) {
        socket.SetReceiveBuffer(receiveBuffer);
    }
    EXPECT_EQ(socket.Bind({kLoopbackAddress, 0}), 0);
    EXPECT_EQ(socket.Listen(backlog), 0);
    Ipv4Endpoint bound;
    socket.LocalEndpoint(bound);
    port = bound.port;
    return socket;
}

// A loopback listener whose accept queue is full: further SYNs are dropped,
// so a connect neither succeeds nor fails, like an address where nobody
// answers.
struct SilentListener {
    uint16_t port = 0;
    Socket listener = Listen(0, port);
    std::vector<Socket> fillers;

    SilentListener() {
        for (int i = 0; i < 2; ++i) {
            fillers.push_back(TcpSocket(true));
            fillers.back().Connect({kLoopbackAddress, port});
        }
        // The first one must sit in the queue before the queue counts as full.
        EXPECT_EQ(WaitForSocket(fillers[0], kSocketWritable, 2000), 0);
    }
};

// A one-connection peer run by a thread with whatever behaviour a test needs.
struct Peer {
    explicit Peer(std::function<void(Socket&)> serve, int receiveBuffer = 0, int sessions = 1)
        : listener(Listen(4, port, receiveBuffer)),
          thread([this, sessions, serve = std::move(serve)] {
              for (int i = 0; i < sessions; ++i) {
                  Ipv4Endpoint from;
                  Socket::Opened accepted = listener.Accept(from);
                  if (!accepted.socket.Valid()) {
                      return;
                  }
                  serve(accepted.socket);
              }
          }) {}
    ~Peer() { listener.ShutdownBoth(); }  // frees a thread still in accept

    uint16_t port = 0;
    Socket listener;
    std::jthread thread;
};

// Up to `size` bytes, fewer when the peer ends first.
size_t ReadExactly(Socket& socket, uint8_t* buf, size_t size) {
    size_t got = 0;
    while (got < size) {
        const SocketIo n = socket.Receive({buf + got, size - got});
        if (n.error != 0 || n.bytes == 0) {
            break;
        }
        got += static_cast<size_t>(n.bytes);
    }
    return got;
}

// How long `call` took, in milliseconds.
int64_t TimedMs(const std::function<void()>& call) {
    using namespace std::chrono;
    const auto start = steady_clock::now();
    call();
    return duration_cast<milliseconds>(steady_clock::now() - start).count();
}

// ---------------------------------------------------------------- connect

// A scan must never make a printer print, an empty send only connects, and
// small frames arrive exactly.
TEST(NetworkPrinterLinkConnect, ConnectCheckEmptyAndSmallSends) {
    auto printer = StartLoopbackPrinter([](VirtualPrinterConfig& c) { c.keepRaw = true; });
    NetworkPrinterLink link(printer->Port());
    EXPECT_EQ(link.IsConPrinterServer(kLoopback), 1);
    EXPECT_TRUE(printer->GetJournal().WaitForLine("session 1 closed after 0 bytes", kWait));
    EXPECT_EQ(link.SendData(kLoopback, nullptr, 0), 0);
    EXPECT_TRUE(printer->GetJournal().WaitForLine("session 2 closed after 0 bytes", kWait));
    EXPECT_EQ(link.SendData(kLoopback, nullptr, -5) | link.SendData(kLoopback, nullptr, 3), 0);

    const Bytes frame = {0x1D, 0x44, 192, 168, 1, 20, 0x7D};
    EXPECT_EQ(link.SendData(kLoopback, frame.data(), 7), 7);
    // SendData waited for the printer to close, so everything is in.
    EXPECT_EQ(printer->Raw().Bytes(), frame);
    EXPECT_EQ(printer->SessionsOpened(), 3u) << "bad arguments must not connect";
}

// Every call gives its failure value: no connection, no bytes, no status.
void ExpectNothingAnswers(NetworkPrinterLink& link, const char* address = kLoopback) {
    SCOPED_TRACE(address ? address : "nullptr");
    const uint8_t byte = 0x41;
    EXPECT_EQ(link.IsConPrinterServer(address), 0);
    EXPECT_EQ(link.SendData(address, &byte, 1), 0);
    EXPECT_EQ(link.GetStatus(address), -1);
}

// A refused port gives a check and a status reading nothing at once and a
// send nothing at the time-out (it tries again, for a board that was busy),
// a silent address nothing at the time-out, and anything but a dotted IPv4
// address nothing without a connection.
TEST(NetworkPrinterLinkConnect, RefusedSilentOrMalformedGivesNothing) {
    auto printer =
        StartLoopbackPrinter([](VirtualPrinterConfig& c) { c.mode = PrinterMode::kRefuse; });
    NetworkPrinterLink refused(printer->Port());
    refused.SetTimeOut(0, 600);
    const int64_t refusedMs = TimedMs([&] { ExpectNothingAnswers(refused); });
    EXPECT_GE(refusedMs, 500);
    EXPECT_LT(refusedMs, 600 + 400);
    SilentListener silent;
    NetworkPrinterLink link(silent.port);
    for (const int32_t timeoutMs : {150, 450}) {
        link.SetTimeOut(0, timeoutMs);
        const int64_t elapsed = TimedMs([&] { EXPECT_EQ(link.IsConPrinterServer(kLoopback), 0); });
        EXPECT_GE(elapsed, timeoutMs - 20);
        EXPECT_LT(elapsed, timeoutMs + 400);
    }
    ExpectNothingAnswers(link);
    auto live = StartLoopbackPrinter();
    NetworkPrinterLink good(live->Port());
    EXPECT_EQ(good.IsConPrinterServer(kLoopback), 1);
    for (const char* bad : {"", "localhost", "127.0.0", "127.0.0.1.1", "127.0.0.256", "127.0.0.01",
                            " 127.0.0.1", "::1", "0x7f.0.0.1", static_cast<const char*>(nullptr)}) {
        ExpectNothingAnswers(good, bad);
    }
}

// The check waits for the printer's close after ours, but no longer than
// the time-out: a peer that keeps its side open is still a printer server.
TEST(NetworkPrinterLinkConnect, CheckOfAPeerThatKeepsItsSideOpenEndsAtTheTimeOut) {
    std::promise<void> release;
    Peer open([done = release.get_future().share()](Socket&) { done.wait(); });
    NetworkPrinterLink link(open.port);
    link.SetTimeOut(0, 200);
    const int64_t elapsed = TimedMs([&] { EXPECT_EQ(link.IsConPrinterServer(kLoopback), 1); });
    release.set_value();
    EXPECT_GE(elapsed, 180);
    EXPECT_LT(elapsed, 2000);
}

TEST(NetworkPrinterLinkConnect, SetTimeOutWhileSeventeenThreadsConnect) {
    auto printer = StartLoopbackPrinter();
    NetworkPrinterLink link(printer->Port());
    EXPECT_EQ(link.SetTimeOut(2, 500), 1);
    EXPECT_EQ(link.SetTimeOut(0, 0) + link.SetTimeOut(-1, 200), 0) << "non-positive is ignored";
    EXPECT_EQ(link.TimeoutMs(), 2500);
    EXPECT_EQ(link.SetTimeOut(3000000, 0), 1);  // beyond 32 bits of ms: capped, not wrapped
    EXPECT_GT(link.TimeoutMs(), 0);
    constexpr int kCalls = 17 * 12;
    std::atomic<int> answered{0};
    std::latch go(1);
    std::vector<std::jthread> workers;
    for (int t = 0; t < 17; ++t) {
        workers.emplace_back([&] {
            go.wait();
            for (int i = 0; i < 12; ++i) {
                answered += link.IsConPrinterServer(kLoopback);
            }
        });
    }
    go.count_down();
    for (int i = 0; i < 200; ++i) {
        link.SetTimeOut(i % 3, 100 + i);
    }
    link.SetTimeOut(4, 321);
    workers.clear();
    EXPECT_EQ(answered.load(), kCalls);
    EXPECT_EQ(link.TimeoutMs(), 4321);
    // Every call opened its own session.
    EXPECT_TRUE(
        printer->GetJournal().WaitForPrefix("session " + std::to_string(kCalls) + " open", kWait));
}

// ---------------------------------------------------------------- SendData

TEST(NetworkPrinterLinkSend, ShortWritesAreContinuedAndAFailedOneEndsTheCount) {
    auto printer = StartLoopbackPrinter([](VirtualPrinterConfig& c) { c.keepRaw = true; });
    NetworkPrinterLink link(printer->Port());
    // At most 100 bytes a call, and a reset once 1000 have passed.
    int calls = 0;
    size_t passed = 0;
    link.SetSendFunctionForTest([&](Socket& socket, std::span<const uint8_t> bytes) {
        ++calls;
        const SocketIo n = passed >= 1000
                               ? SocketIo{0, ECONNRESET}
                               : socket.Send(bytes.first(std::min<size_t>(bytes.size(), 100)));
        passed += static_cast<size_t>(n.bytes);
        return n;
    });
    Bytes text(4096);
    std::iota(text.begin(), text.end(), uint8_t{0});
    EXPECT_EQ(link.SendData(kLoopback, text.data(), 1000), 1000);
    EXPECT_EQ(calls, 10);
    EXPECT_EQ(printer->Raw().Bytes(), Bytes(text.begin(), text.begin() + 1000));
    passed = 0;
    EXPECT_EQ(link.SendData(kLoopback, text.data(), 4096), 1000);
}

TEST(NetworkPrinterLinkSend, PeerThatResetsOrStopsReadingIsNotFullSuccess) {
    constexpr int32_t kSize = 32 << 20;
    const Bytes data(kSize, 'y');
    {
        Peer reset(
            [](Socket& socket) {
                Bytes buf(64 * 1024);
                ReadExactly(socket, buf.data(), buf.size());
                socket.SetResetOnClose();
            },
            64 * 1024);
        const int32_t sent = NetworkPrinterLink(reset.port).SendData(kLoopback, &data[0], kSize);
        EXPECT_GE(sent, 0);
        EXPECT_LT(sent, kSize);
    }
    std::promise<void> release;
    Peer stalled([done = release.get_future().share()](Socket&) { done.wait(); }, 64 * 1024);
    NetworkPrinterLink link(stalled.port);
    link.SetTimeOut(0, 200);
    int32_t sent = 0;
    const int64_t elapsed = TimedMs([&] { sent = link.SendData(kLoopback, data.data(), kSize); });
    release.set_value();
    EXPECT_GT(sent, 0) << "the kernel buffers took some";
    EXPECT_LT(sent, kSize);
    EXPECT_GE(elapsed, 180);
    EXPECT_LT(elapsed, 2000);
}

TEST(NetworkPrinterLinkSend, PeerThatKeepsItsSideOpenStillGetsEverything) {
    std::promise<void> release;
    std::promise<Bytes> received;
    Peer peer([&received, done = release.get_future().share()](Socket& socket) {
        Bytes buf(16);
        buf.resize(ReadExactly(socket, buf.data(), buf.size()));  // stops at our half-close
        received.set_value(buf);
        done.wait();
    });
    NetworkPrinterLink link(peer.port);
    link.SetTimeOut(0, 200);
    const uint8_t frame[5] = {0x1B, 0x70, 0x00, 0x08, 0x08};
    EXPECT_LT(TimedMs([&] { EXPECT_EQ(link.SendData(kLoopback, frame, 5), 5); }), 2000);
    release.set_value();
    EXPECT_EQ(received.get_future().get(), Bytes(frame, frame + 5));
}

TEST(NetworkPrinterLinkSend, BusyOneSessionPrinterIsNotReportedAsSent) {
#ifdef _WIN32
    // Wine closes a socket set to reset on close with an orderly close when
    // the client's bytes have not arrived yet, so the printer under wine
    // cannot turn a client away as a board does: nothing to tell apart here.
    GTEST_SKIP() << "wine turns the busy printer's reset into an orderly close";
#endif
    auto printer =
        StartLoopbackPrinter([](VirtualPrinterConfig& c) { c.mode = PrinterMode::kOneSession; });
    NetworkPrinterLink link(printer->Port());
    const uint8_t frame[7] = {0x1D, 0x44, 192, 168, 1, 20, 0x7D};
    {
        Socket holder = TcpSocket();
        ASSERT_EQ(holder.Connect({kLoopbackAddress, printer->Port()}), 0);
        ASSERT_TRUE(printer->GetJournal().WaitForPrefix("session 1 open", kWait));
        EXPECT_EQ(link.SendData(kLoopback, frame, 7), 0);
    }
    ASSERT_TRUE(printer->GetJournal().WaitForPrefix("session 1 closed", kWait));
    EXPECT_EQ(link.SendData(kLoopback, frame, 7), 7);
}

// A connection reset before it was handed a byte is made again, and the
// bytes arrive once; once a byte went out, nothing is sent a second time.
TEST(NetworkPrinterLinkSend, OnlyAConnectionResetBeforeItsFirstByteIsMadeAgain) {
    struct Case {
        const char* name;
        int resets;         // connections reset by the fake, one after another
        size_t firstBytes;  // handed over on each such connection before its reset
        int32_t sent;
        uint64_t sessions;
    };
    const Case cases[] = {
        {"one reset before a byte", 1, 0, 64, 2},
        {"three resets before a byte", 3, 0, 64, 4},
        {"a reset after ten bytes", 1, 10, 10, 1},
    };
    Bytes receipt(64);
    std::iota(receipt.begin(), receipt.end(), uint8_t{0x20});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto printer = StartLoopbackPrinter([](VirtualPrinterConfig& v) { v.keepRaw = true; });
        NetworkPrinterLink link(printer->Port());
        int resets = 0;
        size_t passed = 0;  // on the connection now in use
        const Socket* current = nullptr;
        link.SetSendFunctionForTest([&](Socket& socket, std::span<const uint8_t> bytes) {
            if (&socket != current) {
                current = &socket;
                passed = 0;
            }
            if (resets < c.resets && passed >= c.firstBytes) {
                ++resets;
                return SocketIo{0, ECONNRESET};
            }
            const size_t allowed = resets < c.resets ? c.firstBytes - passed : bytes.size();
            const SocketIo n = socket.Send(bytes.first(std::min(bytes.size(), allowed)));
            passed += static_cast<size_t>(std::max<int64_t>(n.bytes, 0));
            return n;
        });
        EXPECT_EQ(link.SendData(kLoopback, receipt.data(), 64), c.sent);
        EXPECT_EQ(resets, c.resets);
        const auto sent = static_cast<size_t>(c.sent);
        ASSERT_TRUE(printer->Raw().WaitForSize(sent, kWait));
        EXPECT_EQ(printer->Raw().Bytes(), Bytes(receipt.begin(), receipt.begin() + c.sent));
        EXPECT_EQ(printer->SessionsOpened(), c.sessions);
    }
}

// Check, then send, a hundred times in a row to a printer that takes one
// session at a time, as the dialog's Print and vorpane-cli do: every
// receipt arrives, each once.
TEST(NetworkPrinterLinkSend, OneSessionPrinterTakesAHundredPrintsInARow) {
    auto printer = StartLoopbackPrinter([](VirtualPrinterConfig& c) {
        c.mode = PrinterMode::kOneSession;
        c.keepRaw = true;
    });
    NetworkPrinterLink link(printer->Port());
    std::string expected;
    int printed = 0;
    for (int i = 0; i < 100; ++i) {
        const std::string receipt = "receipt " + std::to_string(i) + "\n";
        const auto* bytes = reinterpret_cast<const uint8_t*>(receipt.data());
        const auto size = static_cast<int32_t>(receipt.size());
        printed += link.IsConPrinterServer(kLoopback) == 1 &&
                   link.SendData(kLoopback, bytes, size) == size;
        expected += receipt;
    }
    EXPECT_EQ(printed, 100);
    const std::vector<uint8_t> raw = printer->Raw().Bytes();
    EXPECT_EQ(std::string(raw.begin(), raw.end()), expected);
}

// ---------------------------------------------------------------- GetStatus

TEST(NetworkPrinterLinkStatus, MutePrinterGivesMinusOneWithinTheTimeOut) {
    auto mute = StartLoopbackPrinter([](VirtualPrinterConfig& c) { c.mode = PrinterMode::kMute; });
    NetworkPrinterLink link(mute->Port());
    link.SetTimeOut(0, 300);
    const int64_t elapsed = TimedMs([&] { EXPECT_EQ(link.GetStatus(kLoopback), -1); });
    EXPECT_GE(elapsed, 280);
    EXPECT_LT(elapsed, 300 + 400);
}

TEST(NetworkPrinterLinkStatus, PeersThatAnswerOddly) {
    // The answer is sent a byte at a time after the requests.
    // clang-format off
    struct Case { const char* name; Bytes answer; bool closeAfter; int32_t timeoutMs, word; };
    const Case cases[] = {
        // XON, an automatic-status-back group and XOFF before the replies.
        {"noise skipped", {0x11, 0x10, 0, 0, 0x0F, 0x13, 0x1A, 0x32, 0x12, 0x7E}, false, 1000, 0x7E12321A},
        {"three replies of four", {0x12, 0x12, 0x12}, false, 200, -1},
        // Within far less than the time-out: a closed connection gives up at once.
        {"closed before the last reply", {0x12}, true, 5000, -1}};
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Peer peer([&c](Socket& socket) {
            Bytes requests(12);
            requests.resize(ReadExactly(socket, requests.data(), 12));
            EXPECT_EQ(requests, (Bytes{0x10, 4, 1, 0x10, 4, 2, 0x10, 4, 3, 0x10, 4, 4}));
            for (uint8_t byte : c.answer) {
                socket.Send({&byte, 1});
            }
            if (!c.closeAfter) {
                uint8_t rest;
                socket.Receive({&rest, 1});  // until the link closes
            }
        });
        NetworkPrinterLink link(peer.port);
        link.SetTimeOut(0, c.timeoutMs);
        EXPECT_LT(TimedMs([&] { EXPECT_EQ(link.GetStatus(kLoopback), c.word); }),
                  c.closeAfter ? 2500 : c.timeoutMs + 400);
    }
}

// ---------------------------------------------------------------- ReadStatus

// A stop ends a reading that waits for a silent peer well before its 10 s
// time-out, and every later reading at once.
TEST(NetworkPrinterLinkStopReadings, EndsTheWaitsOfBothReadings) {
    struct Case {
        const char* name;
        std::function<StatusOutcome(NetworkPrinterLink&)> read;
    };
    const Case cases[] = {
        {"status", [](auto& link) { return link.ReadStatus(kLoopback).outcome; }},
        {"identity", [](auto& link) { return link.ReadIdentity(kLoopback).outcome; }}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::promise<void> asked;
        Peer peer([&asked](Socket& socket) {
            std::array<uint8_t, 64> requests;
            socket.Receive(requests);
            asked.set_value();
            while (socket.Receive(requests).bytes > 0) {  // until the link closes
            }
        });
        NetworkPrinterLink link(peer.port);
        link.SetTimeOut(10, 0);
        auto reading = std::async(std::launch::async, [&] { return c.read(link); });
        ASSERT_EQ(asked.get_future().wait_for(kWait), std::future_status::ready);
        link.StopReadings();
        ASSERT_EQ(reading.wait_for(1s), std::future_status::ready);
        EXPECT_EQ(reading.get(), StatusOutcome::kStopped);
        EXPECT_LT(TimedMs([&] { EXPECT_EQ(c.read(link), StatusOutcome::kStopped); }), 500);
    }
}

// One session: the four requests in one write, then exactly four replies of
// the DLE EOT form, or the outcome that says why not.
TEST(NetworkPrinterLinkReadStatus, OutcomeOfEachKindOfPeer) {
    using Four = std::array<uint8_t, 4>;
    enum class End { kWait, kClose, kReset };
    // clang-format off
    struct Case { const char* name; Bytes answer; End end; StatusOutcome outcome; Four replies; };
    const Case cases[] = {
        {"four replies", {0x1A, 0x32, 0x12, 0x7E}, End::kWait, StatusOutcome::kAnswered, {0x1A, 0x32, 0x12, 0x7E}},
        // XON where a reply belongs is no reply: nothing is decoded from it.
        {"XON first", {0x11, 0x12, 0x12, 0x12}, End::kWait, StatusOutcome::kBadReply, {0x11, 0x12, 0x12, 0x12}},
        {"bit 7 set", {0x12, 0x12, 0x92, 0x12}, End::kWait, StatusOutcome::kBadReply, {0x12, 0x12, 0x92, 0x12}},
        {"closed after two", {0x12, 0x12}, End::kClose, StatusOutcome::kReset, {0x12, 0x12, 0, 0}},
        {"reset at once", {}, End::kReset, StatusOutcome::kReset, {}},
        {"three then silence", {0x12, 0x12, 0x12}, End::kWait, StatusOutcome::kTimedOut, {0x12, 0x12, 0x12, 0}}};
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::promise<size_t> firstRead;
        std::promise<void> linkDone;
        int served = 0;
        // Wine ends a connection meant to be reset with an orderly close now
        // and then, which the link reads again the long way: reset that too.
        const int sessions = c.end == End::kReset ? 2 : 1;
        Peer peer(
            [&c, &firstRead, &served, done = linkDone.get_future().share()](Socket& socket) {
                if (served++ > 0) {
                    socket.SetResetOnClose();
                    return;
                }
                Bytes requests(12);
                const SocketIo first = socket.Receive(requests);
                firstRead.set_value(static_cast<size_t>(first.bytes));
                if (c.end == End::kReset) {
                    socket.SetResetOnClose();
                    return;
                }
                socket.Send(c.answer);
                if (c.end == End::kWait) {
                    done.wait_for(kWait);  // our end comes early: held until the reading ends
                }
            },
            0, sessions);
        NetworkPrinterLink link(peer.port);
        link.SetTimeOut(0, 300);
        StatusReading reading;
        const int64_t elapsed = TimedMs([&] { reading = link.ReadStatus(kLoopback); });
        linkDone.set_value();
        if (sessions > 1) {
            // A session the reading did not open ends the peer's accepts: a
            // listener shut down wakes accept on Linux only.
            TcpSocket().Connect({kLoopbackAddress, peer.port});
        }
        EXPECT_EQ(reading.outcome, c.outcome) << StatusOutcomeText(reading.outcome);
        EXPECT_EQ(reading.replies, c.replies);
        EXPECT_EQ(firstRead.get_future().get(), 12u) << "the requests in one write";
        EXPECT_LT(elapsed, c.outcome == StatusOutcome::kTimedOut ? 700 : 250);
        EXPECT_LE(reading.held.count(), elapsed * 1000 + 1000);
    }
    auto closed =
        StartLoopbackPrinter([](VirtualPrinterConfig& cfg) { cfg.mode = PrinterMode::kRefuse; });
    EXPECT_EQ(NetworkPrinterLink(closed->Port()).ReadStatus(kLoopback).outcome,
              StatusOutcome::kRefused);
    // A one-session printer resets a second client right after the accept.
    auto busy = StartLoopbackPrinter(
        [](VirtualPrinterConfig& cfg) { cfg.mode = PrinterMode::kOneSession; });
    Socket holder = TcpSocket();
    ASSERT_EQ(holder.Connect({kLoopbackAddress, busy->Port()}), 0);
    ASSERT_TRUE(busy->GetJournal().WaitForPrefix("session 1 open", kWait));
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(NetworkPrinterLink(busy->Port()).ReadStatus(kLoopback).outcome,
                  StatusOutcome::kReset);
    }
    SilentListener silent;
    NetworkPrinterLink quiet(silent.port);
    quiet.SetTimeOut(0, 200);
    EXPECT_EQ(quiet.ReadStatus(kLoopback).outcome, StatusOutcome::kTimedOut);
    for (const char* bad : {"", "127.0.0.256", static_cast<const char*>(nullptr)}) {
        EXPECT_EQ(quiet.ReadStatus(bad).outcome, StatusOutcome::kBadAddress);
    }
}

// GS I texts where they are answered, else the ids of GS I 1-3 in a second
// session; a text out of form is dropped, and the whole stays in the time-out.
TEST(NetworkPrinterLinkReadIdentity, TextsIdsAndBadAnswers) {
    // What the peer sends for each GS I n it reads; none: silence.
    using Answers = std::map<uint8_t, std::string>;
    struct Case {
        const char* name;
        Answers answers;
        StatusOutcome outcome;
        PrinterIdentityTexts texts;
    };
    const std::string tooLong = "_" + std::string(kMaxIdentityText + 1, 'x') + std::string(1, '\0');
    const Case cases[] = {
        {"all four",
         {{66, std::string("_Acme\0", 6)},
          {67, std::string("_TM-1\0", 6)},
          {65, std::string("_2.1\0", 5)},
          {68, std::string("_S9\0", 4)}},
         StatusOutcome::kAnswered,
         {"Acme", "TM-1", "2.1", "S9"}},
        {"no serial",
         {{66, std::string("_Acme\0", 6)},
          {67, std::string("_TM-1\0", 6)},
          {65, std::string("_2.1\0", 5)}},
         StatusOutcome::kAnswered,
         {"Acme", "TM-1", "2.1", ""}},
        {"ids only",
         {{1, "\x20"}, {2, "\x03"}, {3, "\x0F"}},
         StatusOutcome::kAnswered,
         {"", "0x20", "0x0F", ""}},
        {"control byte in the maker",
         {{66, std::string("_Ac\x1Bme\0", 8)}},
         StatusOutcome::kBadReply,
         {}},
        {"endless maker", {{66, tooLong}}, StatusOutcome::kBadReply, {}},
        {"nothing at all", {}, StatusOutcome::kTimedOut, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        uint16_t port = 0;
        Socket listener = Listen(4, port);
        std::jthread serve([&] {
            for (int session = 0; session < 2; ++session) {
                Ipv4Endpoint from;
                Socket::Opened accepted = listener.Accept(from);
                if (!accepted.socket.Valid()) {
                    return;
                }
                for (;;) {
                    std::array<uint8_t, 3> request{};
                    if (ReadExactly(accepted.socket, request.data(), 3) < 3) {
                        break;
                    }
                    const auto answer = c.answers.find(request[2]);
                    if (answer != c.answers.end()) {
                        accepted.socket.Send(
                            {reinterpret_cast<const uint8_t*>(answer->second.data()),
                             answer->second.size()});
                    }
                }
            }
        });
        NetworkPrinterLink link(port);
        link.SetTimeOut(0, 400);
        IdentityReading reading;
        const int64_t elapsed = TimedMs([&] { reading = link.ReadIdentity(kLoopback); });
        // Sessions the reading did not open end the server's accepts: a
        // listener shut down wakes accept on Linux only.
        for (int session = 0; session < 2; ++session) {
            TcpSocket().Connect({kLoopbackAddress, port});
        }
        EXPECT_EQ(reading.outcome, c.outcome) << StatusOutcomeText(reading.outcome);
        EXPECT_EQ(reading.texts, c.texts);
        EXPECT_LT(elapsed, 400 + 200);
    }
}

// Each documented bit, alone, names its condition and no other.
TEST(StatusDecode, EachBitNamesOneCondition) {
    using Field = bool StatusConditions::*;
    const std::tuple<size_t, uint8_t, Field> bits[] = {
        {0, 0x04, &StatusConditions::drawerPin3High},
        {0, 0x08, &StatusConditions::offline},
        {0, 0x20, &StatusConditions::waitingRecovery},
        {0, 0x40, &StatusConditions::feedButton},
        {1, 0x04, &StatusConditions::coverOpen},
        {1, 0x08, &StatusConditions::paperFedByButton},
        {1, 0x20, &StatusConditions::paperEndStop},
        {1, 0x40, &StatusConditions::errorOccurred},
        {2, 0x04, &StatusConditions::mechanicalError},
        {2, 0x08, &StatusConditions::cutterError},
        {2, 0x20, &StatusConditions::unrecoverableError},
        {2, 0x40, &StatusConditions::autoRecoverableError},
        {3, 0x04, &StatusConditions::paperNearEnd},
        {3, 0x08, &StatusConditions::paperNearEnd},
        {3, 0x20, &StatusConditions::paperEnd},
        {3, 0x40, &StatusConditions::paperEnd}};
    EXPECT_EQ(DecodeStatus({0x12, 0x12, 0x12, 0x12}), StatusConditions{});
    for (const auto& [reply, bit, field] : bits) {
        std::array<uint8_t, 4> replies = {0x12, 0x12, 0x12, 0x12};
        replies[reply] |= bit;
        StatusConditions expected;
        expected.*field = true;
        EXPECT_EQ(DecodeStatus(replies), expected) << reply << " " << int{bit};
        EXPECT_TRUE(IsStatusReply(replies[reply]));
        EXPECT_EQ(RepliesOfWord(StatusWord(replies)), replies);
    }
    for (const uint8_t notReply : {0x00, 0x11, 0x13, 0x92, 0x02, 0x10, 0xFF}) {
        EXPECT_FALSE(IsStatusReply(notReply)) << int{notReply};
    }
}

// ---------------------------------------------------------------- SendConfirmed

// The job, its process ID's frame and DLE EOT 1, 2 and 4 go out; only the
// job's own ID answered in full says it printed, and while it is awaited
// the replies name what stops printing.
TEST(NetworkPrinterLinkSendConfirmed, OnlyItsOwnIdOrAStoppingConditionEndsTheWait) {
    const std::array<uint8_t, 4> id = {'0', '4', '2', '7'};
    const Bytes ours{0x37, 0x22, '0', '4', '2', '7', 0};
    // clang-format off
    struct Case { const char* name; Bytes answer; ConfirmResult result; };
    const Case cases[] = {
        {"its own ID", ours, ConfirmResult::kPrinted},
        {"on-line replies, then its ID", {0x16, 0x12, 0x12, 0x37, 0x22, '0', '4', '2', '7', 0}, ConfirmResult::kPrinted},
        {"another job's ID, then its own", {0x37, 0x22, '9', '9', '9', '9', 0, 0x37, 0x22, '0', '4', '2', '7', 0}, ConfirmResult::kPrinted},
        {"another job's ID only", {0x37, 0x22, '0', '4', '2', '8', 0}, ConfirmResult::kNoAnswer},
        {"its ID without the NUL", {0x37, 0x22, '0', '4', '2', '7', 1}, ConfirmResult::kNoAnswer},
        {"on-line and silent", {0x16, 0x12, 0x12}, ConfirmResult::kNoAnswer},
        {"off-line, paper end", {0x1E, 0x12, 0x72}, ConfirmResult::kPaperEnd},
        {"off-line, stopped by paper end", {0x1E, 0x32, 0x12}, ConfirmResult::kPaperEnd},
        {"off-line, cover open", {0x1E, 0x16, 0x12}, ConfirmResult::kCoverOpen},
        {"off-line, no cause given", {0x1E, 0x12, 0x12}, ConfirmResult::kOffline}};
    // clang-format on
    const Bytes job{'T', 'o', 't', 'a', 'l', '\n'};
    Bytes expected = job;
    const Bytes after{0x1D, 0x28, 0x48, 6, 0,    0x30, 0x30, '0',  '4', '2',
                      '7',  0x10, 4,    1, 0x10, 4,    2,    0x10, 4,   4};
    expected.insert(expected.end(), after.begin(), after.end());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::promise<Bytes> received;
        std::promise<void> linkDone;
        Peer peer([&c, &received, &expected, done = linkDone.get_future().share()](Socket& socket) {
            Bytes got(expected.size());
            got.resize(ReadExactly(socket, got.data(), got.size()));
            received.set_value(got);
            socket.Send(c.answer);
            done.wait_for(kWait);
        });
        NetworkPrinterLink link(peer.port);
        link.SetTimeOut(0, 300);
        ConfirmOutcome outcome;
        const int64_t elapsed = TimedMs(
            [&] { outcome = link.SendConfirmed(kLoopback, job.data(), int32_t(job.size()), id); });
        linkDone.set_value();
        EXPECT_EQ(outcome.result, c.result);
        EXPECT_EQ(outcome.sent, static_cast<int32_t>(job.size()));
        EXPECT_EQ(received.get_future().get(), expected);
        EXPECT_LT(elapsed, c.result == ConfirmResult::kNoAnswer ? 800 : 250);
    }
    SilentListener silent;
    NetworkPrinterLink quiet(silent.port);
    EXPECT_EQ(quiet.SendConfirmed(kLoopback, job.data(), int32_t(job.size()), {'0', '0', '0', 'x'})
                  .result,
              ConfirmResult::kNotSent)
        << "an ID that is not four digits is never sent";
}

// ---------------------------------------------------------------- SharedStatusReader

// Answers ReadStatus from a script, its last entry for ever; a closed gate
// holds every call until it opens.
class ScriptedLink final : public PrinterLink {
public:
    explicit ScriptedLink(std::vector<StatusOutcome> script) : m_script(std::move(script)) {}
    int32_t SetTimeOut(int32_t, int32_t) override { return 1; }
    int32_t IsConPrinterServer(const char*) override { return 1; }
    int32_t GetStatus(const char*) override { return -1; }
    int32_t SendData(const char*, const uint8_t*, int32_t) override { return 0; }
    StatusReading ReadStatus(const char*) override {
        std::unique_lock lock(m_mutex);
        ++m_entered;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return m_open; });
        const StatusOutcome outcome = m_script[std::min(m_calls++, m_script.size() - 1)];
        const uint8_t mark = static_cast<uint8_t>(0x12 | (m_calls << 2 & 0x0C));
        return {outcome, {mark, 0x12, 0x12, 0x12}, {}};
    }
    void Close() {
        std::lock_guard lock(m_mutex);
        m_open = false;
    }
    void Open() {
        std::lock_guard lock(m_mutex);
        m_open = true;
        m_changed.notify_all();
    }
    bool WaitForEntered(size_t n) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, kWait, [&] { return m_entered >= n; });
    }
    size_t Calls() {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<StatusOutcome> m_script;
    size_t m_calls = 0;
    size_t m_entered = 0;
    bool m_open = true;
};

const Ipv4Address kPrinter = Ipv4Address::FromHostOrder(0xC0000205);

TEST(SharedStatusReader, ConcurrentReadersShareOneReadingAndTheIntervalHoldsTheNext) {
    ScriptedLink link({StatusOutcome::kAnswered});
    SharedStatusReader reader(link, 1000, std::chrono::hours(1));
    link.Close();
    std::vector<std::future<SharedStatus>> readers;
    readers.push_back(std::async(std::launch::async, [&] { return reader.Read(kPrinter); }));
    ASSERT_TRUE(link.WaitForEntered(1));
    for (int i = 0; i < 7; ++i) {
        readers.push_back(std::async(std::launch::async, [&] { return reader.Read(kPrinter); }));
    }
    link.Open();
    int opened = 0;
    for (auto& future : readers) {
        const SharedStatus status = future.get();
        EXPECT_TRUE(status.Up());
        EXPECT_EQ(status.reading.replies[0], 0x16);  // the first call's
        opened += status.attempts;
    }
    EXPECT_EQ(opened, 1);
    // Within the interval: the same reading again, no session.
    EXPECT_EQ(reader.Read(kPrinter).attempts, 0);
    EXPECT_EQ(link.Calls(), 1u);
    EXPECT_EQ(reader.Sessions(), 1u);
    // Another printer has its own.
    EXPECT_EQ(reader.Read(Ipv4Address::FromHostOrder(0xC0000206)).attempts, 1);

    SharedStatusReader eager(link, 1000, std::chrono::milliseconds(0));
    EXPECT_EQ(eager.Read(kPrinter).attempts + eager.Read(kPrinter).attempts, 2);
}

// The identity is asked once, with the first on-line answer: never of a
// printer that says it is off-line (GS I waits in its receive buffer).
TEST(SharedStatusReader, IdentityIsAskedOnceTheFirstTimeThePrinterIsOnLine) {
    ConditionSet offline;
    offline.Add(Condition::kOffline);
    auto printer = StartLoopbackPrinter([&](VirtualPrinterConfig& c) { c.conditions = offline; });
    NetworkPrinterLink link(printer->Port());
    SharedStatusReader reader(link, 1000, std::chrono::milliseconds(0));
    const auto asked = [&] {
        const std::vector<std::string> lines = printer->GetJournal().Lines();
        return std::count_if(lines.begin(), lines.end(),
                             [](const std::string& line) { return line.starts_with("GS I 66"); });
    };
    const SharedStatus off = reader.Read(Ipv4Address::FromHostOrder(kLoopbackAddress));
    ASSERT_TRUE(off.reading.Answered());
    EXPECT_EQ(off.identity.maker, "");
    printer->SetConditions({});
    for (int i = 0; i < 3; ++i) {
        const SharedStatus on = reader.Read(Ipv4Address::FromHostOrder(kLoopbackAddress));
        EXPECT_EQ(on.identity.maker, "Vorpane");
        EXPECT_EQ(on.identity.model, "VP-80 virtual");
    }
    EXPECT_EQ(asked(), 1);
}

// Held by another client: tried again within the time-out, then in use with
// the conditions last read; a refusal from a printer never heard is no such
// thing.
TEST(SharedStatusReader, ResetsAndRefusalsAfterAnAnswerAreInUseNeverDown) {
    using O = StatusOutcome;
    struct Case {
        const char* name;
        std::vector<O> script;  // the first entry is a reading of its own
        bool up, inUse, known;
        int minAttempts;
    };
    const Case cases[] = {
        {"reset twice, then answered",
         {O::kAnswered, O::kReset, O::kReset, O::kAnswered},
         true,
         false,
         true,
         3},
        {"refused after an answer", {O::kAnswered, O::kRefused}, true, true, true, 2},
        {"reset after an answer", {O::kAnswered, O::kReset}, true, true, true, 2},
        {"refused, never heard", {O::kRefused, O::kRefused}, false, false, false, 1},
        {"reset, never heard", {O::kReset, O::kReset}, true, true, false, 2},
        {"timed out after an answer", {O::kAnswered, O::kTimedOut}, false, false, false, 1},
        {"bad reply after an answer", {O::kAnswered, O::kBadReply}, false, false, false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedLink link(c.script);
        SharedStatusReader reader(link, 300, std::chrono::milliseconds(0));
        const SharedStatus first = reader.Read(kPrinter);
        const int64_t elapsed = TimedMs([&] {
            const SharedStatus status = reader.Read(kPrinter);
            EXPECT_EQ(status.Up(), c.up);
            EXPECT_EQ(status.inUse, c.inUse);
            EXPECT_EQ(status.known, c.known);
            EXPECT_GE(status.attempts, c.minAttempts);
            if (status.inUse && status.known) {
                EXPECT_EQ(status.reading.replies, first.reading.replies) << "the last answer";
            }
        });
        EXPECT_LT(elapsed, 300 + 200) << "within the time-out";
    }
}

// Our end of the connection comes right after the requests, so that the
// printer can close as soon as it has answered: a printer that answers only
// once it has seen our end is read in one session, and one that ends the
// session at our end without a word is read again the long way.
TEST(NetworkPrinterLinkReadStatus, OurEndFollowsTheRequests) {
    const Bytes answer{0x16, 0x12, 0x12, 0x12};
    for (const bool silentAtOurEnd : {false, true}) {
        SCOPED_TRACE(silentAtOurEnd ? "silent at our end" : "answers after our end");
        uint16_t port = 0;
        Socket listener = Listen(4, port);
        std::atomic<int> sessions{0};
        std::jthread peer([&] {
            for (int i = 0; i < 2; ++i) {
                Ipv4Endpoint from;
                Socket::Opened accepted = listener.Accept(from);
                if (!accepted.socket.Valid()) {
                    return;
                }
                Socket& socket = accepted.socket;
                Bytes requests(12);
                if (ReadExactly(socket, requests.data(), requests.size()) < requests.size()) {
                    return;  // woken at the end
                }
                ++sessions;
                socket.SetReceiveTimeout(silentAtOurEnd ? 300 : 5000);
                uint8_t more = 0;
                const SocketIo end = socket.Receive({&more, 1});
                const bool ended = end.error == 0 && end.bytes == 0;
                if (!(silentAtOurEnd && ended)) {
                    socket.Send(answer);
                    socket.Receive({&more, 1});  // until the link closes
                }
            }
        });
        NetworkPrinterLink link(port);
        link.SetTimeOut(0, 2000);
        const StatusReading reading = link.ReadStatus(kLoopback);
        EXPECT_EQ(reading.outcome, StatusOutcome::kAnswered) << StatusOutcomeText(reading.outcome);
        EXPECT_EQ(reading.replies, (std::array<uint8_t, 4>{0x16, 0x12, 0x12, 0x12}));
        // Wakes an accept still waiting: shutting the listener down does so
        // on Linux only.
        TcpSocket().Connect({kLoopbackAddress, port});
        peer.join();
        EXPECT_EQ(sessions.load(), silentAtOurEnd ? 2 : 1);
    }
}

// A one-session printer, a POS-like client printing job after job, and
// status read 20 times a second from four threads: the printer is never
// reported down, and every job is printed exactly once. A reading that
// holds the printer when the POS connects costs that connection (the board
// resets it unread), which no reader can rule out; the POS sends such a
// job again, as one does on a failed send, and the count of those is shown.
TEST(SharedStatusReader, StatusReadsNeverCostASale) {
    auto printer = StartLoopbackPrinter([](VirtualPrinterConfig& c) {
        c.mode = PrinterMode::kOneSession;
        c.keepRaw = true;
    });
    NetworkPrinterLink statusLink(printer->Port());
    statusLink.SetTimeOut(0, 1000);
    SharedStatusReader reader(statusLink, 1000, std::chrono::milliseconds(1000));
    std::atomic<bool> done{false};
    std::atomic<int> down{0};
    std::atomic<int> inUse{0};
    std::atomic<int> readings{0};
    std::vector<std::jthread> watchers;
    for (int t = 0; t < 4; ++t) {
        watchers.emplace_back([&] {
            std::mutex mutex;
            std::condition_variable never;
            std::unique_lock lock(mutex);
            while (!done.load()) {
                const SharedStatus status =
                    reader.Read(Ipv4Address::FromHostOrder(kLoopbackAddress));
                ++readings;
                down += status.Up() ? 0 : 1;
                inUse += status.inUse ? 1 : 0;
                never.wait_for(lock, 200ms, [&] { return done.load(); });
            }
        });
    }
    constexpr int kJobs = 60;
    NetworkPrinterLink pos(printer->Port());
    const Bytes job(8 * 1024, 'r');
    int printed = 0;
    int resent = 0;
    std::mutex mutex;
    std::condition_variable never;
    std::unique_lock lock(mutex);
    for (int i = 0; i < kJobs; ++i) {
        // A sale every 20 ms or so: the test spans several readings.
        never.wait_for(lock, 20ms, [] { return false; });
        for (int attempt = 0; attempt < 5; ++attempt) {
            if (pos.SendData(kLoopback, job.data(), static_cast<int32_t>(job.size())) ==
                static_cast<int32_t>(job.size())) {
                ++printed;
                break;
            }
            ++resent;
        }
    }
    done = true;
    watchers.clear();
    const Bytes raw = printer->Raw().Bytes();
    EXPECT_EQ(printed, kJobs);
    EXPECT_EQ(static_cast<size_t>(std::count(raw.begin(), raw.end(), 'r')), kJobs * job.size());
    EXPECT_EQ(down.load(), 0);
    EXPECT_GT(readings.load(), 0);
    std::printf("jobs %d of %d (%d sent again), readings %d, in use %d, sessions %llu\n", printed,
                kJobs, resent, readings.load(), inUse.load(),
                static_cast<unsigned long long>(reader.Sessions()));
}

// The five tests read the condition bits of a word that was read, none of a
// negative one (the off-line result).
TEST(NetworkPrinterLinkStatus, TestsAnswerNoForTheOfflineResult) {
    NetworkPrinterLink link;
    for (auto test : {&PrinterLink::IsCoverOpen, &PrinterLink::IsBusy, &PrinterLink::IsTempOver,
                      &PrinterLink::IsPause, &PrinterLink::IsPaperEnd}) {
        EXPECT_EQ((link.*test)(-1), 0);
        EXPECT_EQ((link.*test)(0x7FFFFFFF), 1);
    }
}

// GS a answers at once and again, unasked, at each change of the conditions:
// the serving thread hears of a change through its waker, which must be
// drained to hear of the next one.
TEST(NetworkPrinterLinkStatus, AutomaticStatusBackFollowsTheConditions) {
    auto printer = StartLoopbackPrinter();
    Socket client = TcpSocket();
    ASSERT_EQ(client.Connect({kLoopbackAddress, printer->Port()}), 0);
    client.SetReceiveTimeout(static_cast<int32_t>(kWait / 1ms));
    const auto next = [&client] {
        std::array<uint8_t, 4> status{};
        EXPECT_EQ(ReadExactly(client, status.data(), status.size()), status.size());
        return status;
    };
    const Bytes request{0x1D, 'a', 0x0F};
    ASSERT_EQ(client.Send(request).bytes, 3);
    EXPECT_EQ(next(), AutomaticStatus({}));
    ConditionSet set;
    for (const Condition c : {Condition::kDrawer, Condition::kCoverOpen, Condition::kPaperEnd}) {
        set.Add(c);
        printer->SetConditions(set);
        EXPECT_EQ(next(), AutomaticStatus(set)) << set.bits;
    }
}

}  // namespace
}  // namespace vorpane
