// vorpane-printer: its command line, its control lines and the process,
// on loopback with ports the system picks.

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

// ---------------------------------------------------------------- command line

TEST(PrinterCommandLine, DefaultsAndEveryOption) {
    const auto defaults = ParsePrinterArguments({}).arguments;
    ASSERT_TRUE(defaults);
    EXPECT_EQ(defaults->config.listenAddresses, (Lines{"0.0.0.0"}));
    EXPECT_EQ(defaults->config.port, 9100);
    EXPECT_EQ(defaults->config.idleTimeout, 300s);
    EXPECT_EQ(defaults->config.profile.paperDots, 576);

    const auto all = ParsePrinterArguments({"--listen",
                                            "127.0.0.1",
                                            "--listen=127.0.0.2",
                                            "--port",
                                            "0",
                                            "--condition",
                                            "paper-end,drawer",
                                            "--condition=offline",
                                            "--mode",
                                            "one-session",
                                            "--journal",
                                            "j.txt",
                                            "--raw",
                                            "r.bin",
                                            "--netbios",
                                            "--help",
                                            "--idle-timeout",
                                            "2.5",
                                            "--render",
                                            "d",
                                            "--profile",
                                            "80mm-180dpi",
                                            "--chinese=off",
                                            "--scale",
                                            "3",
                                            "--paper=58",
                                            "--font",
                                            "f.ttf",
                                            "--render-file",
                                            "in.bin",
                                            "--render-limit=3",
                                            "--render-files",
                                            "70",
                                            "--out",
                                            "o.png",
                                            "--identity",
                                            "serial=7,maker=Acme Corp",
                                            "--identity=firmware=2.0"});
    ASSERT_TRUE(all.arguments) << all.error;
    const PrinterArguments& a = *all.arguments;
    EXPECT_EQ(a.config.listenAddresses, (Lines{"127.0.0.1", "127.0.0.2"}));
    EXPECT_EQ(a.config.port, 0);
    EXPECT_EQ(ConditionNames(a.config.conditions), "offline,paper-end,drawer");
    EXPECT_EQ(a.config.mode, PrinterMode::kOneSession);
    EXPECT_EQ(a.journalPath + " " + a.rawPath, "j.txt r.bin");
    EXPECT_TRUE(a.config.netbios && a.help);
    EXPECT_EQ(a.config.idleTimeout, 2500ms);
    EXPECT_EQ(a.config.profile.name + std::to_string(a.config.chinese) +
                  std::to_string(a.config.pngScale),
              std::string("58mm-203dpi03"));
    EXPECT_EQ(a.config.renderDir + a.config.fontPath + a.renderFile + a.outPath,
              "df.ttfin.bino.png");
    EXPECT_EQ(std::pair(a.config.renderLimitBytes, a.config.renderLimitFiles),
              std::pair(uint64_t{3} << 20, size_t{70}));
    const IdentityTexts& id = a.config.identity;
    EXPECT_EQ(id.maker + "|" + id.model + "|" + id.firmware + "|" + id.serial,
              "Acme Corp|VP-80 virtual|2.0|7");
}

