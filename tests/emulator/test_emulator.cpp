// The virtual printer: its decoder, its sockets, its command line and the
// vorpane-printer process, on loopback with ports the system picks.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "loopback_printer.h"

#include "emulator/command_decoder.h"
#include "emulator/printer_cli.h"
#include "emulator/printer_state.h"
#include "emulator/virtual_printer.h"
#include "net/unique_fd.h"

extern char** environ;

namespace vorpane {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
constexpr auto kWait = 5s;

// ---------------------------------------------------------------- decoder

class Recorder final : public CommandDecoderEvents {
public:
    void OnJournalLine(std::string line) override { lines.push_back(std::move(line)); }
    void OnStatusRequest(uint8_t n) override {
        lines.push_back("<status " + std::to_string(n) + ">");
    }
    void OnNewAddress(const std::array<uint8_t, 4>& a) override {
        lines.push_back("<address " + HexBytes(a.data(), a.size()) + ">");
    }
    void OnNewMac(const std::array<uint8_t, 6>& m) override {
        lines.push_back("<mac " + HexBytes(m.data(), m.size()) + ">");
    }
    std::vector<std::string> lines;
};

std::vector<std::string> Decode(const Bytes& bytes, bool byteByByte = false) {
    Recorder recorder;
    CommandDecoder decoder(recorder);
    if (byteByByte) {
        for (uint8_t b : bytes) {
            decoder.Feed(&b, 1);
        }
    } else {
        decoder.Feed(bytes.data(), bytes.size());
    }
    decoder.Finish();
    return recorder.lines;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

using Lines = std::vector<std::string>;

TEST(CommandDecoder, KnownCommandsAreNamed) {
    EXPECT_EQ(Decode({0x1B, 0x40}), Lines{"ESC @ initialise"});
    EXPECT_EQ(Decode({0x1B, 0x6D}), Lines{"ESC m partial cut"});
    EXPECT_EQ(Decode({0x1B, 0x70, 0x00, 0x08, 0x08}),
              Lines{"ESC p drawer pin 2 on 16 ms off 16 ms"});
    EXPECT_EQ(Decode({0x1B, 0x70, '1', 0x32, 0xFF}),
              Lines{"ESC p drawer pin 5 on 100 ms off 510 ms"});
    EXPECT_EQ(Decode({0x1B, 0x70, 0x07, 0x08, 0x08}), Lines{"hex: 1B 70 07 08 08"});
    EXPECT_EQ(Decode({0x10, 0x04, 0x01, 0x10, 0x04, 0x04}), (Lines{"<status 1>", "<status 4>"}));
    EXPECT_EQ(Decode({0x10, 0x04, 0x05}), Lines{"hex: 10 04 05"});
}

TEST(CommandDecoder, ConfigurationFramesAreCheckedBeforeTheyCount) {
    // 192 + 168 + 1 + 20 = 381 = 0x17D
    EXPECT_EQ(Decode({0x1D, 0x44, 192, 168, 1, 20, 0x7D}),
              (Lines{"GS D new address 192.168.1.20 (checksum ok, pending until restart)",
                     "<address C0 A8 01 14>"}));
    EXPECT_EQ(Decode({0x1D, 0x44, 192, 168, 1, 20, 0x7C}),
              Lines{"GS D rejected: bad checksum 7C (expected 7D) for 192.168.1.20"});
    // AE+2B+64+14+2C+6C = 0x1E9
    EXPECT_EQ(Decode({0x1D, 0x45, 0xAE, 0x2B, 0x64, 0x14, 0x2C, 0x6C, 0xE9}),
              (Lines{"GS E new MAC AE-2B-64-14-2C-6C (checksum ok, pending until restart)",
                     "<mac AE 2B 64 14 2C 6C>"}));
    EXPECT_EQ(Decode({0x1D, 0x45, 0xAE, 0x2B, 0x64, 0x14, 0x2C, 0x6C, 0x00}),
              Lines{"GS E rejected: bad checksum 00 (expected E9) for AE-2B-64-14-2C-6C"});
    // Argument bytes that look like commands are still arguments.
    EXPECT_EQ(Decode({0x1D, 0x44, 0x10, 0x04, 0x1B, 0x0A, 0x39}),
              (Lines{"GS D new address 16.4.27.10 (checksum ok, pending until restart)",
                     "<address 10 04 1B 0A>"}));
}

TEST(CommandDecoder, TextLinesAreDecodedFromGb18030) {
    EXPECT_EQ(Decode(Text("Hello\r\nWorld\n")), (Lines{"text: Hello", "text: World"}));
    EXPECT_EQ(Decode(Text("\n")), Lines{"text: "});
    // 你好 in GB18030, then a four-byte sequence (U+1F600)
    EXPECT_EQ(Decode({0xC4, 0xE3, 0xBA, 0xC3, 0x94, 0x39, 0xFC, 0x36, 0x0A}),
              Lines{"text: 你好\xF0\x9F\x98\x80"});
    // Invalid bytes and tabs are shown, not passed on.
    EXPECT_EQ(Decode({'a', 0xFF, 'b', 0x09, 'c', 0x0A}), Lines{"text: a\\xFFb\\x09c"});
    // Text without a line end still shows, when a command or the end cuts it.
    EXPECT_EQ(Decode(Cat({Text("Cut test"), {0x1B, 0x6D}, Text("tail")})),
              (Lines{"text: Cut test", "ESC m partial cut", "text: tail"}));
}

TEST(CommandDecoder, LongLinesAreCutWithoutSplittingACharacter) {
    // 1023 ASCII bytes then a two-byte character across the 1024-byte cut.
    Bytes bytes(1023, 'x');
    bytes.push_back(0xC4);
    bytes.push_back(0xE3);
    bytes.push_back(0x0A);
    const Lines lines = Decode(bytes);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "text: " + std::string(1023, 'x'));
    EXPECT_EQ(lines[1], "text: 你");
    // A flood without line ends stays in bounded pieces.
    const Lines flood = Decode(Bytes(100000, 'y'));
    EXPECT_EQ(flood.size(), 98u);
    for (const auto& line : flood) {
        EXPECT_LE(line.size(), 6 + CommandDecoder::kMaxTextLineBytes);
    }
}

TEST(CommandDecoder, EverythingElseIsHex) {
    EXPECT_EQ(Decode({0x1D, 0x21, 0x00}), Lines{"hex: 1D 21 00"});
    EXPECT_EQ(Decode({0x1D, 0x56, 0x42, 0x03}), Lines{"hex: 1D 56 42 03"});
    EXPECT_EQ(Decode({0x1B, 0x99, 'A', 0x0A}), (Lines{"hex: 1B 99", "text: A"}));
    EXPECT_EQ(Decode({0x07, 0x08, 'A', 0x0A}), (Lines{"hex: 07 08", "text: A"}));
    const Lines run = Decode(Bytes(20, 0x07));
    EXPECT_EQ(run,
              (Lines{"hex: 07 07 07 07 07 07 07 07 07 07 07 07 07 07 07 07", "hex: 07 07 07 07"}));
}

TEST(CommandDecoder, CutOffCommandsAreReportedAtTheEnd) {
    EXPECT_EQ(Decode({0x1D, 0x44, 0xC0, 0xA8}), Lines{"truncated: 1D 44 C0 A8"});
    EXPECT_EQ(Decode({'o', 'k', 0x1B}), (Lines{"text: ok", "truncated: 1B"}));
    EXPECT_EQ(Decode({0xC4}), Lines{"text: \\xC4"});
}

TEST(CommandDecoder, PiecesGiveTheSameJournalAsOneBlock) {
    std::mt19937 random(7);
    Bytes bytes = Cat({Text("Hello 你好"),
                       {0xC4, 0xE3, 0x0A, 0x1B, 0x40, 0x1D, 0x44, 1, 2, 3, 4, 10},
                       Bytes(3000, 'q'),
                       {0x10, 0x04, 0x02, 0x1B, 0x70, 0, 1, 2}});
    for (int i = 0; i < 4000; ++i) {
        bytes.push_back(static_cast<uint8_t>(random()));
    }
    EXPECT_EQ(Decode(bytes, true), Decode(bytes));
}

// ---------------------------------------------------------------- conditions

TEST(PrinterState, RepliesOfEachCondition) {
    struct Case {
        const char* names;
        std::array<uint8_t, 4> replies;
    };
    const Case cases[] = {
        {"online", {0x12, 0x12, 0x12, 0x12}},
        {"offline", {0x1A, 0x12, 0x12, 0x12}},
        {"cover-open", {0x1A, 0x16, 0x12, 0x12}},
        {"paper-near-end", {0x12, 0x12, 0x12, 0x1E}},
        {"paper-end", {0x1A, 0x32, 0x12, 0x7E}},
        {"over-temp", {0x1A, 0x52, 0x52, 0x12}},
        {"waiting-recovery", {0x3A, 0x12, 0x12, 0x12}},
        {"drawer", {0x16, 0x12, 0x12, 0x12}},
        {"paper-near-end,drawer", {0x16, 0x12, 0x12, 0x1E}},
    };
    for (const Case& c : cases) {
        ConditionSet set;
        EXPECT_FALSE(ApplyConditionList(set, c.names, true)) << c.names;
        EXPECT_EQ(StatusReplies(set), c.replies) << c.names;
        EXPECT_EQ(ConditionNames(set), c.names);
        for (uint8_t r : StatusReplies(set)) {
            EXPECT_EQ(r & 0x93, 0x12) << c.names << ": not a DLE EOT reply";
        }
    }
}

TEST(PrinterState, OnlineIsTheAbsenceOfOffline) {
    ConditionSet set;
    EXPECT_TRUE(ApplyConditionName(set, "online", false));
    EXPECT_EQ(ConditionNames(set), "offline");
    EXPECT_TRUE(ApplyConditionName(set, "online", true));
    EXPECT_EQ(ConditionNames(set), "online");
    EXPECT_EQ(ApplyConditionList(set, "paper-end,bogus", true), "bogus");
    EXPECT_EQ(ApplyConditionList(set, "", true), "");
    EXPECT_FALSE(ParsePrinterMode("Normal"));
    EXPECT_EQ(ParsePrinterMode("one-session"), PrinterMode::kOneSession);
}

// ---------------------------------------------------------------- printer over sockets

// A client that connects at once (blocking), or holds the connect's error.
struct Client {
    UniqueFd fd;
    int error = 0;

