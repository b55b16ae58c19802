#pragma once
// `vorpane-cli metrics`: the printers' conditions for Prometheus. A target
// set keeps the addresses to read (fixed ones and the last sweep of some
// prefixes, swept in the background), and a small HTTP server reads them on
// every GET /metrics and answers in the text exposition format 0.0.4.
//
// Composed by the subcommand:
//   auto targets = MetricsTargets::Start(fixed, prefixes, sweep, std::chrono::seconds(300));
//   targets->WaitForFirstSweep(std::chrono::seconds(30));
//   auto started = MetricsServer::Start(listen, [&] { return targets->Current(); }, read);
//   if (!started.server) { print started.message; return 3; }
//   ServeUntil(*started.server, stopFlag);

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "cli/printer_reading.h"
#include "discovery/port_sweep.h"
#include "platform/ipv4_address.h"
#include "platform/socket.h"

namespace httplib {
class Server;
}

namespace vorpane {

// The exposition text of one scrape: per printer vorpane_printer_up and a
// gauge per condition, labelled with its address and MAC, then the time the
// scrape took. A printer that did not answer is up 0 and online 0 and has
// no other condition samples: nothing is known of them. Printers come in
// address order.
std::string FormatMetrics(const std::vector<PrinterReading>& readings, double scrapeSeconds);

// "A.B.C.D:PORT" with a port from 1 to 65535; nullopt for anything else.
std::optional<Ipv4Endpoint> ParseListenEndpoint(std::string_view text);

// Where the server listens unless told otherwise: only this machine.
inline constexpr Ipv4Endpoint kDefaultMetricsEndpoint{kLoopbackAddress, 9464};

// The hosts of a prefix that look like printers.
using PrefixSweep = std::function<std::vector<Ipv4Address>(const Ipv4Prefix&)>;
// One reading per address, in any order; called from the server's threads,
// possibly for two scrapes at once.
using PrinterReader = std::function<std::vector<PrinterReading>(const std::vector<Ipv4Address>&)>;

// The addresses a scrape reads. The prefixes are swept on a thread of the
// set's own when it starts and again every `rescan`, never on a scrape, so a
// scrape costs one reading. Thread-safe.
class MetricsTargets {
public:
    // Nullptr when the system would not start the sweeping thread (only
    // needed when there are prefixes).
    static std::unique_ptr<MetricsTargets> Start(std::vector<Ipv4Address> fixed,
                                                 std::vector<Ipv4Prefix> prefixes,
                                                 PrefixSweep sweep,
                                                 std::chrono::milliseconds rescan);
    // Ends the thread, waiting at most for a sweep under way.
    ~MetricsTargets();
    MetricsTargets(const MetricsTargets&) = delete;
    MetricsTargets& operator=(const MetricsTargets&) = delete;

    // The fixed addresses and those of the last sweep, ascending, each once.
    std::vector<Ipv4Address> Current() const;
    // True once the first sweep has ended (at once without prefixes); waits
    // at most `timeout` for it, so that a server may start with all targets.
    bool WaitForFirstSweep(std::chrono::milliseconds timeout);

private:
    MetricsTargets(std::vector<Ipv4Address> fixed, std::vector<Ipv4Prefix> prefixes,
                   PrefixSweep sweep, std::chrono::milliseconds rescan);
    void Run();

    const std::vector<Ipv4Address> m_fixed;
    const std::vector<Ipv4Prefix> m_prefixes;
    const PrefixSweep m_sweep;
    const std::chrono::milliseconds m_rescan;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_swept;
    bool m_stopping = false;
    bool m_sweptOnce = false;
    std::vector<Ipv4Address> m_current;
    std::thread m_thread;
};

// The HTTP side: GET /metrics on its own thread, 404 for anything else.
class MetricsServer {
public:
    struct Started;
    // Binds `listen` (port 0: the system picks one, see Port()) and starts
    // serving. Each scrape reads the addresses `targets` gives through `read`.
    static Started Start(const Ipv4Endpoint& listen,
                         std::function<std::vector<Ipv4Address>()> targets, PrinterReader read);
    // Stops serving and waits for scrapes under way.
    ~MetricsServer();
    MetricsServer(const MetricsServer&) = delete;
    MetricsServer& operator=(const MetricsServer&) = delete;

    uint16_t Port() const { return m_port; }
    // Closes the listening socket and ends the thread; idempotent and safe
    // from any thread but a scrape's.
    void Stop();
    // True once the server has ended, by Stop() or by a failure of its own;
    // waits at most `timeout` for it.
    bool WaitForEnd(std::chrono::milliseconds timeout);

private:
    MetricsServer();
    std::string Scrape();

    std::unique_ptr<httplib::Server> m_http;
    std::function<std::vector<Ipv4Address>()> m_targets;
    PrinterReader m_read;
    uint16_t m_port = 0;
    SocketHandle m_listening = kNoSocket;  // httplib's, for a start that fails
    std::mutex m_stopMutex;                // one Stop() joins, the others wait for it
    std::mutex m_mutex;
    std::condition_variable m_ended;
    bool m_done = false;
    std::thread m_thread;
};

struct MetricsServer::Started {
    std::unique_ptr<MetricsServer> server;
    int error = 0;        // errno of the bind, when known
    std::string message;  // "cannot listen on 127.0.0.1:9464: Address already in use"
};

// Serves until `stopRequested` turns true, looking at it every `check`, and
// stops the server. A signal handler may set the flag: a lock-free store is
// all it takes. True when it stopped on the request, false when the server
// ended by itself.
bool ServeUntil(MetricsServer& server, const std::atomic<bool>& stopRequested,
                std::chrono::milliseconds check = std::chrono::milliseconds(100));

}  // namespace vorpane
