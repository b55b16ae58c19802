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

#include "cli/http_front.h"
#include "cli/printer_reading.h"
#include "discovery/port_sweep.h"
#include "platform/ipv4_address.h"
#include "platform/socket.h"

namespace vorpane {

// The exposition text of one scrape: per printer vorpane_printer_up and a
// gauge per condition, labelled with its address and MAC, then the time the
// scrape took. A printer that did not answer is up 0 and online 0 and has
// no other condition samples: nothing is known of them. A printer of
// `unread` (its reading did not end by the scrape's deadline) has only
// vorpane_printer_reading_complete 0. Printers come in address order.
std::string FormatMetrics(const std::vector<PrinterReading>& readings,
                          const std::vector<Ipv4Address>& unread, double scrapeSeconds);

// The exposition of one /probe: the same printer series without an address
// label (the scrape's target names the printer), then the probe's time.
// No reading: it did not end by the deadline.
std::string FormatProbe(const std::optional<PrinterReading>& reading, Ipv4Address address,
                        double probeSeconds);

// A probe's target, "A.B.C.D" or "A.B.C.D:PORT" (`defaultPort` without
// one); nullopt with one line in `why` for anything else.
std::optional<Ipv4Endpoint> ParseProbeTarget(std::string_view text, uint16_t defaultPort,
                                             std::string& why);

// The printers in the JSON of Prometheus's HTTP service discovery: one
// group of "A.B.C.D:PORT" targets, or [] when there are none.
std::string FormatServiceDiscovery(const std::vector<Ipv4Address>& printers, uint16_t port);

// "A.B.C.D:PORT" with a port from 1 to 65535; nullopt for anything else.
std::optional<Ipv4Endpoint> ParseListenEndpoint(std::string_view text);

// Where the server listens unless told otherwise: only this machine.
inline constexpr Ipv4Endpoint kDefaultMetricsEndpoint{kLoopbackAddress, 9464};

// The hosts of a prefix that look like printers.
using PrefixSweep = std::function<std::vector<Ipv4Address>(const Ipv4Prefix&)>;
// One printer's reading; called from the server's readers, for many
// printers at once.
using PrinterReader = std::function<PrinterReading(Ipv4Address)>;

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
    // Seconds the last sweep took (0 before the first and without prefixes).
    double LastSweepSeconds() const;

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
    double m_sweepSeconds = 0;
    std::thread m_thread;
};

// How the server reads and serves.
struct MetricsOptions {
    size_t readers = 64;  // printers read at once, over all scrapes
    // A scrape's time when Prometheus does not say its time-out.
    std::chrono::milliseconds defaultBudget{9000};
    HttpLimits http;
    uint16_t printerPort = 9100;  // the one port probes read and /sd lists
    // What /probe may read; nothing outside them is ever connected to.
    std::vector<Ipv4Prefix> allowProbe;
    // The last sweep's time, for the exporter's own series; none: 0.
    std::function<double()> sweepSeconds;
    // Ends the readings under way (PrinterLink::StopReadings), so that a stop
    // is not held by a printer that accepted and stays silent; none: the stop
    // waits for them.
    std::function<void()> stopReadings;
};

// The HTTP side: GET and HEAD of /metrics (the exporter's own series and
// every printer's), /probe?target= (one printer, read during the scrape)
// and /sd (the targets for Prometheus), 404 for any other path. A scrape
// ends by its deadline: the scrape time-out Prometheus sends, less a margin,
// and reports the printers not read by then as such; their readings are
// not started, and the ones under way end on the readers' threads.
class MetricsServer {
public:
    struct Started;
    // Binds `listen` (port 0: the system picks one, see Port()) and starts
    // serving. Each scrape reads the addresses `targets` gives through `read`.
    static Started Start(const Ipv4Endpoint& listen,
                         std::function<std::vector<Ipv4Address>()> targets, PrinterReader read,
                         MetricsOptions options = {});
    // Stops serving and waits for scrapes under way.
    ~MetricsServer();
    MetricsServer(const MetricsServer&) = delete;
    MetricsServer& operator=(const MetricsServer&) = delete;

    uint16_t Port() const { return m_http->Port(); }
    const HttpCounters& Counters() const { return m_http->Counters(); }
    uint64_t Scrapes() const { return m_scrapes.load(); }
    // Cancels the scrapes under way, closes every connection and ends the
    // threads; idempotent and safe from any thread but a scrape's.
    void Stop();
    // True once the server has ended, by Stop() or by a failure of its own;
    // waits at most `timeout` for it.
    bool WaitForEnd(std::chrono::milliseconds timeout);

private:
    class Readers;
    MetricsServer();
    HttpReply Answer(const HttpRequest& request);
    std::string Scrape(std::chrono::milliseconds budget);
    HttpReply Probe(const HttpRequest& request, std::chrono::milliseconds budget);

    std::function<std::vector<Ipv4Address>()> m_targets;
    std::unique_ptr<Readers> m_readers;
    std::unique_ptr<StrictHttpServer> m_http;
    MetricsOptions m_options;
    std::atomic<uint64_t> m_scrapes{0};
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