    explicit Client(uint16_t port) : fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        const sockaddr_in addr = LoopbackAddress(port);
        if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
            error = errno;
        }
    }
    void Send(const Bytes& bytes) {
        ASSERT_EQ(::send(fd.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
    }
    // Up to `count` bytes that arrive before the deadline.
    Bytes Receive(size_t count, std::chrono::milliseconds timeout = kWait) {
        Bytes out;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (out.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd p{fd.get(), POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
                break;
            }
            uint8_t buf[256];
            const ssize_t n = ::recv(fd.get(), buf, std::min(sizeof buf, count - out.size()), 0);
            if (n <= 0) {
                break;
            }
            out.insert(out.end(), buf, buf + n);
        }
        return out;
    }
    std::string LocalEndpoint() const {
        sockaddr_in addr{};
        socklen_t len = sizeof addr;
        ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&addr), &len);
        return "127.0.0.1:" + std::to_string(ntohs(addr.sin_port));
    }
};

TEST(VirtualPrinter, JournalsEachKnownCommandOfASession) {
    auto printer = StartLoopbackPrinter();
    Journal& journal = printer->GetJournal();
    Client client(printer->Port());
    ASSERT_EQ(client.error, 0);
    ASSERT_TRUE(journal.WaitForLine("session 1 open from " + client.LocalEndpoint(), kWait));
    client.Send(Cat({{0x1B, 0x40},
                     Text("Hello\n"),
                     {0x1B, 0x70, 0x00, 0x08, 0x08},
                     Text("Cut test\n"),
                     {0x1B, 0x6D},
                     {0x1D, 0x44, 192, 168, 1, 20, 0x7D},
                     {0x1D, 0x45, 0xAE, 0x2B, 0x64, 0x14, 0x2C, 0x6C, 0xE9},
                     {0x1D, 0x21, 0x00}}));
    ::shutdown(client.fd.get(), SHUT_WR);
    const auto closed = journal.WaitForLine("session 1 closed after 43 bytes", kWait);
    ASSERT_TRUE(closed);
    const Lines expected = {
        "ESC @ initialise",
        "text: Hello",
        "ESC p drawer pin 2 on 16 ms off 16 ms",
        "text: Cut test",
        "ESC m partial cut",
        "GS D new address 192.168.1.20 (checksum ok, pending until restart)",
        "GS E new MAC AE-2B-64-14-2C-6C (checksum ok, pending until restart)",
        "hex: 1D 21 00",
    };
    const Lines all = journal.Lines();
    ASSERT_GE(all.size(), expected.size() + 1);
    EXPECT_EQ(Lines(all.end() - 1 - static_cast<ptrdiff_t>(expected.size()), all.end() - 1),
              expected);
    // Closed by the printer after our half-close, in order.
    EXPECT_TRUE(client.Receive(1).empty());
}

