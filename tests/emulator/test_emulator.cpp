// The virtual printer: its decoder, its sockets, its command line and the
// vorpane-printer process, on loopback with ports the system picks.

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "loopback_printer.h"

#include "emulator/command_decoder.h"
#include "emulator/printer_cli.h"
#include "emulator/printer_state.h"
#include "emulator/virtual_printer.h"
#include "platform/unique_fd.h"

extern char** environ;

namespace vorpane {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;
constexpr auto kWait = 5s;

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

Bytes RandomBytes(size_t size, unsigned seed) {
    std::independent_bits_engine<std::mt19937, 8, unsigned> random(seed);
    Bytes bytes(size);
    std::generate(bytes.begin(), bytes.end(), std::ref(random));
    return bytes;
}

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
    Lines lines;
};

Lines Decode(const Bytes& bytes, bool byteByByte = false) {
    Recorder recorder;
    CommandDecoder decoder(recorder);
    const size_t step = byteByByte ? 1 : std::max<size_t>(bytes.size(), 1);
    for (size_t i = 0; i < bytes.size(); i += step) {
        decoder.Feed(bytes.data() + i, std::min(step, bytes.size() - i));
    }
    decoder.Finish();
    return recorder.lines;
}

TEST(CommandDecoder, JournalOfEachInputWholeAndByteByByte) {
    const std::pair<Bytes, Lines> cases[] = {
        {{0x1B, 0x40, 0x1B, 0x6D}, {"ESC @ initialise", "ESC m partial cut"}},
        {{0x1B, 0x70, 0x00, 0x08, 0x08}, {"ESC p drawer pin 2 on 16 ms off 16 ms"}},
        {{0x1B, 0x70, '1', 0x32, 0xFF}, {"ESC p drawer pin 5 on 100 ms off 510 ms"}},
        {{0x1B, 0x70, 0x07, 0x08, 0x08}, {"hex: 1B 70 07 08 08"}},
        {{0x10, 0x04, 0x01, 0x10, 0x04, 0x04, 0x10, 0x04, 0x05},
         {"<status 1>", "<status 4>", "hex: 10 04 05"}},
        // 192 + 168 + 1 + 20 = 0x17D
        {{0x1D, 0x44, 192, 168, 1, 20, 0x7D},
         {"GS D new address 192.168.1.20 (checksum ok, pending until restart)",
          "<address C0 A8 01 14>"}},
        {{0x1D, 0x44, 192, 168, 1, 20, 0x7C},
         {"GS D rejected: bad checksum 7C (expected 7D) for 192.168.1.20"}},
        // AE+2B+64+14+2C+6C = 0x1E9
        {{0x1D, 0x45, 0xAE, 0x2B, 0x64, 0x14, 0x2C, 0x6C, 0xE9},
         {"GS E new MAC AE-2B-64-14-2C-6C (checksum ok, pending until restart)",
          "<mac AE 2B 64 14 2C 6C>"}},
        {{0x1D, 0x45, 0xAE, 0x2B, 0x64, 0x14, 0x2C, 0x6C, 0x00},
         {"GS E rejected: bad checksum 00 (expected E9) for AE-2B-64-14-2C-6C"}},
        // Argument bytes that look like commands are still arguments.
        {{0x1D, 0x44, 0x10, 0x04, 0x1B, 0x0A, 0x39},
         {"GS D new address 16.4.27.10 (checksum ok, pending until restart)",
          "<address 10 04 1B 0A>"}},
        {Text("Hello\r\nWorld\n\n"), {"text: Hello", "text: World", "text: "}},
        // 你好 in GB18030, then a four-byte sequence (U+1F600)
        {{0xC4, 0xE3, 0xBA, 0xC3, 0x94, 0x39, 0xFC, 0x36, 0x0A}, {"text: 你好\xF0\x9F\x98\x80"}},
        // Invalid bytes and tabs are shown, not passed on.
        {{'a', 0xFF, 'b', 0x09, 'c', 0x0A}, {"text: a\\xFFb\\x09c"}},
        // Text without a line end still shows when a command (ESC m) or the end cuts it.
        {Text("Cut test\x1Bmtail"), {"text: Cut test", "ESC m partial cut", "text: tail"}},
        {{0x1D, 0x21, 0x00}, {"hex: 1D 21 00"}},
        {{0x1B, 0x99, 'A', 0x0A, 0x07, 0x08, 'B', 0x0A},
         {"hex: 1B 99", "text: A", "hex: 07 08", "text: B"}},
        {Bytes(20, 0x07),
         {"hex: 07 07 07 07 07 07 07 07 07 07 07 07 07 07 07 07", "hex: 07 07 07 07"}},
        {{0x1D, 0x44, 0xC0, 0xA8}, {"truncated: 1D 44 C0 A8"}},
        {{'o', 'k', 0x1B}, {"text: ok", "truncated: 1B"}},
        {{0xC4}, {"text: \\xC4"}},
        // A two-byte character across the 1024-byte cut of a long line stays whole.
        {Text(std::string(1023, 'x') + "\xC4\xE3\n"),
         {"text: " + std::string(1023, 'x'), "text: 你"}},
    };
    for (const auto& [in, out] : cases) {
        SCOPED_TRACE(HexBytes(in.data(), in.size()));
        EXPECT_EQ(Decode(in), out);
        EXPECT_EQ(Decode(in, true), out);
    }
}

