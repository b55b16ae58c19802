// The exporter under attack on loopback, against itself at rest in the same
// process: the slowest of 20 scrapes with no other client (the baseline),
// then beside 8 connections dripping a byte each 100 ms and 200 idle ones;
// the process's peak memory before and after a 200 MiB request line, 200 MiB
// of headers, a 300 MiB POST and a 498 KB gzip body (client and server are
// one process: the figure holds both); how long the stop takes, and how long
// it takes while a reading with a 10 s time-out waits on a listener that
// accepted and stays silent. The last line is "ratio <scrape under
// attack/at rest>".

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cli/metrics.h"
#include "platform/thread.h"
#include "printer_link/network_printer_link.h"

namespace {

using namespace vorpane;
using Clock = std::chrono::steady_clock;

std::span<const uint8_t> Bytes(std::string_view text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

Socket Connect(uint16_t port) {
    auto opened = Socket::Open(Socket::Kind::kStream);
    opened.socket.Connect({kLoopbackAddress, port});
    return std::move(opened.socket);
}

// Seconds until the whole answer of one scrape has come.
double ScrapeSeconds(uint16_t port) {
    const auto start = Clock::now();
    Socket socket = Connect(port);
    socket.Send(Bytes("GET /metrics HTTP/1.1\r\nConnection: close\r\n\r\n"));
    uint8_t buffer[4096];
    while (WaitForSocket(socket, kSocketReadable, 5000) == 0 && socket.Receive(buffer).bytes > 0) {
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double SlowestOf20(uint16_t port) {
    double slowest = 0;
    for (int i = 0; i < 20; ++i) {
        slowest = std::max(slowest, ScrapeSeconds(port));
    }
    return slowest;
}

// Sends `head`, then `pattern` over and over up to `total` bytes or until
// the server answers or closes.
void Hostile(uint16_t port, const std::string& head, const std::string& pattern, size_t total) {
    Socket socket = Connect(port);
    socket.Send(Bytes(head));
    std::string chunk;
    while (chunk.size() < 64 * 1024) {
        chunk += pattern;
    }
    for (size_t sent = 0; sent < total && WaitForSocket(socket, kSocketReadable, 0) != 0;) {
        const SocketIo io = socket.Send(Bytes(chunk));
        if (io.error != 0) {
            break;
        }
        sent += static_cast<size_t>(io.bytes);
    }
}

// Seconds a stop takes while a scrape's reading waits on a silent printer: a
// listener whose backlog takes the connection and nothing reads it. -1 when
// the reading never connected.
double StopBesideASilentPrinter() {
    auto opened = Socket::Open(Socket::Kind::kStream);
    Socket& silent = opened.socket;
    Ipv4Endpoint local{kLoopbackAddress, 0};
    if (silent.Bind(local) != 0 || silent.Listen(4) != 0 || silent.LocalEndpoint(local) != 0) {
        return -1;
    }
    NetworkPrinterLink link(local.port);
    link.SetTimeOut(10, 0);
    MetricsOptions options;
    options.stopReadings = [&link] { link.StopReadings(); };
    auto started = MetricsServer::Start(
        {kLoopbackAddress, 0},
        [] { return std::vector<Ipv4Address>{Ipv4Address::FromHostOrder(kLoopbackAddress)}; },
        [&link](Ipv4Address address) {
            const StatusReading reading = link.ReadStatus(address.Text().c_str());
            return PrinterReading{address, "", "", reading.Answered() ? 0x12121212 : -1};
        },
        options);
    if (!started.server) {
        return -1;
    }
    Socket scrape = Connect(started.server->Port());
    scrape.Send(Bytes("GET /metrics HTTP/1.1\r\n\r\n"));
    if (WaitForSocket(silent, kSocketReadable, 5000) != 0) {
        return -1;
    }
    const auto start = Clock::now();
    started.server->Stop();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double MiB(uint64_t bytes) {
    return static_cast<double>(bytes) / (1 << 20);
}

}  // namespace

int main() {
    MetricsOptions options;
    auto started = MetricsServer::Start(
        {kLoopbackAddress, 0},
        [] { return std::vector<Ipv4Address>{Ipv4Address::FromHostOrder(0x7F000009)}; },
        [](Ipv4Address address) {
            return PrinterReading{address, "", "", 0x12121212};
        },
        options);
    if (!started.server) {
        std::fprintf(stderr, "%s\n", started.message.c_str());
        return 1;
    }
    const uint16_t port = started.server->Port();
    const double atRest = SlowestOf20(port);

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
            std::unique_lock lock(mutex);
            while (!stopping && socket.Send(Bytes("G")).error == 0) {
                stop.wait_for(lock, std::chrono::milliseconds(100), [&] { return stopping; });
            }
        });
    }
    const double underAttack = SlowestOf20(port);
    {
        std::lock_guard lock(mutex);
        stopping = true;
    }
    stop.notify_all();
    for (auto& drip : drips) {
        drip.join();
    }
    idle.clear();

    const uint64_t before = PeakResidentBytes();
    constexpr size_t kMiB = 1 << 20;
    Hostile(port, "GET /", "a", 200 * kMiB);
    Hostile(port, "GET /metrics HTTP/1.1\r\n", "X: y\r\n", 200 * kMiB);
    Hostile(port, "POST /metrics HTTP/1.1\r\nContent-Length: 314572800\r\n\r\n", "a", 300 * kMiB);
    Hostile(port,
            "GET /metrics HTTP/1.1\r\nContent-Encoding: gzip\r\nContent-Length: 498000\r\n\r\n",
            "\x1f\x8b", 498000);
    const double scrapeAfter = ScrapeSeconds(port);
    const uint64_t after = PeakResidentBytes();

    const auto stopStart = Clock::now();
    started.server->Stop();
    const double stopSeconds = std::chrono::duration<double>(Clock::now() - stopStart).count();

    std::printf("scrape at rest (slowest of 20)           %.4f s\n", atRest);
    std::printf("beside 8 dripping and 200 idle (slowest) %.4f s\n", underAttack);
    std::printf("peak memory before the hostile requests  %.1f MiB\n", MiB(before));
    std::printf("peak memory after them                   %.1f MiB\n", MiB(after));
    std::printf("scrape after them                        %.4f s\n", scrapeAfter);
    std::printf("stop                                     %.4f s\n", stopSeconds);
    std::printf("stop while a silent printer holds a read %.4f s\n", StopBesideASilentPrinter());
    std::printf("ratio %.2f\n", underAttack / atRest);
    return 0;
}