TEST(VirtualPrinter, AnswersStatusFromItsCurrentCondition) {
    auto printer = StartLoopbackPrinter(
        [](VirtualPrinterConfig& c) { ApplyConditionList(c.conditions, "paper-end", true); });
    const Bytes all4 = {0x10, 0x04, 1, 0x10, 0x04, 2, 0x10, 0x04, 3, 0x10, 0x04, 4};
    {
        Client client(printer->Port());
        client.Send(all4);
        EXPECT_EQ(client.Receive(4), (Bytes{0x1A, 0x32, 0x12, 0x7E}));
    }
    ConditionSet cover;
    cover.Add(Condition::kCoverOpen);
    printer->SetConditions(cover);
    EXPECT_TRUE(printer->GetJournal().WaitForLine("conditions: cover-open", kWait));
    Client client(printer->Port());
    client.Send(all4);
    EXPECT_EQ(client.Receive(4), (Bytes{0x1A, 0x16, 0x12, 0x12}));
    printer->SetConditions({});
    client.Send({0x10, 0x04, 2});
    EXPECT_EQ(client.Receive(1), Bytes{0x12});
    EXPECT_TRUE(printer->GetJournal().WaitForLine("DLE EOT 2 status request, answered 12", kWait));
}

TEST(VirtualPrinter, NewAddressAndMacWaitForRestart) {
    auto printer = StartLoopbackPrinter();
    Journal& journal = printer->GetJournal();
    EXPECT_EQ(printer->Address(), "127.0.0.1");
    {
        Client client(printer->Port());
        client.Send({0x1D, 0x44, 10, 0, 0, 7, 0x10});  // bad checksum: 10+7 = 0x11
        client.Send({0x1D, 0x45, 1, 2, 3, 4, 5, 6, 21});
    }
    ASSERT_TRUE(journal.WaitForPrefix("session 1 closed", kWait));
    EXPECT_FALSE(printer->PendingAddress());
    EXPECT_EQ(printer->PendingMac(), "01-02-03-04-05-06");
    printer->Restart();
    EXPECT_TRUE(
        journal.WaitForLine("restart: address now 127.0.0.1, MAC now 01-02-03-04-05-06", kWait));
    {
        Client client(printer->Port());
        client.Send({0x1D, 0x44, 10, 0, 0, 7, 0x11});
    }
    ASSERT_TRUE(journal.WaitForPrefix("session 2 closed", kWait));
    EXPECT_EQ(printer->PendingAddress(), "10.0.0.7");
    EXPECT_EQ(printer->Address(), "127.0.0.1");
    printer->Restart();
    EXPECT_EQ(printer->Address(), "10.0.0.7");
    EXPECT_FALSE(printer->PendingAddress());
    EXPECT_TRUE(
        journal.WaitForLine("restart: address now 10.0.0.7, MAC now 01-02-03-04-05-06", kWait));
}

