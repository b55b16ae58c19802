// How long a DLE EOT status request waits while 62 other sessions send
// inputs that redraw something large for a few bytes, against the same with
// 62 sessions that send receipts; the virtual printer draws every receipt
// and saves its pictures, as with --render.
//
//   build-release/bench/status_bench [SECONDS per input]

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/unique_fd.h"
#include "tests/common/hostile_inputs.h"
#include "virtual_printer/virtual_printer.h"

namespace {

using namespace vorpane;
using Clock = std::chrono::steady_clock;
constexpr int kSessions = 62;

UniqueFd Connect(uint16_t port) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        return UniqueFd(-1);
    }
    return fd;
}

struct Delays {
    size_t answers = 0;
    double median = 0;
    double p90 = 0;
    double worst = 0;
};

// Status answers timed while kSessions clients send `bytes` again and again.
Delays Measure(VirtualPrinter& printer, const hostile::Bytes& bytes, double seconds) {
    // The last input's sessions first draw what they still hold.
    const auto settled = Clock::now() + std::chrono::seconds(60);
    while (printer.OpenSessions() > 0 && Clock::now() < settled) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const uint16_t port = printer.Port();
    std::atomic<bool> stop{false};
    std::vector<std::thread> senders;
    for (int i = 0; i < kSessions; ++i) {
        senders.emplace_back([&] {
            const UniqueFd fd = Connect(port);
            while (fd.get() >= 0 && !stop.load()) {
                size_t sent = 0;
                while (sent < bytes.size() && !stop.load()) {
                    const ssize_t n =
                        ::send(fd.get(), bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
                    if (n <= 0) {
                        return;
                    }
                    sent += static_cast<size_t>(n);
                }
            }
        });
    }
    const UniqueFd fd = Connect(port);
    const int one = 1;
    ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    timeval wait{5, 0};
    ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    std::vector<double> delays;
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
        const uint8_t request[] = {0x10, 0x04, 0x01};
        const auto start = Clock::now();
        uint8_t reply = 0;
        if (::send(fd.get(), request, sizeof request, MSG_NOSIGNAL) != 3 ||
            ::recv(fd.get(), &reply, 1, 0) != 1) {
            break;
        }
        delays.push_back(std::chrono::duration<double>(Clock::now() - start).count());
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // a monitor's pace
    }
    stop = true;
    for (auto& t : senders) {
        t.join();
    }
    if (delays.empty()) {
        return {};
    }
    std::sort(delays.begin(), delays.end());
    return {delays.size(), delays[delays.size() / 2], delays[delays.size() * 9 / 10],
            delays.back()};
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::strtod(argv[1], nullptr) : 20;
    const std::string dir =
        (std::filesystem::temp_directory_path() / "vorpane-status-bench").string();
    std::filesystem::remove_all(dir);
    VirtualPrinterConfig config;
    config.listenAddresses = {"127.0.0.1"};
    config.port = 0;
    config.journalLines = 0;
    config.journalWriter = [](const std::string&) {};
    config.renderDir = dir;
    auto created = VirtualPrinter::Create(std::move(config));
    if (!created.printer) {
        std::fprintf(stderr, "status_bench: %s\n", created.error.c_str());
        return 1;
    }
    hostile::Bytes receipts;
    for (int i = 0; i < 200; ++i) {
        const std::string r =
            "Receipt line " + std::to_string(i) + "\n\x1D" + "V" + std::string(1, '\0');
        receipts.insert(receipts.end(), r.begin(), r.end());
    }
    const Delays base = Measure(*created.printer, receipts, seconds);
    std::printf(
        "status with %d sessions sending receipts: median %.1f ms, 90th %.1f ms, worst %.1f ms\n",
        kSessions, base.median * 1e3, base.p90 * 1e3, base.worst * 1e3);
    for (const auto& input : hostile::kInputs) {
        const Delays d = Measure(*created.printer, input.make(size_t{4} << 20), seconds);
        if (d.answers == 0) {
            std::printf("status with %d sessions of %s: no answer (refused or over 5 s)\n",
                        kSessions, input.name);
            continue;
        }
        std::printf(
            "status with %d sessions of %-18s median %.1f ms, 90th %.1f ms, worst %.1f ms "
            "(ratio %.2f)\n",
            kSessions, (std::string(input.name) + ":").c_str(), d.median * 1e3, d.p90 * 1e3,
            d.worst * 1e3, d.median / std::max(base.median, 1e-6));
    }
    created.printer->Stop();
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("peak memory %.1f MiB\n", usage.ru_maxrss / 1024.0);
    std::filesystem::remove_all(dir);
    return 0;
}