TEST(PrinterCommandLine, HelpShowsWhatThePrinterAnswers) {
    // Every example frame of the help, sent to a printer, gives the journal
    // line above it, and every status row is what the printer replies.
    auto printer = StartLoopbackPrinter();
    Journal& journal = printer->GetJournal();
    Client client(printer->Port());
    std::istringstream help(PrinterUsage());
    std::string above;
    bool inStatus = false;
    size_t accepted = 0, rejected = 0, rows = 0;
    for (std::string line; std::getline(help, line); above = line) {
        if (line.starts_with("    (frame ") && line.ends_with(")")) {
            Bytes frame;
            std::istringstream hex(line.substr(11, line.size() - 12));
            for (unsigned byte; hex >> std::hex >> byte;) {
                frame.push_back(uint8_t(byte));
            }
            const size_t from = journal.Count();
            client.Send(frame);
            EXPECT_TRUE(journal.WaitForLine(above.substr(2), kWait, from)) << line;
            std::istringstream words(above);
            std::string gs, letter, verb, what, value;
            words >> gs >> letter >> verb >> what >> value;
            if (verb == "new") {
                ++accepted;
                EXPECT_EQ(letter == "D" ? printer->PendingAddress() : printer->PendingMac(), value);
            } else {
                rejected += verb == "rejected:";
            }
        }
        inStatus = line.starts_with("Status replies to DLE EOT") || (inStatus && !line.empty());
        std::istringstream row(line);
        std::string name, expected;
        if (inStatus && line.starts_with("  ") && row >> name && std::getline(row, expected)) {
            ++rows;
            ConditionSet set;
            EXPECT_TRUE(ApplyConditionName(set, name, true)) << name;
            printer->SetConditions(set);
            Bytes replies;
            for (uint8_t n = 1; n <= 4; ++n) {
                client.Send({0x10, 0x04, n});
                replies = replies + client.Receive();
            }
            EXPECT_EQ(" " + HexBytes(replies.data(), replies.size()),
                      expected.substr(expected.find_first_not_of(' ') - 1))
                << name;
        }
    }
    EXPECT_EQ(accepted, 2u);
    EXPECT_EQ(rejected, 2u);
    EXPECT_EQ(rows, ConditionNameList().size());
}

TEST(PrinterCommandLine, MistakesAreReported) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--port", "65536"}, "bad port: 65536"},
        {{"--port", "12x"}, "bad port: 12x"},
        {{"--port"}, "--port needs a value"},
        {{"--mode", "quiet"}, "unknown mode: quiet"},
        {{"--condition", "paper-end,jam"}, "unknown condition: jam"},
        {{"--identity", "maker=A,colour=red"}, "bad identity part: colour=red"},
        {{"--identity=model"}, "bad identity part: model"},
        {{"--condition="}, "unknown condition: "},
        {{"--verbose"}, "unknown option: --verbose"},
        {{"--netbios=1"}, "--netbios takes no value"},
        {{"--idle-timeout", "-1"}, "bad idle time-out: -1"},
        {{"--paper", "60"}, "paper is 58 or 80 (mm): 60"},
        {{"--profile", "80mm"}, "unknown profile: 80mm"},
        {{"--chinese", "yes"}, "Chinese mode is on or off: yes"},
        {{"--scale", "9"}, "scale is 1 to 8: 9"},
        {{"--scale", "0"}, "scale is 1 to 8: 0"},
        {{"--render-files", "0"}, "bad render file limit: 0"}};
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

// SIGINT and SIGTERM stop the printer cleanly while it reads control lines,
// even with its standard input at its end.
TEST(PrinterProcess, StopsOnASignal) {
    for (const int signal : {SIGINT, SIGTERM}) {
        PrinterProcess process({"--listen", "127.0.0.1", "--port", "0"});
        EXPECT_TRUE(ReadLine(process.io[1], "listening on 127.0.0.1:"));
        if (signal == SIGTERM) {
            process.io[0].reset();
        }
        ::kill(process.pid, signal);
        EXPECT_FALSE(ReadLine(process.io[1], "never")) << "output ends as it exits";
        EXPECT_EQ(process.Wait(), 0) << signal;
    }
}