TEST(VirtualPrinter, RawJournalIsByteForByte) {
    auto printer = StartLoopbackPrinter([](VirtualPrinterConfig& c) { c.keepRaw = true; });
    Bytes bytes;
    for (int i = 0; i < 5000; ++i) {
        bytes.push_back(static_cast<uint8_t>(i * 7));
    }
    Client(printer->Port()).Send(bytes);
    ASSERT_TRUE(printer->Raw().WaitForSize(bytes.size(), kWait));
    EXPECT_EQ(printer->Raw().Bytes(), bytes);
}

TEST(VirtualPrinter, OneSessionModeResetsASecondSession) {
    auto printer =
        StartLoopbackPrinter([](VirtualPrinterConfig& c) { c.mode = PrinterMode::kOneSession; });
    Journal& journal = printer->GetJournal();
    auto first = std::make_unique<Client>(printer->Port());
    ASSERT_TRUE(journal.WaitForPrefix("session 1 open", kWait));
    Client second(printer->Port());
    ASSERT_EQ(second.error, 0) << "the kernel completes the handshake";
    ASSERT_TRUE(journal.WaitForLine("session 2 reset: busy with session 1", kWait));
    uint8_t byte;
    EXPECT_EQ(::recv(second.fd.get(), &byte, 1, 0), -1);
    EXPECT_EQ(errno, ECONNRESET);
    // The first session is unharmed, and once it ends the next one is taken.
    first->Send({0x10, 0x04, 1});
    EXPECT_EQ(first->Receive(1), Bytes{0x12});
    first.reset();
    ASSERT_TRUE(journal.WaitForPrefix("session 1 closed", kWait));
    Client third(printer->Port());
    third.Send({0x10, 0x04, 1});
    EXPECT_EQ(third.Receive(1), Bytes{0x12});
    EXPECT_TRUE(journal.WaitForPrefix("session 3 open", kWait));
}

TEST(VirtualPrinter, RefuseModeRefusesAndMuteModeNeverAnswers) {
    auto refusing =
        StartLoopbackPrinter([](VirtualPrinterConfig& c) { c.mode = PrinterMode::kRefuse; });
    EXPECT_NE(refusing->Port(), 0);
    EXPECT_EQ(Client(refusing->Port()).error, ECONNREFUSED);

    auto mute = StartLoopbackPrinter([](VirtualPrinterConfig& c) { c.mode = PrinterMode::kMute; });
    Client client(mute->Port());
    client.Send({0x10, 0x04, 1, 'h', 'i', '\n'});
    ASSERT_TRUE(mute->GetJournal().WaitForLine("text: hi", kWait));
    EXPECT_TRUE(
        mute->GetJournal().WaitForLine("DLE EOT 1 status request, not answered (mute)", 0s));
    EXPECT_TRUE(client.Receive(1, 100ms).empty());
}

