#include "cli/http_front.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cli/metrics.h"
#include "loopback_printer.h"
#include "platform/thread.h"
#include "printer_link/network_printer_link.h"
#include "printer_link/status_reader.h"

namespace vorpane {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::span<const uint8_t> Bytes(std::string_view text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

Socket Connect(uint16_t port) {
    auto opened = Socket::Open(Socket::Kind::kStream);
    EXPECT_TRUE(opened.socket.Valid());
    EXPECT_EQ(opened.socket.Connect({kLoopbackAddress, port}), 0);
    return std::move(opened.socket);
}

// What came back before the server closed or `deadline` ran out.
std::string ReadAll(Socket& socket, Clock::duration deadline = 2s) {
    std::string got;
    const auto end = Clock::now() + deadline;
    while (Clock::now() < end) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        if (WaitForSocket(socket, kSocketReadable, static_cast<int>(left.count()) + 1) != 0) {
            break;
        }
        uint8_t buffer[4096];
        const SocketIo io = socket.Receive(buffer);
        if (io.error != 0 || io.bytes == 0) {
            break;
        }
        got.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(io.bytes));
        if (got.find("\r\n\r\n") != std::string::npos &&
            got.find("Connection: keep-alive") != std::string::npos) {
            break;  // the answer to a HEAD, or a whole answer the server keeps open
        }
    }
    return got;
}

std::string Repeated(std::string_view part, size_t times) {
    std::string out;
    for (size_t i = 0; i < times; ++i) {
        out += part;
    }
    return out;
}

std::string StatusLine(const std::string& reply) {
    return reply.substr(0, reply.find("\r\n"));
}

std::string Scrape(uint16_t port, const char* extraHeaders = "") {
    Socket socket = Connect(port);
    const std::string request = std::string("GET /metrics HTTP/1.1\r\nHost: x\r\n") + extraHeaders +
                                "Connection: close\r\n\r\n";
    EXPECT_EQ(socket.Send(Bytes(request)).error, 0);
    return ReadAll(socket, 5s);
}

// A metrics server over printers that are read instantly, as an idle one.
struct Exporter {
    explicit Exporter(MetricsOptions options = {}, PrinterReader read = {}) {
        if (!read) {
            read = [](Ipv4Address address) { return PrinterReading{address, "", "", 0x12121212}; };
        }
        auto started = MetricsServer::Start(
            {kLoopbackAddress, 0}, [this] { return targets; }, std::move(read), options);
        EXPECT_TRUE(started.server) << started.message;
        server = std::move(started.server);
    }
    void SetTargets(std::vector<Ipv4Address> addresses) {
        std::lock_guard lock(mutex);
        targets = std::move(addresses);
    }
    std::mutex mutex;
    std::vector<Ipv4Address> targets{*Ipv4Address::Parse("127.0.0.9")};
    std::unique_ptr<MetricsServer> server;
};