TEST(PrinterProcess, DrawsReceiptsOfSessionsAndOfCaptures) {
    const std::string dir = TempPath("receipts");
    std::filesystem::create_directories(dir);
    std::ofstream(dir + "/000041-session-9.png") << "earlier run";
    PrinterProcess process(
        {"--listen", "127.0.0.1", "--port", "0", "--render", dir, "--paper", "58"});
    const auto listening = ReadLine(process.io[1], "listening on 127.0.0.1:");
    ASSERT_TRUE(listening);
    Client client(static_cast<uint16_t>(std::stoi(listening->substr(23))));
    // The first cut feeds to the cutter: the second receipt starts that far above its line.
    const Bytes receipts = Text("one\n\x1DVA") + Bytes{0} + Text("two\n");
    client.Send(receipts);
    ::shutdown(client.fd.get(), SHUT_WR);
    EXPECT_EQ(ReadLine(process.io[1], "session 1 receipt 1"),
              "session 1 receipt 1: " + dir + "/000042-session-1.png (384 x 30 dots)");
    EXPECT_EQ(ReadLine(process.io[1], "session 1 receipt 2"),
              "session 1 receipt 2: " + dir + "/000043-session-1.png (384 x 126 dots)");
    process.Write("quit\n");
    EXPECT_EQ(process.Wait(), 0);
    EXPECT_TRUE(ReadFile(dir + "/000043-session-1.png").starts_with("\x89PNG\r\n"));

    const std::string capture = dir + "/capture.bin";
    std::ofstream(capture, std::ios::binary)
        .write(reinterpret_cast<const char*>(receipts.data()), std::streamsize(receipts.size()));
    // Without its font the printer says so once, and draws boxes of the same size.
    const std::string noFont = dir + "/missing.ttf";
    const std::string fontLine =
        "font not found (cannot read font " + noFont + "): characters are drawn as boxes";
    PrinterProcess render({"--render-file", capture, "--out", dir + "/out.png", "--font", noFont});
    EXPECT_EQ(ReadLine(render.io[1]), fontLine);
    EXPECT_EQ(ReadLine(render.io[1], "receipt 1"),
              "receipt 1: " + dir + "/out.png (576 x 30 dots)");
    EXPECT_EQ(ReadLine(render.io[1], "receipt 2"),
              "receipt 2: " + dir + "/out-2.png (576 x 142 dots)");
    EXPECT_EQ(render.Wait(), 0);
    // The same bytes from standard input, on a 180 dpi printer, each dot 2 x 2 pixels.
    PrinterProcess piped({"--render-file", "-", "--out", dir + "/in.png", "--profile",
                          "80mm-180dpi", "--scale", "2"});
    piped.Write(std::string(receipts.begin(), receipts.end()));
    piped.io[0].reset();
    EXPECT_EQ(ReadLine(piped.io[1], "receipt 2"),
              "receipt 2: " + dir + "/in-2.png (512 x 129 dots)");
    EXPECT_EQ(piped.Wait(), 0);
    const std::string png = ReadFile(dir + "/in-2.png");
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(Be32(reinterpret_cast<const uint8_t*>(png.data()) + 16), (512u + 32) * 2);
    EXPECT_EQ(Be32(reinterpret_cast<const uint8_t*>(png.data()) + 20), 129u * 2);
    PrinterProcess fontless(
        {"--listen", "127.0.0.1", "--port", "0", "--render", dir, "--font", noFont});
    EXPECT_EQ(ReadLine(fontless.io[1]), fontLine);
    fontless.Write("quit\n");
    EXPECT_EQ(fontless.Wait(), 0);
    std::filesystem::remove_all(dir);
}