TEST(VirtualPrinter, SessionsAtTheSameTimeAreServedSeparately) {
    auto printer = StartLoopbackPrinter();
    Client a(printer->Port());
    Client b(printer->Port());
    a.Send(Text("from a"));
    b.Send(Text("from b\n"));
    ASSERT_TRUE(printer->GetJournal().WaitForLine("text: from b", kWait));
    a.Send({0x0A, 0x10, 0x04, 0x01});
    EXPECT_EQ(a.Receive(1), Bytes{0x12});
    EXPECT_TRUE(printer->GetJournal().WaitForLine("text: from a", kWait));
}

TEST(VirtualPrinter, BadInputDoesNotHurtIt) {
    auto printer = StartLoopbackPrinter([](VirtualPrinterConfig& c) { c.maxSessions = 8; });
    Journal& journal = printer->GetJournal();
    {
        Client silent(printer->Port());  // connects, sends nothing
        Client truncated(printer->Port());
        truncated.Send({0x1D, 0x44, 0xC0, 0xA8});
        ::shutdown(truncated.fd.get(), SHUT_WR);
        EXPECT_TRUE(journal.WaitForLine("truncated: 1D 44 C0 A8", kWait));
    }
    {
        Client noise(printer->Port());
        std::mt19937 random(99);
        Bytes bytes(1 << 20);
        for (auto& b : bytes) {
            b = static_cast<uint8_t>(random());
        }
        noise.Send(bytes);
    }
    {
        // Status requests with nobody reading the replies, then a close
        // with replies unread (a reset).
        Client flood(printer->Port());
        const int flags = ::fcntl(flood.fd.get(), F_GETFL);
        ::fcntl(flood.fd.get(), F_SETFL, flags | O_NONBLOCK);
        Bytes requests;
        for (int i = 0; i < 300000; ++i) {
            requests.insert(requests.end(), {0x10, 0x04, 0x01});
        }
        size_t sent = 0;
        for (int stalls = 0; sent < requests.size() && stalls < 10;) {
            const ssize_t n = ::send(flood.fd.get(), requests.data() + sent, requests.size() - sent,
                                     MSG_NOSIGNAL);
            if (n > 0) {
                sent += static_cast<size_t>(n);
                stalls = 0;
            } else {
                pollfd p{flood.fd.get(), POLLOUT, 0};
                stalls += ::poll(&p, 1, 20) == 0 ? 1 : 0;
            }
        }
        EXPECT_GT(sent, 0u);
    }
    {
        // More sessions at once than it serves: the extra ones are reset.
        std::vector<std::unique_ptr<Client>> many;
        for (int i = 0; i < 12; ++i) {
            many.push_back(std::make_unique<Client>(printer->Port()));
        }
        EXPECT_TRUE(journal.WaitFor(
            [](const std::string& l) { return l.ends_with(" reset: too many sessions"); }, kWait));
    }
    // Still a working printer, once it has seen every client go.
    EXPECT_TRUE(
        journal.WaitFor([&](const std::string&) { return printer->OpenSessions() == 0; }, kWait));
    Client after(printer->Port());
    after.Send({0x10, 0x04, 0x01});
    EXPECT_EQ(after.Receive(1), Bytes{0x12});
}