TEST(CommandDecoder, FloodsStayBoundedAndPiecesGiveTheSameJournal) {
    const Lines flood = Decode(Bytes(100000, 'y'));
    EXPECT_EQ(flood.size(), 98u);
    for (const auto& line : flood) {
        EXPECT_LE(line.size(), 6 + CommandDecoder::kMaxTextLineBytes);
    }
    Bytes bytes = Text("Hello 你好\n\x1B@" + std::string(3000, 'q'));
    const Bytes noise = RandomBytes(4000, 7);
    bytes.insert(bytes.end(), noise.begin(), noise.end());
    EXPECT_EQ(Decode(bytes, true), Decode(bytes));
}

// ---------------------------------------------------------------- conditions

TEST(PrinterState, RepliesOfEachCondition) {
    const std::pair<const char*, std::array<uint8_t, 4>> cases[] = {
        {"online", {0x12, 0x12, 0x12, 0x12}},
        {"offline", {0x1A, 0x12, 0x12, 0x12}},
        {"cover-open", {0x1A, 0x16, 0x12, 0x12}},
        {"paper-near-end", {0x12, 0x12, 0x12, 0x1E}},
        {"paper-end", {0x1A, 0x32, 0x12, 0x7E}},
        {"over-temp", {0x1A, 0x52, 0x52, 0x12}},
        {"waiting-recovery", {0x3A, 0x12, 0x12, 0x12}},
        {"drawer", {0x16, 0x12, 0x12, 0x12}},
        {"paper-near-end,drawer", {0x16, 0x12, 0x12, 0x1E}}};
    for (const auto& [names, replies] : cases) {
        SCOPED_TRACE(names);
        ConditionSet set;
        EXPECT_FALSE(ApplyConditionList(set, names, true));
        EXPECT_EQ(StatusReplies(set), replies);
        EXPECT_EQ(ConditionNames(set), names);
    }
}

// ---------------------------------------------------------------- printer over sockets

// A client that connects at once (blocking), or holds the connect's error.
struct Client {
    UniqueFd fd;
    int error = 0;

    explicit Client(uint16_t port) : fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        const timeval wait{std::chrono::seconds(kWait).count(), 0};
        ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        const sockaddr_in addr = LoopbackAddress(port);
        error =
            ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) ? errno : 0;
    }
    void Send(const Bytes& b) {
        ASSERT_EQ(::send(fd.get(), b.data(), b.size(), MSG_NOSIGNAL), ssize_t(b.size()));
    }
    // The next byte; none once the printer closed or kWait passed.
    Bytes Receive() {
        uint8_t byte = 0;
        return ::recv(fd.get(), &byte, 1, 0) == 1 ? Bytes{byte} : Bytes{};
    }
};

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
    EXPECT_EQ(first->Receive(), Bytes{0x12});
    first.reset();
    ASSERT_TRUE(journal.WaitForPrefix("session 1 closed", kWait));
    EXPECT_EQ(Client(printer->Port()).error, 0);
    EXPECT_TRUE(journal.WaitForPrefix("session 3 open", kWait));
}

