// NetworkPrinterLink against the virtual printer and small hand-made peers,
// all on loopback with ports the system picks.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <random>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "loopback_printer.h"

#include "emulator/virtual_printer.h"
#include "net/unique_fd.h"
#include "printer_link/network_printer_link.h"

namespace vorpane {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr const char* kLoopback = "127.0.0.1";
constexpr auto kWait = 5s;

uint16_t PortOf(int fd) {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    return ntohs(addr.sin_port);
}

// A listening socket on 127.0.0.1 with a port the system picks.
UniqueFd Listen(int backlog, uint16_t& port, int receiveBuffer = 0) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (receiveBuffer > 0) {
        // Inherited by the accepted socket; keeps the kernel's share small.
        ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    sockaddr_in addr = LoopbackAddress(0);
    EXPECT_EQ(::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    EXPECT_EQ(::listen(fd.get(), backlog), 0);
    port = PortOf(fd.get());
    return fd;
}

// A loopback listener whose accept queue is full: further SYNs are dropped,
// so a connect neither succeeds nor fails, like an address where nobody
// answers.
struct SilentListener {
    uint16_t port = 0;
    UniqueFd listener = Listen(0, port);
    std::vector<UniqueFd> fillers;

    SilentListener() {
        const sockaddr_in addr = LoopbackAddress(port);
        for (int i = 0; i < 2; ++i) {
            UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
            ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
            if (i == 0) {
                // The first one must sit in the queue before the queue counts as full.
                pollfd p{fd.get(), POLLOUT, 0};
                EXPECT_EQ(::poll(&p, 1, 2000), 1);
            }
            fillers.push_back(std::move(fd));
        }
    }
};

// A one-connection peer run by a thread with whatever behaviour a test needs.
class Peer {
public:
    explicit Peer(std::function<void(int fd)> serve, int receiveBuffer = 0)
        : m_listener(Listen(4, m_port, receiveBuffer)), m_thread([this, serve = std::move(serve)] {
              UniqueFd fd(::accept(m_listener.get(), nullptr, nullptr));
              if (fd.valid()) {
                  serve(fd.get());
              }
          }) {}
    ~Peer() {
        ::shutdown(m_listener.get(), SHUT_RDWR);  // frees a thread still in accept
        m_thread.join();
    }
    uint16_t port() const { return m_port; }

private:
    uint16_t m_port = 0;
    UniqueFd m_listener;
    std::thread m_thread;
};

size_t ReadExactly(int fd, uint8_t* buf, size_t size) {
    size_t got = 0;
    while (got < size) {
        const ssize_t n = ::recv(fd, buf + got, size - got, 0);
        if (n <= 0) {
            break;
        }
        got += static_cast<size_t>(n);
    }
    return got;
}

// The close that follows sends a reset instead of an orderly end.
void ResetOnClose(int fd) {
    const linger abort{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
}

uint64_t Fnv1a(const uint8_t* data, size_t size, uint64_t hash = 14695981039346656037ull) {
    for (size_t i = 0; i < size; ++i) {
        hash = (hash ^ data[i]) * 1099511628211ull;
    }
    return hash;
}

int64_t ElapsedMs(Clock::time_point since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
}

// ---------------------------------------------------------------- fd owner

bool IsOpen(int fd) {
    return ::fcntl(fd, F_GETFD) != -1;
}

TEST(UniqueFd, ClosesExactlyOnceWhateverMovesHappen) {
    int raw = -1;
    {
        UniqueFd a(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        raw = a.get();
        ASSERT_TRUE(a.valid());
        UniqueFd b(std::move(a));
        EXPECT_FALSE(a.valid());
        EXPECT_EQ(b.get(), raw);
        UniqueFd c;
        c = std::move(b);
        auto& alias = c;
        c = std::move(alias);  // self-move keeps the descriptor
        EXPECT_EQ(c.get(), raw);
        EXPECT_TRUE(IsOpen(raw));
    }
    EXPECT_FALSE(IsOpen(raw));

    UniqueFd d(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int kept = d.release();
    EXPECT_FALSE(d.valid());
    EXPECT_TRUE(IsOpen(kept));
    UniqueFd e(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int replaced = e.get();
    e.reset(kept);
    EXPECT_FALSE(IsOpen(replaced));
    EXPECT_EQ(e.get(), kept);
}

// ---------------------------------------------------------------- connect

// A scan must never make a printer print, an empty send only connects, and
// small frames arrive exactly.
TEST(NetworkPrinterLinkConnect, ConnectCheckEmptyAndSmallSends) {
    auto printer = StartLoopbackPrinter([](VirtualPrinterConfig& c) { c.keepRaw = true; });
    Journal& journal = printer->GetJournal();
    NetworkPrinterLink link(printer->Port());
    EXPECT_EQ(link.IsConPrinterServer(kLoopback), 1);
    EXPECT_TRUE(journal.WaitForLine("session 1 closed after 0 bytes", kWait));
    EXPECT_EQ(link.SendData(kLoopback, nullptr, 0), 0);
    EXPECT_TRUE(journal.WaitForLine("session 2 closed after 0 bytes", kWait));
    EXPECT_EQ(link.SendData(kLoopback, nullptr, -5), 0);
    EXPECT_EQ(link.SendData(kLoopback, nullptr, 3), 0);

    const std::vector<uint8_t> frame = {0x1D, 0x44, 192, 168, 1, 20, 0x7D};
    EXPECT_EQ(link.SendData(kLoopback, frame.data(), 7), 7);
    // SendData waited for the printer to close, so everything is in.
    EXPECT_EQ(printer->Raw().Bytes(), frame);
    EXPECT_EQ(printer->SessionsOpened(), 3u) << "bad arguments must not connect";
    EXPECT_TRUE(journal.WaitForLine(
        "GS D new address 192.168.1.20 (checksum ok, pending until restart)", kWait));
}

// Every call gives its failure value: no connection, no bytes, no status.
void ExpectNothingAnswers(NetworkPrinterLink& link, const char* address = kLoopback) {
    SCOPED_TRACE(address ? address : "nullptr");
    const uint8_t byte = 0x41;
    EXPECT_EQ(link.IsConPrinterServer(address), 0);
    EXPECT_EQ(link.SendData(address, &byte, 1), 0);
    EXPECT_EQ(link.GetStatus(address), -1);
}

TEST(NetworkPrinterLinkConnect, RefusedPortGivesNothingAtOnce) {
    auto printer =
        StartLoopbackPrinter([](VirtualPrinterConfig& c) { c.mode = PrinterMode::kRefuse; });
    NetworkPrinterLink link(printer->Port());
    link.SetTimeOut(5, 0);
    const auto start = Clock::now();
    ExpectNothingAnswers(link);
    EXPECT_LT(ElapsedMs(start), 2500) << "a refusal must not wait for the time-out";
}

TEST(NetworkPrinterLinkConnect, SilentAddressEndsAtTheTimeOut) {
    SilentListener silent;
    NetworkPrinterLink link(silent.port);
    for (const int32_t timeoutMs : {150, 450}) {
        link.SetTimeOut(0, timeoutMs);
        const auto start = Clock::now();
        EXPECT_EQ(link.IsConPrinterServer(kLoopback), 0);
        const int64_t elapsed = ElapsedMs(start);
        EXPECT_GE(elapsed, timeoutMs - 20);
        EXPECT_LT(elapsed, timeoutMs + 400);
    }
    link.SetTimeOut(0, 150);
    ExpectNothingAnswers(link);
}

TEST(NetworkPrinterLinkConnect, AddressTextMustBeDottedIpv4) {
    auto printer = StartLoopbackPrinter();
    NetworkPrinterLink link(printer->Port());
    EXPECT_EQ(link.IsConPrinterServer(kLoopback), 1);
    for (const char* bad :
         {"", "localhost", "127.0.0", "127.0.0.1.1", "127.0.0.256", "127.0.0.01", " 127.0.0.1",
          "127.0.0.1 ", "::1", "0x7f.0.0.1", static_cast<const char*>(nullptr)}) {
        ExpectNothingAnswers(link, bad);
    }
}

TEST(NetworkPrinterLinkConnect, TimeOutDefaultsToOneSecondAndIgnoresNonPositive) {
    NetworkPrinterLink link;
    EXPECT_EQ(link.Port(), 9100);
    EXPECT_EQ(link.TimeoutMs(), 1000);
    EXPECT_EQ(link.SetTimeOut(2, 500), 1);
    EXPECT_EQ(link.TimeoutMs(), 2500);
    EXPECT_EQ(link.SetTimeOut(0, 0), 0);
    EXPECT_EQ(link.SetTimeOut(-1, 200), 0);
    EXPECT_EQ(link.TimeoutMs(), 2500);
    EXPECT_EQ(link.SetTimeOut(3000000, 0), 1);  // beyond 32 bits of ms: capped, not wrapped
    EXPECT_GT(link.TimeoutMs(), 0);
}

TEST(NetworkPrinterLinkConnect, SetTimeOutWhileSeventeenThreadsConnect) {
    auto printer = StartLoopbackPrinter();
    NetworkPrinterLink link(printer->Port());
    constexpr int kThreads = 17;
    constexpr int kCallsEach = 12;
    std::atomic<int> answered{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([&] {
            while (!go.load()) {
                std::this_thread::yield();
            }
            for (int i = 0; i < kCallsEach; ++i) {
                answered += link.IsConPrinterServer(kLoopback);
            }
        });
    }
    go = true;
    for (int i = 0; i < 200; ++i) {
        link.SetTimeOut(i % 3, 100 + i);
    }
    link.SetTimeOut(4, 321);
    for (auto& w : workers) {
        w.join();
    }
    EXPECT_EQ(answered.load(), kThreads * kCallsEach);
    EXPECT_EQ(link.TimeoutMs(), 4321);
    // Every call opened and closed its own session, empty.
    int closed = 0;
    EXPECT_TRUE(printer->GetJournal().WaitFor(
        [&closed](const std::string& line) {
            return line.ends_with(" closed after 0 bytes") && ++closed == kThreads * kCallsEach;
        },
        kWait));
    EXPECT_EQ(printer->SessionsOpened(), static_cast<size_t>(kThreads * kCallsEach));
}

// ---------------------------------------------------------------- SendData

TEST(NetworkPrinterLinkSend, SixtyFourMebibytesArriveWhole) {
    constexpr size_t kSize = 64u << 20;
    std::vector<uint8_t> payload(kSize);
    std::mt19937_64 random(20240603);
    for (size_t i = 0; i < kSize; i += 8) {
        const uint64_t v = random();
        std::memcpy(payload.data() + i, &v, 8);
    }
    uint64_t hash = 14695981039346656037ull;
    auto printer = StartLoopbackPrinter([&](VirtualPrinterConfig& c) {
        c.journalLines = 0;
        c.rawWriter = [&hash](const uint8_t* data, size_t size) { hash = Fnv1a(data, size, hash); };
    });
    NetworkPrinterLink link(printer->Port());
    link.SetTimeOut(10, 0);
    EXPECT_EQ(link.SendData(kLoopback, payload.data(), static_cast<int32_t>(kSize)),
              static_cast<int32_t>(kSize));
    ASSERT_EQ(printer->Raw().Size(), kSize);
    printer->Stop();  // the writer ran on the printer's thread
    EXPECT_EQ(hash, Fnv1a(payload.data(), kSize));
}

TEST(NetworkPrinterLinkSend, ShortWritesAreContinuedAndAFailedOneEndsTheCount) {
    auto printer = StartLoopbackPrinter([](VirtualPrinterConfig& c) { c.keepRaw = true; });
    NetworkPrinterLink link(printer->Port());
    // At most 100 bytes a call, and a reset once 1000 have passed.
    int calls = 0;
    size_t passed = 0;
    link.SetSendFunctionForTest([&](int fd, const void* buf, size_t len, int flags) -> ssize_t {
        ++calls;
        if (passed >= 1000) {
            errno = ECONNRESET;
            return -1;
        }
        const ssize_t n = ::send(fd, buf, std::min<size_t>(len, 100), flags);
        passed += n > 0 ? static_cast<size_t>(n) : 0;
        return n;
    });
    std::vector<uint8_t> text(1000);
    for (size_t i = 0; i < text.size(); ++i) {
        text[i] = static_cast<uint8_t>('a' + i % 26);
    }
    EXPECT_EQ(link.SendData(kLoopback, text.data(), 1000), 1000);
    EXPECT_EQ(calls, 10);
    EXPECT_EQ(printer->Raw().Bytes(), text);
    passed = 0;
    std::vector<uint8_t> data(4096, 'x');
    EXPECT_EQ(link.SendData(kLoopback, data.data(), 4096), 1000);
}

TEST(NetworkPrinterLinkSend, PeerThatResetsOrStopsReadingIsNotFullSuccess) {
    constexpr int32_t kSize = 32 << 20;
    const std::vector<uint8_t> data(kSize, 'y');
    {
        Peer resetting(
            [](int fd) {
                std::vector<uint8_t> buf(64 * 1024);
                ReadExactly(fd, buf.data(), buf.size());
                ResetOnClose(fd);
            },
            64 * 1024);
        const int32_t sent =
            NetworkPrinterLink(resetting.port()).SendData(kLoopback, data.data(), kSize);
        EXPECT_GE(sent, 0);
        EXPECT_LT(sent, kSize);
    }
    std::promise<void> release;
    Peer stalled([done = release.get_future().share()](int) { done.wait(); }, 64 * 1024);
    NetworkPrinterLink link(stalled.port());
    link.SetTimeOut(0, 200);
    const auto start = Clock::now();
    const int32_t sent = link.SendData(kLoopback, data.data(), kSize);
    const int64_t elapsed = ElapsedMs(start);
    release.set_value();
    EXPECT_GT(sent, 0) << "the kernel buffers took some";
    EXPECT_LT(sent, kSize);
    EXPECT_GE(elapsed, 180);
    EXPECT_LT(elapsed, 2000);
}

TEST(NetworkPrinterLinkSend, PeerThatKeepsItsSideOpenStillGetsEverything) {
    std::promise<void> release;
    std::promise<std::vector<uint8_t>> received;
    Peer peer([&received, done = release.get_future().share()](int fd) {
        std::vector<uint8_t> buf(16);
        buf.resize(ReadExactly(fd, buf.data(), buf.size()));  // stops at our half-close
        received.set_value(buf);
        done.wait();
    });
    NetworkPrinterLink link(peer.port());
    link.SetTimeOut(0, 200);
    const uint8_t frame[5] = {0x1B, 0x70, 0x00, 0x08, 0x08};
    const auto start = Clock::now();
    EXPECT_EQ(link.SendData(kLoopback, frame, 5), 5);
    EXPECT_LT(ElapsedMs(start), 2000);
    release.set_value();
    EXPECT_EQ(received.get_future().get(), std::vector<uint8_t>(frame, frame + 5));
}

TEST(NetworkPrinterLinkSend, BusyOneSessionPrinterIsNotReportedAsSent) {
    auto printer =
        StartLoopbackPrinter([](VirtualPrinterConfig& c) { c.mode = PrinterMode::kOneSession; });
    NetworkPrinterLink link(printer->Port());
    const uint8_t frame[7] = {0x1D, 0x44, 192, 168, 1, 20, 0x7D};
    {
        UniqueFd holder(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        const sockaddr_in addr = LoopbackAddress(printer->Port());
        ASSERT_EQ(::connect(holder.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr),
                  0);
        ASSERT_TRUE(printer->GetJournal().WaitForLine(
            "session 1 open from 127.0.0.1:" + std::to_string(PortOf(holder.get())), kWait));
        EXPECT_EQ(link.SendData(kLoopback, frame, 7), 0);
        EXPECT_TRUE(
            printer->GetJournal().WaitForLine("session 2 reset: busy with session 1", kWait));
    }
    ASSERT_TRUE(printer->GetJournal().WaitForPrefix("session 1 closed", kWait));
    EXPECT_EQ(link.SendData(kLoopback, frame, 7), 7);
}

// ---------------------------------------------------------------- GetStatus

TEST(NetworkPrinterLinkStatus, WordFollowsThePrinterCondition) {
    const std::pair<const char*, int32_t> cases[] = {
        {"online", 0x12121212},    {"paper-end", 0x7E12321A},      {"cover-open", 0x1212161A},
        {"over-temp", 0x1252521A}, {"paper-near-end", 0x1E121212},
    };
    auto printer = StartLoopbackPrinter();
    NetworkPrinterLink link(printer->Port());
    for (const auto& [names, word] : cases) {
        ConditionSet conditions;
        ASSERT_FALSE(ApplyConditionList(conditions, names, true));
        printer->SetConditions(conditions);
        EXPECT_EQ(link.GetStatus(kLoopback), word) << names;
    }
}

TEST(NetworkPrinterLinkStatus, MutePrinterGivesMinusOneWithinTheTimeOut) {
    auto mute = StartLoopbackPrinter([](VirtualPrinterConfig& c) { c.mode = PrinterMode::kMute; });
    NetworkPrinterLink link(mute->Port());
    link.SetTimeOut(0, 300);
    const auto start = Clock::now();
    EXPECT_EQ(link.GetStatus(kLoopback), -1);
    const int64_t elapsed = ElapsedMs(start);
    EXPECT_GE(elapsed, 280);
    EXPECT_LT(elapsed, 300 + 400);
    EXPECT_TRUE(
        mute->GetJournal().WaitForLine("DLE EOT 4 status request, not answered (mute)", kWait));
}

TEST(NetworkPrinterLinkStatus, PeersThatAnswerOddly) {
    struct Case {
        const char* name;
        std::vector<uint8_t> answer;  // sent a byte at a time after the requests
        bool closeAfter;
        int32_t timeoutMs;
        int32_t word;
    };
    const Case cases[] = {
        // XON, an automatic-status-back group and XOFF before the replies.
        {"noise skipped",
         {0x11, 0x10, 0x00, 0x00, 0x0F, 0x13, 0x1A, 0x32, 0x12, 0x7E},
         false,
         1000,
         0x7E12321A},
        {"three replies of four", {0x12, 0x12, 0x12}, false, 200, -1},
        // Within far less than the time-out: a closed connection gives up at once.
        {"closed before the last reply", {0x12}, true, 5000, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Peer peer([&c](int fd) {
            uint8_t requests[12];
            ASSERT_EQ(ReadExactly(fd, requests, sizeof requests), sizeof requests);
            const uint8_t expected[12] = {0x10, 4, 1, 0x10, 4, 2, 0x10, 4, 3, 0x10, 4, 4};
            EXPECT_EQ(std::memcmp(requests, expected, 12), 0);
            for (uint8_t byte : c.answer) {
                ::send(fd, &byte, 1, MSG_NOSIGNAL);
            }
            if (!c.closeAfter) {
                uint8_t rest;
                ::recv(fd, &rest, 1, 0);  // until the link closes
            }
        });
        NetworkPrinterLink link(peer.port());
        link.SetTimeOut(0, c.timeoutMs);
        const auto start = Clock::now();
        EXPECT_EQ(link.GetStatus(kLoopback), c.word);
        EXPECT_LT(ElapsedMs(start), c.closeAfter ? 2500 : c.timeoutMs + 400);
    }
}

// ---------------------------------------------------------------- status word tests

TEST(NetworkPrinterLinkStatusTests, EachTestReadsItsOwnBitsOnly) {
    NetworkPrinterLink link;
    struct Case {
        const char* name;
        int32_t (NetworkPrinterLink::*test)(int32_t);
        uint32_t mask;
    };
    const Case cases[] = {
        {"IsCoverOpen", &NetworkPrinterLink::IsCoverOpen, 0x00000400},
        {"IsBusy", &NetworkPrinterLink::IsBusy, 0x00000008},
        {"IsTempOver", &NetworkPrinterLink::IsTempOver, 0x00400000},
        {"IsPause", &NetworkPrinterLink::IsPause, 0x00000020},
        {"IsPaperEnd", &NetworkPrinterLink::IsPaperEnd, 0x60000000},
    };
    for (const Case& c : cases) {
        const auto idle = static_cast<int32_t>(0x12121212u);
        EXPECT_EQ((link.*c.test)(idle), 0) << c.name;
        EXPECT_EQ((link.*c.test)(static_cast<int32_t>(0x12121212u | c.mask)), 1) << c.name;
        // Every other bit set, including those of the other tests: still no.
        EXPECT_EQ((link.*c.test)(static_cast<int32_t>(0x7FFFFFFFu & ~c.mask)), 0) << c.name;
        EXPECT_EQ((link.*c.test)(-1), 0) << c.name << " on the off-line result";
    }
    // Paper end shows in either of its two bits.
    EXPECT_EQ(link.IsPaperEnd(static_cast<int32_t>(0x32121212u)), 1);
    EXPECT_EQ(link.IsPaperEnd(static_cast<int32_t>(0x52121212u)), 1);
}

}  // namespace
}  // namespace vorpane