TEST(VirtualPrinter, NetbiosResponderAnswersQueriesOnly) {
    auto printer = StartLoopbackPrinter([](VirtualPrinterConfig& c) {
        c.netbios = true;
        c.netbiosPort = 0;
    });
    ASSERT_NE(printer->NetbiosPort(), 0);
    UniqueFd udp(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const sockaddr_in to = LoopbackAddress(printer->NetbiosPort());
    Bytes query = {0x80, 0x21, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0x20};
    query.insert(query.end(), 32, 'A');
    query.insert(query.end(), {0, 0, 0x20, 0, 1});
    ASSERT_EQ(query.size(), 50u);
    auto receive = [&](int timeoutMs) {
        pollfd p{udp.get(), POLLIN, 0};
        Bytes reply(600);
        if (::poll(&p, 1, timeoutMs) != 1) {
            return Bytes{};
        }
        reply.resize(static_cast<size_t>(
            std::max<ssize_t>(0, ::recv(udp.get(), reply.data(), reply.size(), 0))));
        return reply;
    };
    ASSERT_EQ(::sendto(udp.get(), query.data(), query.size(), 0,
                       reinterpret_cast<const sockaddr*>(&to), sizeof to),
              50);
    const Bytes reply = receive(5000);
    ASSERT_GE(reply.size(), 2u);
    EXPECT_EQ(reply[0], 0x80);
    EXPECT_EQ(reply[1], 0x21);
    EXPECT_TRUE(printer->GetJournal().WaitForPrefix("netbios: answered 127.0.0.1:", kWait));
    // A response is not answered, so two responders cannot talk forever.
    Bytes response = reply;
    ASSERT_EQ(::sendto(udp.get(), response.data(), response.size(), 0,
                       reinterpret_cast<const sockaddr*>(&to), sizeof to),
              static_cast<ssize_t>(response.size()));
    EXPECT_TRUE(receive(150).empty());
}

TEST(VirtualPrinter, StopReleasesThePort) {
    auto printer = StartLoopbackPrinter();
    const uint16_t port = printer->Port();
    Client idle(port);
    ASSERT_TRUE(printer->GetJournal().WaitForPrefix("session 1 open", kWait));
    printer->Stop();
    printer->Stop();
    EXPECT_TRUE(idle.Receive(1).empty());
    EXPECT_EQ(printer->GetJournal().Lines().back(),
              "session 1 closed after 0 bytes (printer stopped)");
    EXPECT_EQ(printer->OpenSessions(), 0u);
    EXPECT_EQ(Client(port).error, ECONNREFUSED);
}

TEST(VirtualPrinter, CreationErrorsAreValues) {
    auto bad = VirtualPrinter::Create([] {
        VirtualPrinterConfig c;
        c.listenAddresses = {"not-an-address"};
        c.port = 0;
        return c;
    }());
    EXPECT_FALSE(bad.printer);
    EXPECT_EQ(bad.error, "not an IPv4 address: not-an-address");
    auto first = StartLoopbackPrinter();
    auto clash = VirtualPrinter::Create([&] {
        VirtualPrinterConfig c;
        c.listenAddresses = {"127.0.0.1"};
        c.port = first->Port();
        return c;
    }());
    EXPECT_FALSE(clash.printer);
    EXPECT_NE(clash.error.find("bind"), std::string::npos) << clash.error;
}

// ---------------------------------------------------------------- journal

TEST(Journal, WaitsForLinesFromOtherThreadsAndKeepsABoundedTail) {
    Lines written;
    Journal journal(3, [&written](const std::string& l) { written.push_back(l); });
    std::thread producer([&] {
        for (int i = 0; i < 5; ++i) {
            journal.Add("line " + std::to_string(i));
        }
    });
    EXPECT_EQ(journal.WaitForLine("line 4", kWait), 4u);
    producer.join();
    EXPECT_EQ(journal.Lines(), (Lines{"line 2", "line 3", "line 4"}));
    EXPECT_EQ(written.size(), 5u);
    EXPECT_EQ(journal.Count(), 5u);
    EXPECT_FALSE(journal.LineAt(1));
    EXPECT_EQ(journal.LineAt(3), "line 3");
    EXPECT_FALSE(journal.WaitForLine("line 3", 10ms, 4));
    EXPECT_FALSE(journal.WaitForPrefix("nothing", 10ms));
}

// ---------------------------------------------------------------- command line

TEST(PrinterCommandLine, DefaultsAndEveryOption) {
    const auto defaults = ParsePrinterArguments({});
    ASSERT_TRUE(defaults.arguments);
    EXPECT_EQ(defaults.arguments->config.listenAddresses, (Lines{"0.0.0.0"}));
    EXPECT_EQ(defaults.arguments->config.port, 9100);
    EXPECT_EQ(defaults.arguments->config.mode, PrinterMode::kNormal);
    EXPECT_EQ(defaults.arguments->config.conditions.bits, 0u);
    EXPECT_FALSE(defaults.arguments->config.netbios);
    EXPECT_TRUE(defaults.arguments->journalPath.empty());

    const auto all = ParsePrinterArguments(
        {"--listen", "127.0.0.1", "--listen=127.0.0.2", "--port", "0", "--condition",
         "paper-end,drawer", "--condition=offline", "--mode", "one-session", "--journal", "j.txt",
         "--raw", "r.bin", "--netbios", "--help"});
    ASSERT_TRUE(all.arguments) << all.error;
    const PrinterArguments& a = *all.arguments;
    EXPECT_EQ(a.config.listenAddresses, (Lines{"127.0.0.1", "127.0.0.2"}));
    EXPECT_EQ(a.config.port, 0);
    EXPECT_EQ(ConditionNames(a.config.conditions), "offline,paper-end,drawer");
    EXPECT_EQ(a.config.mode, PrinterMode::kOneSession);
    EXPECT_EQ(a.journalPath, "j.txt");
    EXPECT_EQ(a.rawPath, "r.bin");
    EXPECT_TRUE(a.config.netbios);
    EXPECT_TRUE(a.help);
}

TEST(PrinterCommandLine, MistakesAreReported) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--port", "65536"}, "bad port: 65536"},
        {{"--port", "12x"}, "bad port: 12x"},
        {{"--port"}, "--port needs a value"},
        {{"--mode", "quiet"}, "unknown mode: quiet"},
        {{"--condition", "paper-end,jam"}, "unknown condition: jam"},
        {{"--verbose"}, "unknown option: --verbose"},
        {{"--netbios=1"}, "--netbios takes no value"},
    };
    for (const auto& [args, error] : cases) {
        const auto parsed = ParsePrinterArguments(args);
        EXPECT_FALSE(parsed.arguments);
        EXPECT_EQ(parsed.error, error);
    }
    EXPECT_NE(PrinterUsage().find("--condition NAME[,NAME...]"), std::string::npos);
}