TEST(VirtualPrinter, SessionsAtTheSameTimeAreServedSeparately) {
    auto printer = StartLoopbackPrinter();
    Client a(printer->Port());
    Client b(printer->Port());
    a.Send(Text("from a"));
    b.Send(Text("from b\n"));
    ASSERT_TRUE(printer->GetJournal().WaitForLine("text: from b", kWait));
    a.Send({0x0A, 0x10, 0x04, 0x01});
    EXPECT_EQ(a.Receive(), Bytes{0x12});
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
    { Client(printer->Port()).Send(RandomBytes(1 << 20, 99)); }
    {
        // Status requests with nobody reading the replies, then a close
        // with replies unread (a reset).
        Client flood(printer->Port());
        const timeval stall{0, 200000};
        ::setsockopt(flood.fd.get(), SOL_SOCKET, SO_SNDTIMEO, &stall, sizeof stall);
        std::string requests;
        for (int i = 0; i < 300000; ++i) {
            requests += "\x10\x04\x01";
        }
        EXPECT_GT(::send(flood.fd.get(), requests.data(), requests.size(), MSG_NOSIGNAL), 0);
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
    EXPECT_EQ(after.Receive(), Bytes{0x12});
}

TEST(VirtualPrinter, NetbiosResponderAnswersQueriesOnly) {
    auto printer =
        StartLoopbackPrinter([](VirtualPrinterConfig& c) { c.netbios = true, c.netbiosPort = 0; });
    ASSERT_NE(printer->NetbiosPort(), 0);
    UniqueFd udp(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const sockaddr_in to = LoopbackAddress(printer->NetbiosPort());
    ASSERT_EQ(::connect(udp.get(), reinterpret_cast<const sockaddr*>(&to), sizeof to), 0);
    auto exchange = [&](const Bytes& datagram, int timeoutMs) {
        EXPECT_EQ(::send(udp.get(), datagram.data(), datagram.size(), 0), ssize_t(datagram.size()));
        pollfd p{udp.get(), POLLIN, 0};
        Bytes reply(600);
        reply.resize(::poll(&p, 1, timeoutMs) == 1
                         ? size_t(std::max<ssize_t>(0, ::recv(udp.get(), reply.data(), 600, 0)))
                         : 0);
        return reply;
    };
    const Bytes reply = exchange({0x80, 0x21, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0}, 5000);
    ASSERT_GE(reply.size(), 3u);
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 2), (Bytes{0x80, 0x21}));
    EXPECT_TRUE(printer->GetJournal().WaitForPrefix("netbios: answered 127.0.0.1:", kWait));
    // A response is not answered, so two responders cannot talk forever.
    EXPECT_TRUE(exchange(reply, 150).empty());
}

TEST(VirtualPrinter, CreationErrorsAreValuesAndStopReleasesThePort) {
    VirtualPrinterConfig config;
    config.listenAddresses = {"not-an-address"};
    EXPECT_EQ(VirtualPrinter::Create(config).error, "not an IPv4 address: not-an-address");
    auto printer = StartLoopbackPrinter();
    config.listenAddresses = {"127.0.0.1"};
    config.port = printer->Port();
    auto clash = VirtualPrinter::Create(config);
    EXPECT_FALSE(clash.printer);
    EXPECT_NE(clash.error.find("bind"), std::string::npos) << clash.error;
    Client idle(config.port);
    ASSERT_TRUE(printer->GetJournal().WaitForPrefix("session 1 open", kWait));
    printer->Stop();
    printer->Stop();
    EXPECT_TRUE(idle.Receive().empty());
    EXPECT_EQ(printer->GetJournal().Lines().back(),
              "session 1 closed after 0 bytes (printer stopped)");
    EXPECT_EQ(printer->OpenSessions(), 0u);
    EXPECT_EQ(Client(config.port).error, ECONNREFUSED);
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
}

// ---------------------------------------------------------------- command line

TEST(PrinterCommandLine, DefaultsAndEveryOption) {
    const auto defaults = ParsePrinterArguments({}).arguments;
    ASSERT_TRUE(defaults);
    EXPECT_EQ(defaults->config.listenAddresses, (Lines{"0.0.0.0"}));
    EXPECT_EQ(defaults->config.port, 9100);

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
    EXPECT_EQ(a.journalPath + " " + a.rawPath, "j.txt r.bin");
    EXPECT_TRUE(a.config.netbios && a.help);
}

TEST(PrinterCommandLine, MistakesAreReported) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--port", "65536"}, "bad port: 65536"},
        {{"--port", "12x"}, "bad port: 12x"},
        {{"--port"}, "--port needs a value"},
        {{"--mode", "quiet"}, "unknown mode: quiet"},
        {{"--condition", "paper-end,jam"}, "unknown condition: jam"},
        {{"--condition="}, "unknown condition: "},
        {{"--verbose"}, "unknown option: --verbose"},
        {{"--netbios=1"}, "--netbios takes no value"}};
    for (const auto& [args, error] : cases) {
        const auto parsed = ParsePrinterArguments(args);
        EXPECT_FALSE(parsed.arguments) << error;
        EXPECT_EQ(parsed.error, error);
    }
}

