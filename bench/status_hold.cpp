// How long a status reading holds a printer on loopback, against a bare
// connect and close in the same process (the least any reading can cost),
// and how many sales a one-session printer loses to status readings taken
// every 2 ms: each one a session of its own, then through the shared
// reader. The last line is "ratio <reading/connect>".

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "emulator/virtual_printer.h"
#include "printer_link/network_printer_link.h"
#include "printer_link/status_reader.h"

namespace {

using namespace vorpane;
using Clock = std::chrono::steady_clock;
constexpr int kReadings = 2000;
constexpr int kReadEveryMs = 2;

double MedianUs(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

std::unique_ptr<VirtualPrinter> Printer(PrinterMode mode) {
    VirtualPrinterConfig config;
    config.listenAddresses = {"127.0.0.1"};
    config.port = 0;
    config.mode = mode;
    return VirtualPrinter::Create(std::move(config)).printer;
}

// Sales lost while `read` runs every kReadEveryMs.
int LostSales(uint16_t port, const std::function<void()>& read, int jobs) {
    std::atomic<bool> done{false};
    std::thread reader([&] {
        while (!done.load()) {
            read();
            std::this_thread::sleep_for(std::chrono::milliseconds(kReadEveryMs));
        }
    });
    NetworkPrinterLink pos(port);
    const std::vector<uint8_t> job(8 * 1024, 'r');
    int lost = 0;
    for (int i = 0; i < jobs; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        lost += pos.SendData("127.0.0.1", job.data(), static_cast<int32_t>(job.size())) ==
                        static_cast<int32_t>(job.size())
                    ? 0
                    : 1;
    }
    done = true;
    reader.join();
    return lost;
}

}  // namespace

int main() {
    auto printer = Printer(PrinterMode::kNormal);
    if (!printer) {
        std::fprintf(stderr, "no virtual printer\n");
        return 1;
    }
    NetworkPrinterLink link(printer->Port());
    std::vector<double> held;
    std::vector<double> connects;
    for (int i = 0; i < kReadings; ++i) {
        const StatusReading reading = link.ReadStatus("127.0.0.1");
        if (!reading.Answered()) {
            std::fprintf(stderr, "reading %d: %s\n", i, StatusOutcomeText(reading.outcome));
            return 1;
        }
        held.push_back(static_cast<double>(reading.held.count()));
        const auto start = Clock::now();
        link.IsConPrinterServer("127.0.0.1");
        connects.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    const double readingUs = MedianUs(held);
    const double connectUs = MedianUs(connects);
    std::printf("hold of a reading: median %.1f us, longest %.1f us (%d readings)\n", readingUs,
                *std::max_element(held.begin(), held.end()), kReadings);
    std::printf("bare connect and close: median %.1f us\n", connectUs);

    auto oneSession = Printer(PrinterMode::kOneSession);
    NetworkPrinterLink statusLink(oneSession->Port());
    constexpr int kJobs = 400;
    const int before = LostSales(
        oneSession->Port(), [&] { statusLink.ReadStatus("127.0.0.1"); }, kJobs);
    SharedStatusReader shared(statusLink, 1000, std::chrono::seconds(1));
    const int after = LostSales(
        oneSession->Port(), [&] { shared.Read(*Ipv4Address::Parse("127.0.0.1")); }, kJobs);
    std::printf("sales lost of %d, status every %d ms: a session each %d, shared readings %d\n",
                kJobs, kReadEveryMs, before, after);
    std::printf("ratio %.2f\n", readingUs / connectUs);
    return 0;
}