TEST(PrinterControlLines, ChangeTheRunningPrinter) {
    auto printer = StartLoopbackPrinter();
    EXPECT_FALSE(ApplyControlLine(*printer, "set paper-end cover-open").quit);
    EXPECT_EQ(ConditionNames(printer->Conditions()), "cover-open,paper-end");
    EXPECT_TRUE(printer->GetJournal().WaitForLine("conditions: cover-open,paper-end", kWait));
    ApplyControlLine(*printer, "clear cover-open,paper-end");
    ApplyControlLine(*printer, "clear online");
    EXPECT_EQ(ConditionNames(printer->Conditions()), "offline");

    const auto bad = ApplyControlLine(*printer, "set offline jammed");
    EXPECT_EQ(bad.error, "unknown condition: jammed");
    EXPECT_EQ(ConditionNames(printer->Conditions()), "offline") << "a bad line changes nothing";
    EXPECT_EQ(ApplyControlLine(*printer, "set").error, "set needs at least one condition");
    EXPECT_EQ(ApplyControlLine(*printer, "reboot").error, "unknown control line: reboot");
    EXPECT_TRUE(ApplyControlLine(*printer, "").error.empty());

    const auto show = ApplyControlLine(*printer, "show");
    EXPECT_TRUE(show.reply.starts_with("conditions offline; mode normal; port " +
                                       std::to_string(printer->Port())))
        << show.reply;
    EXPECT_NE(show.reply.find("status 1A 12 12 12"), std::string::npos) << show.reply;
    ApplyControlLine(*printer, "restart");
    EXPECT_TRUE(printer->GetJournal().WaitForPrefix("restart: address now 127.0.0.1", kWait));
    EXPECT_TRUE(ApplyControlLine(*printer, "quit").quit);
}

// ---------------------------------------------------------------- the process