// Hostile requests: each is answered by the server itself, before any body,
// without a scrape, and the exporter's memory stays small.
TEST(StrictHttpServer, RefusesHostileRequestsBeforeTheirBodies) {
    constexpr size_t kMiB = 1 << 20;
    struct Row {
        const char* what;
        std::string head;  // sent first; its answer must come before the filler
        size_t filler;     // bytes sent after it, until the server stops taking them
        const char* status;
        const char* pattern = "a";  // what the filler repeats
    } rows[] = {
        {"200 MiB request line", "GET /", 200 * kMiB, "HTTP/1.1 414 URI Too Long"},
        {"millions of headers", "GET /metrics HTTP/1.1\r\n", 200 * kMiB,
         "HTTP/1.1 431 Request Header Fields Too Large", "X: y\r\n"},
        {"one header too many", "GET /metrics HTTP/1.1\r\n" + Repeated("A: b\r\n", 65) + "\r\n", 0,
         "HTTP/1.1 431 Request Header Fields Too Large"},
        {"300 MiB POST", "POST /metrics HTTP/1.1\r\nContent-Length: 314572800\r\n\r\n", 300 * kMiB,
         "HTTP/1.1 405 Method Not Allowed"},
        {"gzip body",
         "GET /metrics HTTP/1.1\r\nContent-Encoding: gzip\r\nContent-Length: 498000\r\n\r\n",
         498000, "HTTP/1.1 413 Content Too Large"},
        {"chunked body", "GET /metrics HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", kMiB,
         "HTTP/1.1 413 Content Too Large"},
        {"another method", "DELETE /metrics HTTP/1.1\r\n\r\n", 0,
         "HTTP/1.1 405 Method Not Allowed"},
        {"no request line", "hello\r\n\r\n", 0, "HTTP/1.1 400 Bad Request"},
        {"another version", "GET /metrics HTTP/2.0\r\n\r\n", 0, "HTTP/1.1 400 Bad Request"},
        {"folded header", "GET /metrics HTTP/1.1\r\nA: b\r\n c\r\n\r\n", 0,
         "HTTP/1.1 400 Bad Request"},
        {"not a path", "GET metrics HTTP/1.1\r\n\r\n", 0, "HTTP/1.1 400 Bad Request"},
    };
    Exporter exporter;
    const uint64_t peakBefore = PeakResidentBytes();
    for (const auto& row : rows) {
        const std::string filler = Repeated(row.pattern, 64 * 1024 / std::strlen(row.pattern));
        Socket socket = Connect(exporter.server->Port());
        std::string reply;
        size_t sent = 0;
        if (row.filler == 0 || row.head.ends_with("\r\n\r\n")) {
            ASSERT_EQ(socket.Send(Bytes(row.head)).error, 0) << row.what;
            reply = ReadAll(socket, 2s);
        } else {
            // Streamed until the server answers: it must not wait for all of it.
            ASSERT_EQ(socket.Send(Bytes(row.head)).error, 0) << row.what;
            while (sent < row.filler && WaitForSocket(socket, kSocketReadable, 0) != 0) {
                const std::string_view part(filler.data(),
                                            std::min(filler.size(), row.filler - sent));
                const SocketIo io = socket.Send(Bytes(part));
                if (io.error != 0) {
                    break;
                }
                sent += static_cast<size_t>(io.bytes);
            }
            reply = ReadAll(socket, 2s);
            // What the kernels' buffers hold, far short of the whole.
            EXPECT_LT(sent, 32 * kMiB) << row.what;
        }
        // A reset can overtake the answer of a request cut short; a head that
        // ended is always answered.
        if (!reply.empty() || row.filler == 0 || row.head.ends_with("\r\n\r\n")) {
            EXPECT_EQ(StatusLine(reply), row.status) << row.what;
            EXPECT_NE(reply.find("Connection: close"), std::string::npos) << row.what;
        }
        if (row.head.ends_with("\r\n\r\n") && row.filler > 0) {
            // The body comes after the answer, to a closed connection.
            bool failed = false;
            for (int i = 0; i < 1000 && !failed; ++i) {
                failed = socket.Send(Bytes(filler)).error != 0;
            }
            EXPECT_TRUE(failed) << row.what;
        }
    }
    EXPECT_EQ(exporter.server->Scrapes(), 0u);
    EXPECT_EQ(exporter.server->Counters().handled.load(), 0u);
    // What the requests added to the peak (a sanitizer's own memory is there
    // before them).
    EXPECT_LT(PeakResidentBytes() - peakBefore, 64u * kMiB);
}