// Peak memory of a capture drawn by the real executable, in MiB: the journal
// streams to its file, and items past a receipt's share are dropped.
TEST(PrinterProcess, HostileCapturesStayInBoundedMemory) {
    // Writes n times `unit`, its byte `at` counting up from `first` (mod
    // 256), straight to the file: the figures are the child's high-water
    // mark, which starts from ours, so this process never holds the capture.
    auto repeat = [](std::ostream& out, std::string unit, int n, size_t at, int first) {
        for (int i = 0; i < n; ++i) {
            unit[at] = static_cast<char>(first + i % (256 - first));
            out << unit;
        }
    };
    std::string tabStops =
        "\x1B"
        "D";
    for (char stop = 1; stop <= 32; ++stop) {
        tabStops += stop;
    }
    tabStops += '\0';
    const std::string dir = TempPath("hostile");
    std::filesystem::create_directories(dir);
    // Peak memory over what the program takes for an empty capture (its
    // font above all), which must stay far under 100 MiB. Under a sanitizer,
    // whose shadow memory says nothing of ours, the figures are only shown,
    // for fewer commands.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    constexpr int kScale = 10;
#else
    constexpr int kScale = 1;
#endif
    [[maybe_unused]] constexpr long kOverMib = 16;
    long baseline = -1;
    const std::pair<const char*, std::function<void(std::ostream&)>> cases[] = {
        {"nothing", [](std::ostream&) {}},
        // Zero-width ESC * used to take about 160 bytes each (10 M, 1.5 GB).
        {"zero-width images",
         [&](std::ostream& out) {
             repeat(out, std::string("\x1B*\0\0\0", 5), 10'000'000 / kScale, 2, 0);
         }},
        // Lines of 150 bytes each, 45 MB, used to be held to the end.
        {"journal", [&](std::ostream& out) { repeat(out, tabStops, 300'000 / kScale, 33, 32); }},
    };
    for (const auto& [name, write] : cases) {
        const std::string capture = dir + "/capture.bin";
        size_t size = 0;
        {
            std::ofstream out(capture, std::ios::binary);
            write(out);
            size = static_cast<size_t>(out.tellp());
        }
        const auto start = std::chrono::steady_clock::now();
        PrinterProcess process(
            {"--render-file", capture, "--out", dir + "/out.png", "--journal", dir + "/journal"});
        int status = 0;
        rusage usage{};
        ASSERT_GT(::wait4(std::exchange(process.pid, -1), &status, 0, &usage), 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << name;
        const long peak = usage.ru_maxrss / 1024;
        std::printf("[ figures  ] %s: %zu bytes in %.1f s, peak %ld MiB\n", name, size,
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
                    peak);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
        if (baseline >= 0) {
            EXPECT_LT(peak, baseline + kOverMib) << name;
        }
        EXPECT_LT(peak, 100) << name;
#endif
        baseline = baseline >= 0 ? baseline : peak;
    }
    const std::string journal = ReadFile(dir + "/journal");
    EXPECT_NE(journal.find(", 31, 255\n"), std::string::npos);
    std::filesystem::remove_all(dir);
}

TEST(PrinterProcess, CapturesOfTinyReceiptsStopAtTheLimits) {
    const std::string dir = TempPath("tiny-capture");
    std::filesystem::create_directories(dir);
    const std::string capture = dir + "/capture.bin";
    {
        std::ofstream out(capture, std::ios::binary);
        for (int i = 0; i < 400; ++i) {
            out << std::string("x\n\x1DV\0", 5);
        }
    }
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--render-files", "30"}, "receipt 31 and after not saved: the pictures take 30 files"},
        {{"--render-limit", "1"}, "and after not saved: the pictures take 1 MiB"}};
    for (const auto& [limit, note] : cases) {
        std::vector<std::string> args = {"--render-file", capture, "--out", dir + "/out/r.png"};
        args.insert(args.end(), limit.begin(), limit.end());
        std::filesystem::create_directories(dir + "/out");
        PrinterProcess process(args);
        std::string said;
        while (auto line = ReadLine(process.io[1])) {
            said += line->find("not saved") != std::string::npos ? *line + "\n" : "";
        }
        EXPECT_EQ(process.Wait(), 0);
        EXPECT_NE(said.find(note), std::string::npos) << said;
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
        uint64_t disk = 0;
        for (const auto& entry : std::filesystem::directory_iterator(dir + "/out")) {
            disk += FileDiskBytes(entry.path().string());
        }
        EXPECT_LE(disk, (uint64_t{1} << 20) + 65536) << note;
        std::filesystem::remove_all(dir + "/out");
    }
    std::filesystem::remove_all(dir);
}

// A --render folder that cannot take pictures stops the printer at its start.
TEST(PrinterProcess, AnUnusableRenderFolderIsReportedAtTheStart) {
    const std::string dir = TempPath("unusable");
    std::filesystem::create_directories(dir);
    std::ofstream(dir + "/file") << "in the way";
    // /proc takes no new files, even from root.
    for (const std::string& folder : {dir + "/file", dir + "/file/below", std::string("/proc")}) {
        PrinterProcess process({"--listen", "127.0.0.1", "--port", "0", "--render", folder});
        const auto line = ReadLine(process.io[2]);
        EXPECT_TRUE(line && line->starts_with("vorpane-printer: --render " + folder + ": "))
            << folder << ": " << line.value_or("<nothing>");
        EXPECT_EQ(process.Wait(), 2) << folder;
    }
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace vorpane