// vorpane-printer with pipes on its standard streams.
class PrinterProcess {
public:
    explicit PrinterProcess(const std::vector<std::string>& args) {
        int in[2], out[2], err[2];
        EXPECT_EQ(::pipe2(in, O_CLOEXEC), 0);
        EXPECT_EQ(::pipe2(out, O_CLOEXEC), 0);
        EXPECT_EQ(::pipe2(err, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        std::vector<std::string> all = {VORPANE_PRINTER_EXE};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        EXPECT_EQ(posix_spawn(&m_pid, VORPANE_PRINTER_EXE, &actions, nullptr, argv.data(), environ),
                  0);
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        ::close(err[1]);
        m_in.reset(in[1]);
        m_out.reset(out[0]);
        m_err.reset(err[0]);
    }
    ~PrinterProcess() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            Wait();
        }
    }
    void Write(const std::string& text) {
        EXPECT_EQ(::write(m_in.get(), text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    // The next line on standard output, or nothing at the deadline or end.
    std::optional<std::string> ReadLine(std::chrono::milliseconds timeout = kWait) {
        return ReadLineFrom(m_out.get(), m_outBuffer, timeout);
    }
    std::optional<std::string> ReadErrorLine(std::chrono::milliseconds timeout = kWait) {
        return ReadLineFrom(m_err.get(), m_errBuffer, timeout);
    }
    // Waits for a line that starts with the prefix, skipping others.
    std::optional<std::string> ReadLineStarting(const std::string& prefix) {
        while (auto line = ReadLine()) {
            if (line->starts_with(prefix)) {
                return line;
            }
        }
        return std::nullopt;
    }
    // Exit status once the output has ended (the process is gone).
    int Wait() {
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
        return status;
    }

private:
    static std::optional<std::string> ReadLineFrom(int fd, std::string& buffer,
                                                   std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            if (const size_t nl = buffer.find('\n'); nl != std::string::npos) {
                std::string line = buffer.substr(0, nl);
                buffer.erase(0, nl + 1);
                return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd p{fd, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
                return std::nullopt;
            }
            char buf[512];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n <= 0) {
                return std::nullopt;
            }
            buffer.append(buf, static_cast<size_t>(n));
        }
    }

    pid_t m_pid = -1;
    UniqueFd m_in, m_out, m_err;
    std::string m_outBuffer, m_errBuffer;
};

TEST(PrinterProcess, ServesAndFollowsControlLines) {
    PrinterProcess process({"--listen", "127.0.0.1", "--port", "0", "--condition", "drawer"});
    const auto listening = process.ReadLineStarting("listening on 127.0.0.1:");
    ASSERT_TRUE(listening);
    const std::string rest = listening->substr(std::strlen("listening on 127.0.0.1:"));
    EXPECT_TRUE(rest.ends_with(" (mode normal, conditions drawer)")) << rest;
    const auto port = static_cast<uint16_t>(std::stoi(rest));

    Client client(port);
    client.Send({0x10, 0x04, 1});
    EXPECT_EQ(client.Receive(1), Bytes{0x16});
    process.Write("set paper-end\n");
    EXPECT_EQ(process.ReadLineStarting("conditions:"), "conditions: paper-end,drawer");
    client.Send({0x10, 0x04, 4});
    EXPECT_EQ(client.Receive(1), Bytes{0x7E});
    client.Send(Cat({Text("Hello\n"), {0x1B, 0x6D}}));
    EXPECT_EQ(process.ReadLineStarting("text:"), "text: Hello");
    EXPECT_EQ(process.ReadLine(), "ESC m partial cut");

    process.Write("show\nfly\n");
    EXPECT_TRUE(process.ReadLineStarting("conditions paper-end,drawer; mode normal;"));
    EXPECT_EQ(process.ReadErrorLine(), "vorpane-printer: unknown control line: fly");
    process.Write("quit\n");
    EXPECT_FALSE(process.ReadLineStarting("never"));  // output ends as it exits
    const int status = process.Wait();
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

std::string TempPath(const char* name) {
    std::string path = std::string(::testing::TempDir()) + name + "XXXXXX";
    const int fd = ::mkstemp(path.data());
    EXPECT_GE(fd, 0);
    ::close(fd);
    return path;
}

std::string ReadFile(const std::string& path) {
    std::string out;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
            out.append(buf, n);
        }
        std::fclose(f);
    }
    return out;
}

TEST(PrinterProcess, JournalAndRawGoToFiles) {
    const std::string journalPath = TempPath("journal");
    const std::string rawPath = TempPath("raw");
    PrinterProcess process({"--listen", "127.0.0.1", "--port", "0", "--mode", "mute", "--journal",
                            journalPath, "--raw", rawPath});
    process.Write("show\n");
    const auto show = process.ReadLine();
    ASSERT_TRUE(show);
    const size_t at = show->find("; port ");
    ASSERT_NE(at, std::string::npos) << *show;
    const auto port = static_cast<uint16_t>(std::stoi(show->substr(at + 7)));
    const Bytes sent = Cat({Text("Hi\n"), {0x10, 0x04, 0x01, 0x00, 0xFF}});
    {
        Client client(port);
        client.Send(sent);
        ::shutdown(client.fd.get(), SHUT_WR);
        EXPECT_TRUE(client.Receive(1).empty()) << "mute, and closed after our half-close";
    }
    process.Write("quit\n");
    EXPECT_EQ(WEXITSTATUS(process.Wait()), 0);
    EXPECT_EQ(ReadFile(rawPath), std::string(sent.begin(), sent.end()));
    const std::string journal = ReadFile(journalPath);
    EXPECT_NE(journal.find("text: Hi\nDLE EOT 1 status request, not answered (mute)\n"
                           "hex: 00\ntext: \\xFF\nsession 1 closed after 8 bytes\n"),
              std::string::npos)
        << journal;
    std::remove(journalPath.c_str());
    std::remove(rawPath.c_str());
}

TEST(PrinterProcess, BadCommandLineExitsWithUsageError) {
    PrinterProcess process({"--mode", "sleepy"});
    EXPECT_EQ(process.ReadErrorLine(), "vorpane-printer: unknown mode: sleepy");
    const int status = process.Wait();
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);
}

TEST(PrinterProcess, HelpDescribesTheJournal) {
    PrinterProcess process({"--help"});
    bool sawJournal = false;
    while (auto line = process.ReadLine()) {
        sawJournal = sawJournal || line->find("GS D new address") != std::string::npos;
    }
    EXPECT_TRUE(sawJournal);
    EXPECT_EQ(WEXITSTATUS(process.Wait()), 0);
}

}  // namespace
}  // namespace vorpane
