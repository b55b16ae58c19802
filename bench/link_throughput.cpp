// Throughput of NetworkPrinterLink::SendData against a plain blocking socket
// loop, both sending 256 MiB to the same virtual printer on loopback. Each
// way runs a few times, alternating, and the best run counts, which keeps the
// comparison fair on a busy machine. The last line is "ratio <link/plain>".

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/unique_fd.h"
#include "printer_link/network_printer_link.h"
#include "virtual_printer/virtual_printer.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int32_t kBytes = 256 * 1024 * 1024;
constexpr int kRounds = 5;  // after one warm-up round of each

std::vector<uint8_t> Payload() {
    std::vector<uint8_t> data(kBytes);
    size_t at = 0;
    for (unsigned line = 0; at < data.size(); ++line) {
        char text[48];
        const int n = std::snprintf(text, sizeof text, "Vorpane throughput line %010u\n", line);
        for (int i = 0; i < n && at < data.size(); ++i) {
            data[at++] = static_cast<uint8_t>(text[i]);
        }
    }
    return data;
}

// The plain loop: blocking connect, send until done, half-close, wait for
// the sink to close. Same delivery guarantee as SendData, nothing else.
int64_t PlainSend(uint16_t port, const uint8_t* data, size_t size) {
    vorpane::UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        return 0;
    }
    size_t sent = 0;
    while (sent < size) {
        const ssize_t n = ::send(fd.get(), data + sent, size - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return static_cast<int64_t>(sent);
        }
        sent += static_cast<size_t>(n);
    }
    ::shutdown(fd.get(), SHUT_WR);
    char sink[4096];
    while (::recv(fd.get(), sink, sizeof sink, 0) > 0) {
    }
    return static_cast<int64_t>(sent);
}

double MibPerSecond(Clock::duration elapsed) {
    const double seconds = std::chrono::duration<double>(elapsed).count();
    return (static_cast<double>(kBytes) / (1024.0 * 1024.0)) / seconds;
}

}  // namespace

int main() {
    vorpane::VirtualPrinterConfig config;
    config.listenAddresses = {"127.0.0.1"};
    config.port = 0;
    config.journalLines = 0;  // the sink only takes the data
    auto created = vorpane::VirtualPrinter::Create(std::move(config));
    if (!created.printer) {
        std::fprintf(stderr, "virtual printer: %s\n", created.error.c_str());
        return 1;
    }
    vorpane::VirtualPrinter& printer = *created.printer;
    const std::vector<uint8_t> payload = Payload();

    vorpane::NetworkPrinterLink link(printer.Port());
    link.SetTimeOut(10, 0);

    double bestLink = 0;
    double bestPlain = 0;
    for (int round = 0; round <= kRounds; ++round) {
        auto start = Clock::now();
        const int32_t linkSent = link.SendData("127.0.0.1", payload.data(), kBytes);
        const double linkRate = MibPerSecond(Clock::now() - start);
        if (linkSent != kBytes) {
            std::fprintf(stderr, "SendData wrote %d of %d bytes\n", linkSent, kBytes);
            return 1;
        }
        start = Clock::now();
        const int64_t plainSent = PlainSend(printer.Port(), payload.data(), payload.size());
        const double plainRate = MibPerSecond(Clock::now() - start);
        if (plainSent != kBytes) {
            std::fprintf(stderr, "plain loop wrote %lld of %d bytes\n",
                         static_cast<long long>(plainSent), kBytes);
            return 1;
        }
        std::printf("%s %d: link %.1f MiB/s, plain %.1f MiB/s\n", round == 0 ? "warm-up" : "round",
                    round, linkRate, plainRate);
        if (round == 0) {
            continue;
        }
        bestLink = std::max(bestLink, linkRate);
        bestPlain = std::max(bestPlain, plainRate);
    }
    const size_t expected = static_cast<size_t>(kBytes) * 2 * (kRounds + 1);
    if (printer.Raw().Size() != expected) {
        std::fprintf(stderr, "the printer took %zu bytes, expected %zu\n", printer.Raw().Size(),
                     expected);
        return 1;
    }
    std::printf("link  %.1f MiB/s\n", bestLink);
    std::printf("plain %.1f MiB/s\n", bestPlain);
    std::printf("ratio %.3f\n", bestLink / bestPlain);
    return 0;
}