TEST(StrictHttpServer, HeadAnswersWithoutAScrapeAndConnectionsAreKeptAlive) {
    Exporter exporter;
    Socket socket = Connect(exporter.server->Port());
    ASSERT_EQ(socket.Send(Bytes("HEAD /metrics HTTP/1.1\r\n\r\n")).error, 0);
    const std::string head = ReadAll(socket);
    EXPECT_EQ(StatusLine(head), "HTTP/1.1 200 OK");
    EXPECT_NE(head.find("Content-Type: text/plain; version=0.0.4"), std::string::npos);
    EXPECT_TRUE(head.ends_with("\r\n\r\n")) << head;
    EXPECT_EQ(exporter.server->Scrapes(), 0u);

    // The same connection serves a scrape after it.
    ASSERT_EQ(socket.Send(Bytes("GET /metrics HTTP/1.1\r\nConnection: close\r\n\r\n")).error, 0);
    const std::string scrape = ReadAll(socket);
    EXPECT_EQ(StatusLine(scrape), "HTTP/1.1 200 OK");
    EXPECT_NE(scrape.find("vorpane_printer_up{address=\"127.0.0.9\""), std::string::npos);
    EXPECT_EQ(exporter.server->Scrapes(), 1u);
    EXPECT_EQ(exporter.server->Counters().accepted.load(), 1u);
}

// Connections that drip their heads or say nothing never stand in a
// scrape's way, and are closed when their head's deadline passes.
TEST(StrictHttpServer, AScrapeIsAnsweredBesideDrippingAndIdleConnections) {
    MetricsOptions options;
    options.http.headDeadline = 2s;
    Exporter exporter(options);
    const uint16_t port = exporter.server->Port();
    std::vector<Socket> idle;
    for (int i = 0; i < 200; ++i) {
        idle.push_back(Connect(port));
    }
    std::mutex mutex;
    std::condition_variable stop;
    bool stopping = false;
    std::vector<std::thread> drips;
    for (int i = 0; i < 8; ++i) {
        drips.emplace_back([&] {
            Socket socket = Connect(port);
            const std::string head = "GET /metrics HTTP/1.1\r\nHost: a-long-way-off\r\n";
            std::unique_lock lock(mutex);
            for (size_t at = 0; at < head.size() && !stopping; ++at) {
                if (socket.Send(Bytes(head.substr(at, 1))).error != 0) {
                    break;
                }
                stop.wait_for(lock, 100ms, [&] { return stopping; });  // the drip's pace
            }
        });
    }
    for (int i = 0; i < 5; ++i) {
        const auto start = Clock::now();
        const std::string reply = Scrape(port);
        EXPECT_EQ(StatusLine(reply), "HTTP/1.1 200 OK");
        EXPECT_LT(Clock::now() - start, 1s);
    }
    // Every one of them is closed by its deadline.
    const auto until = Clock::now() + 5s;
    for (Socket& socket : idle) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
        ASSERT_EQ(WaitForSocket(socket, kSocketReadable, std::max<int>(left.count(), 0)), 0);
        uint8_t byte = 0;
        EXPECT_EQ(socket.Receive({&byte, 1}).bytes, 0);
    }
    EXPECT_GE(exporter.server->Counters().timedOut.load(), 200u);
    {
        std::lock_guard lock(mutex);
        stopping = true;
    }
    stop.notify_all();
    for (auto& drip : drips) {
        drip.join();
    }
}

TEST(StrictHttpServer, ConnectionsBeyondTheCapAreShedAtOnce) {
    MetricsOptions options;
    options.http.maxWaiting = 4;
    Exporter exporter(options);
    std::vector<Socket> held;
    for (int i = 0; i < 4; ++i) {
        held.push_back(Connect(exporter.server->Port()));
    }
    // The fifth is told at once, not queued.
    Socket fifth = Connect(exporter.server->Port());
    const auto start = Clock::now();
    EXPECT_EQ(StatusLine(ReadAll(fifth)), "HTTP/1.1 503 Service Unavailable");
    EXPECT_LT(Clock::now() - start, 500ms);
    EXPECT_EQ(exporter.server->Counters().shed.load(), 1u);
    // Once one of them leaves, a scrape gets in.
    held.pop_back();
    std::string reply;
    for (const auto until = Clock::now() + 2s; Clock::now() < until && reply.empty();) {
        reply = StatusLine(Scrape(exporter.server->Port()));
        if (reply != "HTTP/1.1 200 OK") {
            reply.clear();
            WaitForSocket(held.front(), kSocketReadable, 20);  // a short pause on an event
        }
    }
    EXPECT_EQ(reply, "HTTP/1.1 200 OK");
}

