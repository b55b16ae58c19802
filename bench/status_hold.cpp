// How long a status reading holds a printer on loopback, against a bare
// connect and close in the same process (the least any reading can cost),
// and how many sales a one-session printer loses to status readings taken
// every 2 ms: each one a session of its own, then through the shared
// reader; then, as root, the same hold across a lab link (a printer in a
// network namespace of its own). The last line is "ratio <reading/connect>"
// on loopback.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "lab_fixture.h"
#include "printer_link/network_printer_link.h"
#include "printer_link/status_reader.h"
#include "scan_lab.h"
#include "virtual_printer/virtual_printer.h"

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

struct Holds {
    double readingUs = 0;
    double longestUs = 0;
    double connectUs = 0;
};

// Readings and bare connects, alternating, of the printer at `address`.
std::optional<Holds> MeasureHolds(const char* address, uint16_t port) {
    NetworkPrinterLink link(port);
    std::vector<double> held;
    std::vector<double> connects;
    for (int i = 0; i < kReadings; ++i) {
        const StatusReading reading = link.ReadStatus(address);
        if (!reading.Answered()) {
            std::fprintf(stderr, "reading %d: %s\n", i, StatusOutcomeText(reading.outcome));
            return std::nullopt;
        }
        held.push_back(static_cast<double>(reading.held.count()));
        const auto start = Clock::now();
        link.IsConPrinterServer(address);
        connects.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    return Holds{MedianUs(held), *std::max_element(held.begin(), held.end()), MedianUs(connects)};
}

// The holds across the lab's link; false when the lab cannot be made here.
bool LabHolds() {
    if (!lab::Lab::Unavailable().empty()) {
        std::fprintf(stderr, "no lab: %s\n", lab::Lab::Unavailable().c_str());
        return false;
    }
    std::string error;
    std::unique_ptr<lab::Lab> lab = lab::Lab::Up("198.18.46", 1, error);
    if (!lab || !lab->AddHost("printers", {20})) {
        std::fprintf(stderr, "lab: %s\n", error.c_str());
        return false;
    }
    auto printer =
        scanlab::StartPrinter(*lab, lab->HostNamespace("printers"), lab->Address(20), false, error);
    if (!printer) {
        std::fprintf(stderr, "lab printer: %s\n", error.c_str());
        return false;
    }
    std::optional<Holds> holds;
    const std::string address = lab->Address(20);
    lab->RunInClient([&] { holds = MeasureHolds(address.c_str(), 9100); });
    if (!holds) {
        return false;
    }
    std::printf(
        "lab: hold of a reading: median %.1f us, longest %.1f us; bare connect and "
        "close: median %.1f us\n",
        holds->readingUs, holds->longestUs, holds->connectUs);
    return true;
}

}  // namespace

int main() {
    auto printer = Printer(PrinterMode::kNormal);
    if (!printer) {
        std::fprintf(stderr, "no virtual printer\n");
        return 1;
    }
    const std::optional<Holds> holds = MeasureHolds("127.0.0.1", printer->Port());
    if (!holds) {
        return 1;
    }
    std::printf("hold of a reading: median %.1f us, longest %.1f us (%d readings)\n",
                holds->readingUs, holds->longestUs, kReadings);
    std::printf("bare connect and close: median %.1f us\n", holds->connectUs);

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
    LabHolds();
    std::printf("ratio %.2f\n", holds->readingUs / holds->connectUs);
    return 0;
}