TEST(PrinterControlLines, ChangeTheRunningPrinter) {
    auto printer = StartLoopbackPrinter();
    auto names = [&] { return ConditionNames(printer->Conditions()); };
    EXPECT_FALSE(ApplyControlLine(*printer, "set paper-end cover-open").quit);
    EXPECT_EQ(names(), "cover-open,paper-end");
    EXPECT_TRUE(printer->GetJournal().WaitForLine("conditions: cover-open,paper-end", kWait));
    ApplyControlLine(*printer, "clear cover-open,paper-end");
    ApplyControlLine(*printer, "clear online");  // online is the absence of offline
    EXPECT_EQ(names(), "offline");

    EXPECT_EQ(ApplyControlLine(*printer, "set offline jammed").error, "unknown condition: jammed");
    EXPECT_EQ(names(), "offline") << "a bad line changes nothing";
    EXPECT_EQ(ApplyControlLine(*printer, "set").error, "set needs at least one condition");
    EXPECT_TRUE(ApplyControlLine(*printer, "").error.empty());

    const auto show = ApplyControlLine(*printer, "show");
    EXPECT_TRUE(show.reply.starts_with("conditions offline; mode normal; port " +
                                       std::to_string(printer->Port())))
        << show.reply;
    EXPECT_NE(show.reply.find("status 1A 12 12 12"), std::string::npos) << show.reply;
    ApplyControlLine(*printer, "set online");
    EXPECT_EQ(names(), "online");
    EXPECT_TRUE(ApplyControlLine(*printer, "quit").quit);
}

// ---------------------------------------------------------------- the process

// The next line from a pipe that starts with `prefix`, or nothing at the end
// or when the pipe stays silent for kWait.
std::optional<std::string> ReadLine(const UniqueFd& fd, std::string_view prefix = "") {
    std::string line;
    for (char c;;) {
        pollfd p{fd.get(), POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(std::chrono::milliseconds(kWait).count())) != 1 ||
            ::read(fd.get(), &c, 1) != 1) {
            return std::nullopt;
        }
        if (c == '\n' && line.starts_with(prefix)) {
            return line;
        }
        line = c == '\n' ? std::string() : line + c;
    }
}

