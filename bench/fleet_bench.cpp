// A fleet of 1,000 printers on loopback: one vorpane-printer process
// listening on 127.0.1.1 to 127.0.4.250, and one `vorpane-cli metrics`
// process watching all of them as fixed printers. Prints
//  - one /metrics scrape of the 1,000 (the slowest of 5), against one
//    /probe of one printer (the slowest of 5) in the same run;
//  - 1,000 /probe scrapes, one every 10 ms over 10 s, each of another
//    printer: how many were answered, and their latency median and worst;
//  - the exporter's peak resident memory, from its /proc status (VmHWM).
// Every reading is a real one: the exporter runs with --min-interval 0.
// The last line is "ratio <scrape of 1,000/probe of one>".

#include <httplib.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/ipv4_address.h"
#include "platform/posix/spawned_process.h"
#include "platform/resource_limits.h"
#include "platform/socket.h"

namespace {

using namespace vorpane;
using Clock = std::chrono::steady_clock;

constexpr int kPrinters = 1000;
constexpr int kProbes = 1000;
constexpr auto kProbeSpacing = std::chrono::milliseconds(10);

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// 127.0.1.1 .. 127.0.1.250, 127.0.2.1 .. and so on.
Ipv4Address PrinterAddress(int i) {
    const uint32_t third = 1 + static_cast<uint32_t>(i / 250);
    const uint32_t fourth = 1 + static_cast<uint32_t>(i % 250);
    return Ipv4Address::FromHostOrder(0x7F000000u | (third << 8) | fourth);
}

// A port the system has free on `address` now.
uint16_t FreePort(uint32_t address) {
    auto opened = Socket::Open(Socket::Kind::kStream);
    Ipv4Endpoint bound;
    if (!opened.socket.Valid() || opened.socket.Bind({address, 0}) != 0 ||
        opened.socket.LocalEndpoint(bound) != 0) {
        return 0;
    }
    return bound.port;
}

// True once `peer` accepts a connection, trying until `deadline`.
bool WaitUntilListening(const Ipv4Endpoint& peer, SpawnedProcess& process,
                        Clock::time_point deadline) {
    while (Clock::now() < deadline && !process.Finished()) {
        auto opened = Socket::Open(Socket::Kind::kStream, true);
        const int started = opened.socket.Connect(peer);
        if (started == 0) {
            return true;
        }
        if (started == EINPROGRESS && WaitForSocket(opened.socket, kSocketWritable, 200) == 0 &&
            opened.socket.ConnectResult() == 0) {
            return true;
        }
        // Refused at once: the process is still binding; ask again soon.
        WaitForSocket(opened.socket, kSocketReadable, 20);
    }
    return false;
}

// The process's peak resident set, in MiB, from /proc; -1 when unknown.
double PeakMiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmHWM:")) {
            return std::stod(line.substr(6)) / 1024.0;
        }
    }
    return -1;
}

struct Answer {
    bool ok = false;
    bool up = false;
    double seconds = 0;
};

Answer Get(uint16_t port, const std::string& path) {
    httplib::Client client("127.0.0.1", port);
    client.set_connection_timeout(5);
    client.set_read_timeout(10);
    const auto start = Clock::now();
    const httplib::Result result = client.Get(path);
    Answer answer;
    answer.seconds = Seconds(Clock::now() - start);
    answer.ok = result && result->status == 200;
    answer.up = answer.ok && result->body.find("vorpane_printer_up 1\n") != std::string::npos;
    return answer;
}

// How many printers a /metrics answer says are up.
int UpInScrape(uint16_t port) {
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(10);
    const httplib::Result result = client.Get("/metrics");
    if (!result || result->status != 200) {
        return -1;
    }
    int up = 0;
    for (size_t at = result->body.find("vorpane_printer_up{"); at != std::string::npos;
         at = result->body.find("vorpane_printer_up{", at + 1)) {
        const size_t end = result->body.find('\n', at);
        up += result->body.compare(end - 2, 2, " 1") == 0;
    }
    return up;
}

double Percentile(std::vector<double> values, double fraction) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<size_t>(fraction * values.size()))];
}

}  // namespace