// A scrape keeps to Prometheus's time-out with what it has, and the printers
// it could not read are reported as not read; the stop cancels the rest.
TEST(MetricsServer, AScrapeAnswersByItsDeadlineAndTheStopIsPrompt) {
    constexpr int32_t kTimeoutMs = 900;
    auto mute = StartLoopbackPrinter([](auto& c) {
        c.listenAddresses = {"127.0.0.21"};
        c.mode = PrinterMode::kMute;
    });
    ASSERT_TRUE(mute);
    auto idle = StartLoopbackPrinter([&](auto& c) {
        c.listenAddresses = {"127.0.0.22"};
        c.port = mute->Port();
    });
    ASSERT_TRUE(idle);
    MetricsOptions options;
    options.readers = 1;  // the mute printer first, so the idle one waits
    const uint16_t port = mute->Port();
    Exporter exporter(options, [port](Ipv4Address address) {
        NetworkPrinterLink link(port);
        link.SetTimeOut(0, kTimeoutMs);
        return PrinterReading{address, "", "", link.GetStatus(address.Text().c_str())};
    });
    exporter.SetTargets({*Ipv4Address::Parse("127.0.0.21"), *Ipv4Address::Parse("127.0.0.22")});
    const auto start = Clock::now();
    const std::string reply =
        Scrape(exporter.server->Port(), "X-Prometheus-Scrape-Timeout-Seconds: 0.5\r\n");
    const auto took = Clock::now() - start;
    EXPECT_LT(took, 500ms);
    EXPECT_GE(took, 300ms);
    EXPECT_NE(reply.find("vorpane_printer_reading_complete{address=\"127.0.0.21\"} 0"),
              std::string::npos)
        << reply;
    EXPECT_NE(reply.find("vorpane_printer_reading_complete{address=\"127.0.0.22\"} 0"),
              std::string::npos);
    EXPECT_EQ(reply.find("vorpane_printer_up{"), std::string::npos);

    // Given the time, both are read.
    const std::string full = Scrape(exporter.server->Port());
    EXPECT_NE(full.find("vorpane_printer_up{address=\"127.0.0.22\"} 1"), std::string::npos) << full;
    EXPECT_NE(full.find("vorpane_printer_up{address=\"127.0.0.21\"} 0"), std::string::npos);

    // A scrape under way when the stop comes: the stop waits only for the
    // reading in progress, never for the scrape's deadline.
    std::thread scraper([&] { Scrape(exporter.server->Port()); });
    while (exporter.server->Scrapes() < 3) {
        std::this_thread::yield();
    }
    const auto stopAt = Clock::now();
    exporter.server->Stop();
    EXPECT_LT(Clock::now() - stopAt, std::chrono::milliseconds(kTimeoutMs) + 100ms);
    scraper.join();
}

std::string Get(uint16_t port, const std::string& target, const char* method = "GET") {
    Socket socket = Connect(port);
    const std::string request =
        std::string(method) + " " + target + " HTTP/1.1\r\nConnection: close\r\n\r\n";
    EXPECT_EQ(socket.Send(Bytes(request)).error, 0);
    return ReadAll(socket, 5s);
}

std::string Body(const std::string& reply) {
    const size_t end = reply.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : reply.substr(end + 4);
}