// vorpane-printer with pipes on its standard streams: io[0] its input,
// io[1] its output, io[2] its errors.
struct PrinterProcess {
    explicit PrinterProcess(std::vector<std::string> args) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        int pipes[3][2];
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(::pipe2(pipes[i], O_CLOEXEC), 0);
            posix_spawn_file_actions_adddup2(&actions, pipes[i][i == 0 ? 0 : 1], i);
        }
        args.insert(args.begin(), VORPANE_PRINTER_EXE);
        std::vector<char*> argv;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        EXPECT_EQ(posix_spawn(&pid, VORPANE_PRINTER_EXE, &actions, nullptr, argv.data(), environ),
                  0);
        posix_spawn_file_actions_destroy(&actions);
        for (int i = 0; i < 3; ++i) {
            ::close(pipes[i][i == 0 ? 0 : 1]);
            io[i].reset(pipes[i][i == 0 ? 1 : 0]);
        }
    }
    ~PrinterProcess() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            Wait();
        }
    }
    void Write(const std::string& text) {
        EXPECT_EQ(::write(io[0].get(), text.data(), text.size()),
                  static_cast<ssize_t>(text.size()));
    }
    // The exit code once the process is gone; -1 when it did not exit.
    int Wait() {
        int status = 0;
        ::waitpid(std::exchange(pid, -1), &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    pid_t pid = -1;
    UniqueFd io[3];
};

std::string TempPath(const char* name) {
    return ::testing::TempDir() + name + std::to_string(::getpid());
}

std::string ReadFile(const std::string& path) {
    std::ostringstream out;
    out << std::ifstream(path, std::ios::binary).rdbuf();
    std::remove(path.c_str());
    return out.str();
}

TEST(PrinterProcess, ServesAndFollowsControlLines) {
    const std::string rawPath = TempPath("raw");
    PrinterProcess process(
        {"--listen", "127.0.0.1", "--port", "0", "--condition", "drawer", "--raw", rawPath});
    const auto listening = ReadLine(process.io[1], "listening on 127.0.0.1:");
    ASSERT_TRUE(listening);
    const std::string rest = listening->substr(std::strlen("listening on 127.0.0.1:"));
    EXPECT_TRUE(rest.ends_with(" (mode normal, conditions drawer)")) << rest;

    Client client(static_cast<uint16_t>(std::stoi(rest)));
    client.Send({0x10, 0x04, 1});
    EXPECT_EQ(client.Receive(), Bytes{0x16});
    process.Write("set paper-end\n");
    EXPECT_EQ(ReadLine(process.io[1], "conditions:"), "conditions: paper-end,drawer");
    // The change reaches a session that was already open.
    client.Send({0x10, 0x04, 4});
    EXPECT_EQ(client.Receive(), Bytes{0x7E});
    EXPECT_EQ(ReadLine(process.io[1], "DLE EOT 4"), "DLE EOT 4 status request, answered 7E");
    client.Send(Text("Hello\n\x1Bm"));
    EXPECT_EQ(ReadLine(process.io[1], "text:"), "text: Hello");
    EXPECT_EQ(ReadLine(process.io[1]), "ESC m partial cut");
    // A new address and MAC wait for a restart; our half-close ends the session.
    client.Send({0x1D, 0x44, 10, 0, 0, 7, 0x11, 0x1D, 0x45, 1, 2, 3, 4, 5, 6, 21});
    ::shutdown(client.fd.get(), SHUT_WR);
    EXPECT_EQ(ReadLine(process.io[1], "GS D"),
              "GS D new address 10.0.0.7 (checksum ok, pending until restart)");
    EXPECT_EQ(ReadLine(process.io[1]),
              "GS E new MAC 01-02-03-04-05-06 (checksum ok, pending until restart)");
    EXPECT_EQ(ReadLine(process.io[1], "session 1 closed"), "session 1 closed after 30 bytes");
    EXPECT_TRUE(client.Receive().empty());
    process.Write("show\nrestart\nshow\nfly\n");
    const auto pending = ReadLine(process.io[1], "conditions paper-end,drawer; mode normal;");
    EXPECT_NE(pending.value_or("").find("; address 127.0.0.1 (pending 10.0.0.7); MAC "),
              std::string::npos);
    EXPECT_EQ(ReadLine(process.io[1], "restart:"),
              "restart: address now 10.0.0.7, MAC now 01-02-03-04-05-06");
    const auto taken = ReadLine(process.io[1], "conditions ");
    EXPECT_NE(taken.value_or("").find(
                  "address 10.0.0.7 (pending none); MAC 01-02-03-04-05-06 (pending none)"),
              std::string::npos);
    EXPECT_EQ(ReadLine(process.io[2]), "vorpane-printer: unknown control line: fly");
    process.Write("quit\n");
    EXPECT_FALSE(ReadLine(process.io[1], "never"));  // output ends as it exits
    EXPECT_EQ(process.Wait(), 0);
    EXPECT_EQ(ReadFile(rawPath),
              std::string("\x10\x04\x01\x10\x04\x04Hello\n\x1Bm\x1D\x44\x0A\0\0\x07\x11"
                          "\x1D\x45\x01\x02\x03\x04\x05\x06\x15",
                          30));
}

TEST(PrinterProcess, JournalFileHelpAndBadCommandLine) {
    const std::string journalPath = TempPath("journal");
    PrinterProcess journalled({"--listen", "127.0.0.1", "--port", "0", "--journal", journalPath});
    journalled.Write("quit\n");
    EXPECT_EQ(journalled.Wait(), 0);
    const std::string journal = ReadFile(journalPath);
    EXPECT_TRUE(journal.starts_with("listening on 127.0.0.1:")) << journal;

    PrinterProcess help({"--help"});
    std::string text;
    while (auto line = ReadLine(help.io[1])) {
        text += *line + "\n";
    }
    EXPECT_NE(text.find("--condition NAME[,NAME...]"), std::string::npos) << text;
    EXPECT_NE(text.find("GS D new address"), std::string::npos) << "the help describes the journal";
    EXPECT_EQ(help.Wait(), 0);

    PrinterProcess bad({"--mode", "sleepy"});
    EXPECT_EQ(ReadLine(bad.io[2]), "vorpane-printer: unknown mode: sleepy");
    EXPECT_EQ(bad.Wait(), 2);
}

}  // namespace
}  // namespace vorpane
