// The virtual printer: its conditions, its sessions over sockets, its journal
// and its receipt files, on loopback with ports the system picks.

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "hostile_inputs.h"
#include "loopback_printer.h"
#include "printer_client.h"
#include "printer_test_util.h"

#include "platform/unique_fd.h"
#include "platform/whole_file.h"
#include "printer/printer_cli.h"
#include "virtual_printer/printer_state.h"
#include "virtual_printer/receipt_files.h"
#include "virtual_printer/virtual_printer.h"

namespace vorpane {
namespace {

// ---------------------------------------------------------------- conditions

TEST(PrinterState, RepliesOfEachCondition) {
    using Four = std::array<uint8_t, 4>;
    // DLE EOT 1..4, automatic status back, GS r 2.
    const std::tuple<const char*, Four, Four, uint8_t> cases[] = {
        {"online", {0x12, 0x12, 0x12, 0x12}, {0x10, 0, 0, 0}, 0},
        {"offline", {0x1A, 0x12, 0x12, 0x12}, {0x18, 0, 0, 0}, 0},
        {"cover-open", {0x1A, 0x16, 0x12, 0x12}, {0x38, 0, 0, 0}, 0},
        {"paper-near-end", {0x12, 0x12, 0x12, 0x1E}, {0x10, 0, 0x03, 0}, 0},
        {"paper-end", {0x1A, 0x32, 0x12, 0x7E}, {0x18, 0, 0x0F, 0}, 0},
        {"over-temp", {0x1A, 0x52, 0x52, 0x12}, {0x18, 0x40, 0, 0}, 0},
        {"waiting-recovery", {0x3A, 0x12, 0x12, 0x12}, {0x18, 0x01, 0, 0}, 0},
        {"drawer", {0x16, 0x12, 0x12, 0x12}, {0x14, 0, 0, 0}, 1},
        {"cutter-error", {0x1A, 0x52, 0x1A, 0x12}, {0x18, 0x08, 0, 0}, 0},
        {"mechanical-error", {0x1A, 0x52, 0x16, 0x12}, {0x18, 0x04, 0, 0}, 0},
        {"unrecoverable-error", {0x1A, 0x52, 0x32, 0x12}, {0x18, 0x20, 0, 0}, 0},
        {"feed-button", {0x5A, 0x1A, 0x12, 0x12}, {0x58, 0x02, 0, 0}, 0},
        {"paper-near-end,drawer", {0x16, 0x12, 0x12, 0x1E}, {0x14, 0, 0x03, 0}, 1}};
    for (const auto& [names, replies, automatic, drawer] : cases) {
        SCOPED_TRACE(names);
        ConditionSet set;
        EXPECT_FALSE(ApplyConditionList(set, names, true));
        EXPECT_EQ(StatusReplies(set), replies);
        EXPECT_EQ(AutomaticStatus(set), automatic);
        EXPECT_EQ(TransmitStatusReply(set, 49), automatic[2]);
        EXPECT_EQ(TransmitStatusReply(set, 2), drawer);
        EXPECT_EQ(ConditionNames(set), names);
        // Only the groups GS a enabled count as a change.
        EXPECT_EQ(AutomaticStatusChanged(AutomaticStatus({}), automatic, 0x0F),
                  std::string(names) != "online");
        EXPECT_FALSE(AutomaticStatusChanged(AutomaticStatus({}), automatic, 0));
    }
}

// ---------------------------------------------------------------- printer over sockets

TEST(VirtualPrinter, OneSessionModeResetsASecondSession) {
    auto printer =
        StartLoopbackPrinter([](VirtualPrinterConfig& c) { c.mode = PrinterMode::kOneSession; });
    Journal& journal = printer->GetJournal();
    auto first = std::make_unique<Client>(printer->Port());
    ASSERT_TRUE(journal.WaitForPrefix("session 1 open", kWait));
    Client second(printer->Port(), 0x7F000003);  // another client address changes nothing
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
    // Session 2 opened last: session 1's lines are named again.
    const auto line = printer->GetJournal().WaitForLine("text: from a", kWait);
    ASSERT_TRUE(line);
    EXPECT_EQ(printer->GetJournal().LineAt(*line - 1), "session 1:");
}

// GS ( H fn 48 comes back once everything before it is printed: at once on
// a printer that prints, after the paper is back on one stopped at its end,
// and never for a request of another form.
TEST(VirtualPrinter, ProcessIdComesBackOncePrinted) {
    ConditionSet paperEnd;
    paperEnd.Add(Condition::kPaperEnd);
    auto printer = StartLoopbackPrinter();
    Client client(printer->Port());
    const auto receive = [&](size_t n) {
        Bytes got;
        while (got.size() < n) {
            const Bytes one = client.Receive();
            if (one.empty()) {
                break;
            }
            got.push_back(one[0]);
        }
        return got;
    };
    const Bytes ask12 = {0x1D, '(', 'H', 6, 0, 48, 48, '1', '2', '3', '4'};
    const Bytes ask56 = {0x1D, '(', 'H', 6, 0, 48, 48, '5', '6', '7', '8'};
    client.Send(Text("sale\n") + ask12);
    EXPECT_EQ(receive(7), (Bytes{0x37, 0x22, '1', '2', '3', '4', 0}));
    printer->SetConditions(paperEnd);
    client.Send(Text("next\n") + ask56 + Bytes{0x10, 0x04, 4});
    // Real-time status still answers; the ID waits.
    EXPECT_EQ(receive(1), Bytes{0x7E});
    EXPECT_TRUE(printer->GetJournal().WaitForLine(
        "GS ( H process ID 5678, held: printing is stopped", kWait));
    printer->SetConditions({});
    EXPECT_EQ(receive(7), (Bytes{0x37, 0x22, '5', '6', '7', '8', 0}));
    // Not digits, or another fn: passed over, nothing sent.
    client.Send({0x1D, '(', 'H', 6,  0,  48,  48,  '1', 'x', '3',  '4',  0x1D, '(',
                 'H',  6,   0,   49, 48, '1', '2', '3', '4', 0x10, 0x04, 1});
    EXPECT_EQ(receive(1), Bytes{0x12});
}

TEST(VirtualPrinter, AnswersStatusIdAndAutomaticStatusBack) {
    ConditionSet paperEnd;
    paperEnd.Add(Condition::kPaperEnd);
    auto printer = StartLoopbackPrinter([&](VirtualPrinterConfig& c) { c.conditions = paperEnd; });
    if (std::system("command -v node >/dev/null 2>&1") == 0) {
        // node-thermal-printer's status call is GS r 1.
        const std::string out = testing::TempDir() + "npm-status.txt";
        ASSERT_EQ(std::system(("node '" NPM_CLIENT_DIR "/status.js' " +
                               std::to_string(printer->Port()) + " > '" + out + "'")
                                  .c_str()),
                  0);
        std::string hex;
        std::ifstream(out) >> hex;
        EXPECT_EQ(hex, "0f");
    }
    Client client(printer->Port());
    const auto receive = [&](size_t n) {
        Bytes got;
        for (Bytes b; got.size() < n && !(b = client.Receive()).empty();) {
            got.push_back(b[0]);
        }
        return got;
    };
    client.Send({0x1D, 'r', '2', 0x1D, 'I', 'C', 0x1D, 'I', 2, 0x1D, 'a', 0x0F});
    EXPECT_EQ(receive(1), Bytes{0});
    EXPECT_EQ(receive(15), B("_VP-80 virtual") + Bytes{0});
    EXPECT_EQ(receive(1), Bytes{0x03});
    EXPECT_EQ(receive(4), (Bytes{0x18, 0, 0x0F, 0}));
    // Sent again, unasked, when a condition changes.
    ConditionSet drawer;
    drawer.Add(Condition::kDrawer);
    printer->SetConditions(drawer);
    EXPECT_EQ(receive(4), (Bytes{0x14, 0, 0, 0}));
    EXPECT_TRUE(
        printer->GetJournal().WaitForLine("automatic status back, sent 14 00 00 00", kWait));
}

TEST(VirtualPrinter, ShowsAReceiptWhileItPrintsAndOnceMoreAtItsEnd) {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<PaperUpdate> seen;
    auto printer = StartLoopbackPrinter([&](VirtualPrinterConfig& c) {
        c.paperWatcher = [&](PaperUpdate u) {
            std::lock_guard lock(mutex);
            seen.push_back(std::move(u));
            changed.notify_all();
        };
    });
    const auto waitFor = [&](uint64_t receipt, bool finished) -> std::optional<PaperUpdate> {
        std::unique_lock lock(mutex);
        std::optional<PaperUpdate> found;
        changed.wait_for(lock, kWait, [&] {
            for (const PaperUpdate& u : seen) {
                if (u.receipt == receipt && u.finished == finished) {
                    found = u;
                }
            }
            return found.has_value();
        });
        return found;
    };
    Client a(printer->Port());
    a.Send(Text("first line\n"));
    const auto printing = waitFor(1, false);
    ASSERT_TRUE(printing) << "nothing shown before the cut";
    EXPECT_EQ(printing->session, 1u);
    EXPECT_TRUE(printing->client.starts_with("127.0.0.1:"));
    EXPECT_TRUE(printing->paper->paper.AnyInk());
    a.Send(Text("second line\n") + B("\x1dVA\x00"));
    const auto cut = waitFor(1, true);
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->paper->cut, receipt::CutKind::kFull);
    EXPECT_GT(cut->paper->paper.Height(), printing->paper->paper.Height());
    a.Send(Text("next receipt\n"));
    a.fd.reset();
    const auto last = waitFor(2, true);
    ASSERT_TRUE(last) << "the session's end ends its receipt";
    EXPECT_EQ(last->session, 1u);
}

TEST(VirtualPrinter, OneClientAddressCannotHoldEverySession) {
    constexpr uint32_t kHog = 0x7F000002;    // 127.0.0.2
    constexpr uint32_t kOther = 0x7F000003;  // 127.0.0.3
    auto printer = StartLoopbackPrinter();
    Journal& journal = printer->GetJournal();
    // Every slot taken from one address. The idle time-out would not free
    // them: a byte now and then keeps a session open.
    std::vector<std::unique_ptr<Client>> hog;
    for (size_t i = 0; i < limits::kMaxSessions; ++i) {
        hog.push_back(std::make_unique<Client>(printer->Port(), kHog));
    }
    ASSERT_TRUE(journal.WaitFor(
        [&](const std::string&) { return printer->OpenSessions() == limits::kMaxSessions; },
        kWait));
    // One more from the same address is turned away as before...
    Client extra(printer->Port(), kHog);
    EXPECT_TRUE(journal.WaitForPrefix("session 65 reset: too many sessions", kWait));
    // ...while clients from another address are served, each in a slot the
    // first address gives up.
    std::vector<std::unique_ptr<Client>> others;
    size_t from = 0;
    for (int i = 0; i < 3; ++i) {
        others.push_back(std::make_unique<Client>(printer->Port(), kOther));
        others.back()->Send({0x10, 0x04, 0x01});
        EXPECT_EQ(others.back()->Receive(), Bytes{0x12}) << i;
        const auto made = journal.WaitFor(
            [](const std::string& l) {
                return l.ends_with("(reset for a session from 127.0.0.3)");
            },
            kWait, from);
        EXPECT_TRUE(made) << i;
        if (!made) {
            break;
        }
        from = *made + 1;
    }
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

TEST(VirtualPrinter, NetbiosResponderAnswersQueriesOnlyWhereItListens) {
    auto printer = StartLoopbackPrinter([](VirtualPrinterConfig& c) {
        c.listenAddresses = {"127.0.0.2"};
        c.netbios = true;
        c.netbiosPort = 0;
    });
    const uint16_t port = printer->NetbiosPort();
    ASSERT_NE(port, 0);
    EXPECT_TRUE(printer->GetJournal().WaitForLine(
        "netbios responder on udp 127.0.0.2:" + std::to_string(port), kWait));
    // A datagram to `address`, and the reply or the error (ECONNREFUSED:
    // nobody listens there, ETIMEDOUT: no reply).
    auto exchange = [&](uint32_t address, const Bytes& datagram, int timeoutMs) {
        UniqueFd udp(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        sockaddr_in to = LoopbackAddress(port);
        to.sin_addr.s_addr = htonl(address);
        EXPECT_EQ(::connect(udp.get(), reinterpret_cast<const sockaddr*>(&to), sizeof to), 0);
        EXPECT_EQ(::send(udp.get(), datagram.data(), datagram.size(), 0), ssize_t(datagram.size()));
        pollfd p{udp.get(), POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) != 1) {
            return std::pair(Bytes{}, ETIMEDOUT);
        }
        Bytes reply(600);
        const ssize_t n = ::recv(udp.get(), reply.data(), reply.size(), MSG_DONTWAIT);
        reply.resize(size_t(std::max<ssize_t>(n, 0)));
        return std::pair(reply, n < 0 ? errno : 0);
    };
    const Bytes query = {0x80, 0x21, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0};
    // Other addresses of the machine have no responder.
    for (const uint32_t elsewhere : {0x7F000001u, 0x7F000003u}) {
        EXPECT_EQ(exchange(elsewhere, query, 5000), std::pair(Bytes{}, ECONNREFUSED)) << elsewhere;
    }
    const auto [reply, error] = exchange(0x7F000002, query, 5000);
    ASSERT_GE(reply.size(), 3u) << error;
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 2), (Bytes{0x80, 0x21}));
    EXPECT_TRUE(printer->GetJournal().WaitForPrefix("netbios: answered 127.0.0.", kWait));
    // A response is not answered, so two responders cannot talk forever.
    EXPECT_EQ(exchange(0x7F000002, reply, 150), std::pair(Bytes{}, ETIMEDOUT));
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

TEST(VirtualPrinter, IdleSessionsAreClosed) {
    auto printer = StartLoopbackPrinter([](VirtualPrinterConfig& c) { c.idleTimeout = 200ms; });
    Client client(printer->Port());
    // Open for 120 ms, then data starts the 200 ms again.
    pollfd closed{client.fd.get(), POLLIN, 0};
    EXPECT_EQ(::poll(&closed, 1, 120), 0);
    const auto sent = std::chrono::steady_clock::now();
    client.Send({'x'});
    EXPECT_TRUE(client.Receive().empty());
    EXPECT_GE(std::chrono::steady_clock::now() - sent, 190ms);
    EXPECT_TRUE(printer->GetJournal().WaitForLine("session 1 closed after 1 bytes (idle for 0.2 s)",
                                                  kWait));
}

// The worst delay of `requests` status replies to a fresh client.
std::chrono::milliseconds WorstStatusDelay(VirtualPrinter& printer, int requests) {
    Client probe(printer.Port());
    auto worst = std::chrono::steady_clock::duration::zero();
    for (int i = 0; i < requests; ++i) {
        const auto start = std::chrono::steady_clock::now();
        probe.Send({0x10, 0x04, 0x01});
        EXPECT_EQ(probe.Receive(), Bytes{0x12});
        worst = std::max(worst, std::chrono::steady_clock::now() - start);
    }
    return std::chrono::ceil<std::chrono::milliseconds>(worst);
}

TEST(VirtualPrinter, FloodsDoNotDelayAnotherClientsStatusReply) {
    const std::string dir = ::testing::TempDir() + "flood" + std::to_string(::getpid());
    auto printer = StartLoopbackPrinter([&](VirtualPrinterConfig& c) {
        c.renderDir = dir;
        c.journalLines = 1000;
    });
    // One client sends receipts (text, styles, a QR code, a cut) as fast as
    // they are read, one asks for status and never reads the replies.
    std::atomic<bool> stop{false};
    auto flood = [&](Bytes bytes) {
        Client client(printer->Port());
        const timeval stall{0, 100000};
        ::setsockopt(client.fd.get(), SOL_SOCKET, SO_SNDTIMEO, &stall, sizeof stall);
        while (!stop) {
            ::send(client.fd.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
        }
    };
    Bytes requests;
    for (int i = 0; i < 100000; ++i) {
        requests.insert(requests.end(), {0x10, 0x04, 0x01});
    }
    const Bytes block = B("\x1B!\x38Receipt\n\x1B!\x00") + Text(std::string(40, '=') + " 12.50\n") +
                        B("\x1D(k\x04\x00"
                          "1P0q\x1D(k\x03\x00"
                          "1Q0\x1DV\x01");
    Bytes receipts;
    while (receipts.size() < (1u << 20)) {
        receipts.insert(receipts.end(), block.begin(), block.end());
    }
    std::thread noise(flood, receipts);
    std::thread asker(flood, requests);
    // Under way once a quarter of a flood is in: a sanitizer build under
    // load takes its time to read more.
    EXPECT_TRUE(printer->GetJournal().WaitFor(
        [&](const std::string&) { return printer->Raw().Size() > (1u << 18); }, kWait * 4));
    const auto worst = WorstStatusDelay(*printer, 10);
    stop = true;
    noise.join();
    asker.join();
    // Some 20 ms on an idle machine; the bound leaves room for a loaded one,
    // as the costly-command case below does for one flooder.
    EXPECT_LE(worst, 250ms);
    // The receipts saved meanwhile are whole pictures with their QR code.
    printer.reset();
    const std::filesystem::directory_iterator files(dir);
    ASSERT_NE(files, std::filesystem::directory_iterator());
    const auto file = files->path();
    std::ifstream in(file, std::ios::binary);
    const auto rows = ReadPng(Bytes(std::istreambuf_iterator<char>(in), {}));
    ASSERT_FALSE(rows.empty()) << file;
    EXPECT_EQ(ReadBack(
                  int(rows[0].size()), int(rows.size()),
                  [&](int x, int y) { return rows[y][x] == 1; }, BarcodeFormat::QRCode),
              "q");
    std::filesystem::remove_all(dir);
}

// Sessions that each hold stored graphics, a long receipt, a page and a
// command still arriving share one memory: past it the session over drops
// its largest holdings and says so, receipts stop growing, and the count
// never passes the limit by more than one image.
TEST(PrintSession, SessionsShareOneMemoryAndTheOneOverDropsItsLargest) {
    constexpr size_t kImage = 256 << 10;
    SharedMemory memory(size_t{8} << 20);
    const auto glyphs = receipt::MakeBoxGlyphs();
    const auto symbols = receipt::MakeSymbolEncoder();
    const DrawingTools tools{glyphs.get(), symbols.get(), {}, &memory};
    const hostile::Holdings holdings = hostile::Hold(kImage);
    std::vector<std::unique_ptr<Recorder>> recorders;
    std::vector<std::unique_ptr<PrintSession>> sessions;
    size_t worst = 0;
    for (int i = 0; i < 16; ++i) {
        recorders.push_back(std::make_unique<Recorder>());
        sessions.push_back(std::make_unique<PrintSession>(*recorders.back(), true, &tools));
        for (const Bytes* bytes : {&holdings.held, &holdings.arriving}) {
            sessions.back()->Feed(bytes->data(), bytes->size());
            worst = std::max(worst, memory.Used());
        }
    }
    EXPECT_LE(worst, memory.Limit() + 2 * kImage);
    EXPECT_GT(worst, memory.Limit() / 2);
    auto said = [&](const std::string& prefix) {
        return std::count_if(recorders.begin(), recorders.end(), [&](const auto& r) {
            return std::any_of(r->lines.begin(), r->lines.end(),
                               [&](const std::string& l) { return l.starts_with(prefix); });
        });
    };
    EXPECT_GT(said("printer memory over 8 MiB, shared by its sessions: dropped "), 4);
    EXPECT_GT(said("printer memory full: the rest of this receipt is not drawn"), 4);
    sessions.clear();
    EXPECT_EQ(memory.Used(), 0u);
}

TEST(PrintSession, StoppingBetweenCommandsChangesNothingDecoded) {
    // A deadline already past stops the feed after every command; fed
    // again from where it stopped, the session sees what it sees at once.
    const Bytes bytes =
        B("\x1B@Hello\x1B!\x38 big\n\x1B"
          "t\x00\x1D(k\x04\x00"
          "1P0q\x1D(k\x03\x00"
          "1Q0"
          "\x10\x04\x01\x1Dv0\x00\x01\x00\x02\x00\xFF\x00tail\x1DV\x01\x1C&\xB0\xA1\x1B");
    Recorder stepped;
    PrintSession session(stepped, true, nullptr);
    size_t at = 0;
    int feeds = 0;
    while (at < bytes.size()) {
        at += session.Feed(bytes.data() + at, bytes.size() - at,
                           std::chrono::steady_clock::time_point::min());
        ++feeds;
    }
    session.Finish();
    EXPECT_EQ(stepped.lines, Print(bytes).lines);
    EXPECT_GE(feeds, 10);
}

// A large QR code stored, then printed `prints` times: each print costs far
// more than its 8 bytes.
Bytes QrPrints(size_t digits, int prints) {
    const auto size = static_cast<uint16_t>(digits + 3);
    Bytes flood = Bytes{0x1D, '(', 'k', uint8_t(size & 0xFF), uint8_t(size >> 8), '1', 'P', '0'} +
                  Text(std::string(digits, '7'));
    for (int i = 0; i < prints; ++i) {
        flood = flood + B("\x1D(k\x03\x00"
                          "1Q0");
    }
    return flood;
}

std::unique_ptr<VirtualPrinter> DrawingPrinter(const std::string& dir) {
    return StartLoopbackPrinter([&](VirtualPrinterConfig& c) {
        c.renderDir = dir;
        c.journalLines = 100;
    });
}

// The worst delay of ten status replies while `flooders` clients each have
// `prints` QR prints waiting.
std::chrono::milliseconds WorstStatusDelayUnderQrPrints(int flooders, size_t digits, int prints) {
    const std::string dir = ::testing::TempDir() + "qrflood" + std::to_string(::getpid());
    auto printer = DrawingPrinter(dir);
    const Bytes flood = QrPrints(digits, prints);
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < flooders; ++i) {
        clients.push_back(std::make_unique<Client>(printer->Port()));
        clients.back()->Send(flood);
    }
    // The printer holds every flooder's prints before the first request.
    EXPECT_TRUE(printer->Raw().WaitForSize(flooders * flood.size(), kWait));
    const auto worst = WorstStatusDelay(*printer, 10);
    printer.reset();
    std::filesystem::remove_all(dir);
    return worst;
}

TEST(VirtualPrinter, CostlyCommandsDoNotDelayAnotherClientsStatusReply) {
    // A turn is about 2 ms and one print (some 15 ms here), so the reply
    // waits about one turn per flooder, some 60 ms with four; the bound
    // leaves room for a loaded machine, where the printer's thread gets a
    // small share of a processor. Thirty-two prints a turn, as it was, take
    // 400 ms for each flooder.
    for (const int flooders : {1, 4}) {
        const auto worst = WorstStatusDelayUnderQrPrints(flooders, 2000, 64);
        std::printf("worst status delay with %d QR flooders: %lld ms\n", flooders,
                    static_cast<long long>(worst.count()));
        EXPECT_LE(worst, 150ms + flooders * 100ms) << flooders << " flooders";
    }
}

TEST(VirtualPrinter, ClosedSessionsPrintWhatTheyHeldInTurnsAndStopDropsIt) {
    // Clients each send one read's worth of QR prints, a receipt each, near
    // a second of work. Three ask for status after ten prints and reset
    // before that reply can go out, so their sessions close holding nearly
    // all of them; two stay.
    const std::string dir = ::testing::TempDir() + "qrreset" + std::to_string(::getpid());
    auto printer = DrawingPrinter(dir);
    Bytes flood = B("\x1D(k\x03\x00"
                    "1C\x05") +
                  QrPrints(2000, 10) + Bytes{0x10, 0x04, 0x01};
    while (flood.size() + 11 <= limits::kReadBytesPerTurn) {
        flood = flood + B("\x1D(k\x03\x00"
                          "1Q0\x1DV\x01");
    }
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < 5; ++i) {
        clients.push_back(std::make_unique<Client>(printer->Port()));
        clients.back()->Send(flood);
    }
    ASSERT_TRUE(printer->Raw().WaitForSize(5 * flood.size(), kWait));
    const linger reset{1, 0};
    for (int i = 0; i < 3; ++i) {
        ::setsockopt(clients[i]->fd.get(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        clients[i].reset();
    }
    // Closed sessions get turns like open ones, no more.
    const auto worst = WorstStatusDelay(*printer, 20);
    std::printf("worst status delay with three reset QR flooders: %lld ms\n",
                static_cast<long long>(worst.count()));
    EXPECT_LE(worst, 150ms + 5 * 100ms);
    // Stopping does not wait for the held prints, and says what it dropped;
    // the pictures printed before are still written, which takes its time.
    const auto start = std::chrono::steady_clock::now();
    std::thread stopper([&] { printer->Stop(); });
    const auto ended = printer->GetJournal().WaitFor(
        [&](const std::string&) { return printer->OpenSessions() == 0; }, kWait);
    const auto closing = std::chrono::steady_clock::now() - start;
    stopper.join();
    const auto stopped = std::chrono::steady_clock::now() - start;
    const auto ms = [](auto d) {
        return static_cast<long long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
    };
    std::printf("stop with held QR prints: sessions closed after %lld ms, returned after %lld ms\n",
                ms(closing), ms(stopped));
    EXPECT_TRUE(ended);
    EXPECT_LT(closing, 1s);
    Lines dropped;
    for (const std::string& line : printer->GetJournal().Lines()) {
        if (line.ends_with(" held bytes not printed)")) {
            dropped.push_back(line.substr(0, line.find(" closed")));
        }
    }
    std::sort(dropped.begin(), dropped.end());
    EXPECT_EQ(dropped, (Lines{"session 1", "session 2", "session 3", "session 4", "session 5"}));
    printer.reset();
    std::filesystem::remove_all(dir);
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

// ---------------------------------------------------------------- receipt files

std::string TempPath(const char* name) {
    return ::testing::TempDir() + name + std::to_string(::getpid());
}

TEST(ReceiptFiles, TheFolderKeepsToItsLimitDroppingTheOldestFirst) {
    const std::string dir = TempPath("limited");
    std::filesystem::create_directories(dir);
    std::ofstream(dir + "/notes.txt") << "not a picture";
    Journal journal(1000);
    {
        ReceiptFiles files(dir, journal, nullptr, uint64_t{1} << 20);
        for (unsigned i = 1; i <= 12; ++i) {
            // Random dots pack badly: each picture is over 150 KiB.
            receipt::Receipt receipt(576, receipt::kMaxReceiptDots);
            receipt.paper.Reserve(2000);
            const Bytes dots = RandomBytes(72 * 2000, i);
            for (int y = 0; y < 2000; ++y) {
                for (int x = 0; x < 576; ++x) {
                    if ((dots[y * 72 + x / 8] >> (x % 8)) & 1) {
                        receipt.paper.Set(x, y);
                    }
                }
            }
            files.Save(1, i, std::move(receipt));
            ASSERT_TRUE(
                journal.WaitForPrefix("session 1 receipt " + std::to_string(i) + ":", kWait));
        }
    }
    uintmax_t total = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        total += entry.path().extension() == ".png" ? entry.file_size() : 0;
    }
    EXPECT_LE(total, uintmax_t{1} << 20);
    EXPECT_GT(total, uintmax_t{1} << 19);
    EXPECT_FALSE(std::filesystem::exists(dir + "/000001-session-1.png"));
    EXPECT_TRUE(std::filesystem::exists(dir + "/000012-session-1.png"));
    EXPECT_TRUE(std::filesystem::exists(dir + "/notes.txt"));
    EXPECT_TRUE(journal.WaitForLine(
        "render folder over 1 MiB: removed " + dir + "/000001-session-1.png", kWait));
    std::filesystem::remove_all(dir);
}

// Pictures of one dot each, 40 times what the limits allow: the folder keeps
// to the disk blocks they take, and to a number of files.
TEST(ReceiptFiles, TinyPicturesCountTheirDiskBlocksAndTheirNumber) {
    const std::string dir = TempPath("tiny");
    const std::tuple<uint64_t, size_t, const char*> cases[] = {
        {uint64_t{1} << 20, 100000, "render folder over 1 MiB: removed "},
        {uint64_t{1} << 30, 25, "render folder over 25 pictures: removed "}};
    for (const auto& [bytes, files, note] : cases) {
        std::filesystem::create_directories(dir);
        Journal journal(100000);
        {
            ReceiptFiles saved(dir, journal, nullptr, bytes, 1, files);
            for (unsigned i = 1; i <= 1000; ++i) {
                receipt::Receipt receipt(576, receipt::kMaxReceiptDots);
                receipt.paper.Reserve(1);
                receipt.paper.Set(0, 0);
                saved.Save(1, i, std::move(receipt));
                ASSERT_TRUE(
                    journal.WaitForPrefix("session 1 receipt " + std::to_string(i) + ":", kWait));
            }
        }
        uint64_t disk = 0;
        size_t count = 0;
        for (const auto& entry : std::filesystem::directory_iterator(dir)) {
            disk += FileDiskBytes(entry.path().string());
            ++count;
        }
        EXPECT_LE(disk, bytes) << note;
        EXPECT_GT(disk, std::min<uint64_t>(bytes / 2, files * 512)) << note;
        EXPECT_LE(count, files) << note;
        EXPECT_TRUE(std::filesystem::exists(dir + "/001000-session-1.png")) << note;
        EXPECT_TRUE(journal.WaitForPrefix(note, kWait)) << note;
        std::filesystem::remove_all(dir);
    }
}

// --render-file stops writing pictures at either limit, and says so once.
}  // namespace
}  // namespace vorpane