// A probe reads the one printer it names, only inside the allowed prefixes,
// with who it is; /sd lists the printers in the form a probe takes.
TEST(MetricsServer, ProbesReadOneAllowedPrinterAndServiceDiscoveryListsThem) {
    auto printer = StartLoopbackPrinter([](auto& c) {
        c.listenAddresses = {"127.0.0.31"};
        c.identity.serial = "SN-31";
    });
    ASSERT_TRUE(printer);
    const uint16_t port = printer->Port();
    NetworkPrinterLink link(port);
    SharedStatusReader shared(link, 900, 0ms);
    MetricsOptions options;
    options.printerPort = port;
    options.allowProbe = {{*Ipv4Address::Parse("127.0.0.0"), 24}};
    Exporter exporter(
        options, [&](Ipv4Address address) { return ReadingOf(address, shared.Read(address)); });
    exporter.SetTargets({});
    const uint16_t http = exporter.server->Port();
    EXPECT_EQ(Body(Get(http, "/sd")), "[]\n");

    const std::string p = std::to_string(port);
    const struct {
        std::string target;
        const char* status;
        const char* body;  // its first line, or a sample the answer holds
    } rows[] = {
        {"/probe", "400 Bad Request", "no target: /probe?target=A.B.C.D[:PORT]\n"},
        {"/probe?target=printer.local", "400 Bad Request",
         "target \"printer.local\" is no IPv4 address\n"},
        {"/probe?target=127.0.0.31%3A0", "400 Bad Request",
         "target \"127.0.0.31:0\" has no port from 1 to 65535\n"},
        {"/probe?target=127.0.0.31:" + std::to_string(port + 1), "400 Bad Request",
         "is not the printers' port"},
        {"/probe?target=127.0.1.31", "403 Forbidden",
         "127.0.1.31 is outside the prefixes probes may read (--allow-probe)\n"},
        {"/probe?target=127.0.0.31", "200 OK", "\nvorpane_printer_up 1\n"},
        {"/probe?target=127.0.0.31%3A" + p, "200 OK", "\nvorpane_printer_paper_near_end 0\n"},
        {"/probe?target=127.0.0.32", "200 OK", "vorpane_printer_down_reason{reason=\"refused\"} 1"},
    };
    for (const auto& row : rows) {
        const std::string reply = Get(http, row.target);
        EXPECT_EQ(StatusLine(reply), std::string("HTTP/1.1 ") + row.status) << row.target;
        const std::string body = Body(reply);
        if (row.body[0] == '\n' || std::string_view(row.status) == "200 OK") {
            EXPECT_NE(body.find(row.body), std::string::npos) << row.target << "\n" << body;
        } else {
            EXPECT_NE(body.find(row.body), std::string::npos) << row.target << ": " << body;
            EXPECT_EQ(body.find('\n'), body.size() - 1) << "one line: " << body;
        }
    }
    const std::string probe = Body(Get(http, "/probe?target=127.0.0.31"));
    EXPECT_NE(probe.find("vorpane_printer_info{maker=\"Vorpane\",model=\"VP-80 virtual\","
                         "firmware=\"1.00\",serial=\"SN-31\",mac=\"\"} 1"),
              std::string::npos)
        << probe;
    EXPECT_NE(probe.find("\nvorpane_probe_duration_seconds "), std::string::npos);
    EXPECT_EQ(probe.find("address="), std::string::npos);

    ConditionSet nearEnd;
    nearEnd.Add(Condition::kPaperNearEnd);
    printer->SetConditions(nearEnd);
    const uint64_t sessions = shared.Sessions();
    EXPECT_NE(
        Body(Get(http, "/probe?target=127.0.0.31")).find("\nvorpane_printer_paper_near_end 1\n"),
        std::string::npos);
    // HEAD reads nothing.
    EXPECT_EQ(StatusLine(Get(http, "/probe?target=127.0.0.31", "HEAD")), "HTTP/1.1 200 OK");
    EXPECT_EQ(shared.Sessions(), sessions + 1);

    exporter.SetTargets({*Ipv4Address::Parse("127.0.0.31"), *Ipv4Address::Parse("127.0.0.9")});
    EXPECT_EQ(Body(Get(http, "/sd")),
              R"([{"labels":{},"targets":["127.0.0.31:)" + p + R"(","127.0.0.9:)" + p + "\"]}]\n");
    const std::string metrics = Body(Get(http, "/metrics"));
    EXPECT_NE(metrics.find("\nvorpane_printers_found 2\n"), std::string::npos) << metrics;
    EXPECT_NE(metrics.find("\nvorpane_build_info{version=\""), std::string::npos);
}

}  // namespace
}  // namespace vorpane