int main() {
    // The printer holds 1,000 listeners besides its sessions; the child
    // inherits what this raises.
    const OpenFileLimit limit = RaiseOpenFileLimit();
    if (limit.soft != 0 && limit.soft < kPrinters + 256) {
        std::fprintf(stderr, "only %lld descriptors may be open\n",
                     static_cast<long long>(limit.soft));
        return 1;
    }
    const uint16_t printerPort = FreePort(PrinterAddress(0).HostOrder());
    const uint16_t exporterPort = FreePort(kLoopbackAddress);
    if (printerPort == 0 || exporterPort == 0) {
        std::fprintf(stderr, "no free port on loopback\n");
        return 1;
    }

    std::vector<std::string> printerArgs = {
        VORPANE_PRINTER_PROGRAM,     "--journal",      "/dev/null", "--port",
        std::to_string(printerPort), "--idle-timeout", "5"};
    std::vector<std::string> exporterArgs = {VORPANE_CLI_PROGRAM,
                                             "metrics",
                                             "--listen",
                                             "127.0.0.1:" + std::to_string(exporterPort),
                                             "--port",
                                             std::to_string(printerPort),
                                             "--min-interval",
                                             "0"};
    for (int i = 0; i < kPrinters; ++i) {
        printerArgs.push_back("--listen");
        printerArgs.push_back(PrinterAddress(i).Text());
        exporterArgs.push_back(PrinterAddress(i).Text());
    }
    int error = 0;
    const std::unique_ptr<SpawnedProcess> printer = SpawnedProcess::Spawn(printerArgs, &error);
    if (!printer || !WaitUntilListening({PrinterAddress(kPrinters - 1).HostOrder(), printerPort},
                                        *printer, Clock::now() + std::chrono::seconds(20))) {
        std::fprintf(stderr, "the virtual printer did not start (errno %d)\n", error);
        return 1;
    }
    const std::unique_ptr<SpawnedProcess> exporter = SpawnedProcess::Spawn(exporterArgs, &error);
    if (!exporter || !WaitUntilListening({kLoopbackAddress, exporterPort}, *exporter,
                                         Clock::now() + std::chrono::seconds(20))) {
        std::fprintf(stderr, "the exporter did not start (errno %d)\n", error);
        return 1;
    }

    // The first scrape also asks each printer who it is, once.
    const int upFirst = UpInScrape(exporterPort);
    double scrape = 0;
    double probe = 0;
    const std::string oneTarget =
        "/probe?target=" + PrinterAddress(0).Text() + ":" + std::to_string(printerPort);
    for (int i = 0; i < 5; ++i) {
        const Answer s = Get(exporterPort, "/metrics");
        const Answer p = Get(exporterPort, oneTarget);
        scrape = std::max(scrape, s.ok ? s.seconds : 1e9);
        probe = std::max(probe, p.ok && p.up ? p.seconds : 1e9);
    }
    const int upLast = UpInScrape(exporterPort);

    // Each probe starts at its own time, whatever the ones before it do.
    std::vector<Answer> probes(kProbes);
    std::atomic<int> next{0};
    const auto start = Clock::now() + std::chrono::milliseconds(50);
    std::vector<std::thread> clients;
    for (int t = 0; t < 32; ++t) {
        clients.emplace_back([&] {
            for (int i = next.fetch_add(1); i < kProbes; i = next.fetch_add(1)) {
                std::this_thread::sleep_until(start + i * kProbeSpacing);
                probes[static_cast<size_t>(i)] =
                    Get(exporterPort, "/probe?target=" + PrinterAddress(i % kPrinters).Text() +
                                          ":" + std::to_string(printerPort));
            }
        });
    }
    for (std::thread& client : clients) {
        client.join();
    }
    const double spread = Seconds(Clock::now() - start);
    int answered = 0;
    int up = 0;
    std::vector<double> latencies;
    for (const Answer& a : probes) {
        answered += a.ok;
        up += a.up;
        latencies.push_back(a.seconds);
    }
    const double peak = PeakMiB(exporter->Pid());

    std::printf("printers up in the first and last scrape   %d, %d of %d\n", upFirst, upLast,
                kPrinters);
    std::printf("/probe of one printer (slowest of 5)       %.4f s\n", probe);
    std::printf("/metrics of %d printers (slowest of 5)   %.4f s\n", kPrinters, scrape);
    std::printf("/probe scrapes answered                    %d of %d in %.1f s (%d up)\n", answered,
                kProbes, spread, up);
    std::printf("/probe latency median, worst               %.4f s, %.4f s\n",
                Percentile(latencies, 0.5), Percentile(latencies, 1.0));
    std::printf("exporter peak memory (VmHWM)               %.1f MiB\n", peak);
    std::printf("ratio %.2f\n", scrape / probe);
    return 0;
}
