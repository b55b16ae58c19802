#include "cli/metrics.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <iterator>

#include "platform/thread.h"

namespace vorpane {
namespace {

constexpr const char* kContentType = "text/plain; version=0.0.4";

struct ConditionGauge {
    const char* name;
    const char* help;
    bool PrinterConditions::*field;
};

// Online first: it is the one condition every printer has a sample of.
constexpr ConditionGauge kConditionGauges[] = {
    {"vorpane_printer_online", "1 when the printer is on-line.", &PrinterConditions::online},
    {"vorpane_printer_busy", "1 when the printer is busy (off-line for now).",
     &PrinterConditions::busy},
    {"vorpane_printer_paper_end", "1 when the paper has run out.", &PrinterConditions::paperEnd},
    {"vorpane_printer_pause", "1 when the printer waits for an error recovery.",
     &PrinterConditions::pause},
    {"vorpane_printer_cover_open", "1 when the cover is open.", &PrinterConditions::coverOpen},
    {"vorpane_printer_over_temperature", "1 when the print head is too hot.",
     &PrinterConditions::overTemp},
    {"vorpane_printer_paper_near_end", "1 when the roll paper is near its end.",
     &PrinterConditions::paperNearEnd},
    {"vorpane_printer_drawer_pin3_high", "1 when drawer connector pin 3 is high.",
     &PrinterConditions::drawerPin3High},
    {"vorpane_printer_feed_button", "1 while the paper feed button is pressed.",
     &PrinterConditions::feedButton},
    {"vorpane_printer_mechanical_error", "1 after a recoverable mechanical error.",
     &PrinterConditions::mechanicalError},
    {"vorpane_printer_cutter_error", "1 after an autocutter error.",
     &PrinterConditions::cutterError},
    {"vorpane_printer_unrecoverable_error", "1 after an unrecoverable error.",
     &PrinterConditions::unrecoverableError},
};

void AppendEscaped(std::string& out, std::string_view value) {
    for (const char c : value) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\n':
                out += "\\n";
                break;
            default:
                out += c;
        }
    }
}

void AppendHeader(std::string& out, const char* name, const char* help) {
    out.append("# HELP ").append(name).append(" ").append(help).append("\n");
    out.append("# TYPE ").append(name).append(" gauge\n");
}

// One printer of an exposition: its reading, or none when it was not read
// by the deadline.
struct PrinterRow {
    Ipv4Address address;
    const PrinterReading* reading = nullptr;
};

// `{address="..."}` on /metrics; nothing on /probe, where the scrape's
// target names the printer.
std::string Labels(const PrinterRow& row, bool withAddress, std::string_view more = {}) {
    std::string out;
    if (withAddress) {
        out.append("address=\"").append(row.address.Text()).append("\"");
    }
    if (!more.empty()) {
        out.append(withAddress ? "," : "").append(more);
    }
    return out.empty() ? out : "{" + out + "}";
}

void AppendSample(std::string& out, const char* name, const std::string& labels, bool value) {
    out.append(name).append(labels).append(value ? " 1\n" : " 0\n");
}

std::string LabelPair(const char* name, std::string_view value) {
    std::string out = std::string(name) + "=\"";
    AppendEscaped(out, value);
    return out + "\"";
}

// Why a printer is not up, as one gauge per reason (the state-set form).
constexpr std::pair<StatusOutcome, const char*> kDownReasons[] = {
    {StatusOutcome::kTimedOut, "timeout"},
    {StatusOutcome::kRefused, "refused"},
    {StatusOutcome::kReset, "reset"},
    {StatusOutcome::kBadReply, "bad_reply"},
};

void AppendPrinterSeries(std::string& out, const std::vector<PrinterRow>& rows, bool withAddress) {
    const auto each = [&](const char* name, const char* help, auto&& sample) {
        AppendHeader(out, name, help);
        for (const PrinterRow& row : rows) {
            sample(row);
        }
    };
    each("vorpane_printer_reading_complete",
         "1 when the printer's reading ended within the scrape's deadline.",
         [&](const PrinterRow& row) {
             AppendSample(out, "vorpane_printer_reading_complete", Labels(row, withAddress),
                          row.reading != nullptr);
         });
    each("vorpane_printer_up",
         "1 when the printer answered the status request or another client held it.",
         [&](const PrinterRow& row) {
             if (row.reading) {
                 AppendSample(out, "vorpane_printer_up", Labels(row, withAddress),
                              row.reading->Up());
             }
         });
    each("vorpane_printer_down_reason", "1 for the reason the printer is not up.",
         [&](const PrinterRow& row) {
             if (!row.reading) {
                 return;
             }
             for (const auto& [outcome, reason] : kDownReasons) {
                 AppendSample(out, "vorpane_printer_down_reason",
                              Labels(row, withAddress, LabelPair("reason", reason)),
                              !row.reading->Up() && row.reading->why == outcome);
             }
         });
    each("vorpane_printer_in_use", "1 when another client held the printer.",
         [&](const PrinterRow& row) {
             if (row.reading) {
                 AppendSample(out, "vorpane_printer_in_use", Labels(row, withAddress),
                              row.reading->inUse);
             }
         });
    for (const auto& gauge : kConditionGauges) {
        each(gauge.name, gauge.help, [&](const PrinterRow& row) {
            // Of a printer that did not answer only "not on-line" is known.
            if (!row.reading) {
                return;
            }
            if (gauge.field == &PrinterConditions::online) {
                AppendSample(out, gauge.name, Labels(row, withAddress), row.reading->Up());
            } else if (row.reading->status >= 0) {
                AppendSample(out, gauge.name, Labels(row, withAddress),
                             ConditionsOf(row.reading->status).*gauge.field);
            }
        });
    }
    each("vorpane_printer_info", "Who the printer is; always 1.", [&](const PrinterRow& row) {
        if (!row.reading) {
            return;
        }
        const PrinterIdentityTexts& id = row.reading->identity;
        const std::string labels =
            LabelPair("maker", id.maker) + "," + LabelPair("model", id.model) + "," +
            LabelPair("firmware", id.firmware) + "," + LabelPair("serial", id.serial) + "," +
            LabelPair("mac", row.reading->mac);
        AppendSample(out, "vorpane_printer_info", Labels(row, withAddress, labels), true);
    });
}

std::vector<PrinterRow> Rows(const std::vector<PrinterReading>& readings,
                             const std::vector<Ipv4Address>& unread) {
    std::vector<PrinterRow> rows;
    for (const auto& reading : readings) {
        rows.push_back({reading.address, &reading});
    }
    for (const Ipv4Address address : unread) {
        rows.push_back({address, nullptr});
    }
    std::stable_sort(rows.begin(), rows.end(),
                     [](const auto& a, const auto& b) { return a.address < b.address; });
    return rows;
}

// A shortest round-trip decimal, whatever the process's locale.
std::string NumberText(double value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::vector<Ipv4Address> SortedUnique(std::vector<Ipv4Address> addresses) {
    std::sort(addresses.begin(), addresses.end());
    addresses.erase(std::unique(addresses.begin(), addresses.end()), addresses.end());
    return addresses;
}

}  // namespace

std::string FormatMetrics(const std::vector<PrinterReading>& readings,
                          const std::vector<Ipv4Address>& unread, double scrapeSeconds) {
    std::string out;
    AppendPrinterSeries(out, Rows(readings, unread), true);
    AppendHeader(out, "vorpane_scrape_duration_seconds", "Seconds the printers took to read.");
    out.append("vorpane_scrape_duration_seconds ").append(NumberText(scrapeSeconds)).append("\n");
    return out;
}

std::string FormatProbe(const std::optional<PrinterReading>& reading, Ipv4Address address,
                        double probeSeconds) {
    std::string out;
    std::vector<PrinterReading> read;
    std::vector<Ipv4Address> unread;
    if (reading) {
        read.push_back(*reading);
    } else {
        unread.push_back(address);
    }
    AppendPrinterSeries(out, Rows(read, unread), false);
    AppendHeader(out, "vorpane_probe_duration_seconds", "Seconds the probe took.");
    out.append("vorpane_probe_duration_seconds ").append(NumberText(probeSeconds)).append("\n");
    return out;
}

std::optional<Ipv4Endpoint> ParseProbeTarget(std::string_view text, uint16_t defaultPort,
                                             std::string& why) {
    const size_t colon = text.find(':');
    const std::string_view host = text.substr(0, colon);
    const auto address = Ipv4Address::Parse(host);
    if (!address) {
        why = "target \"" + std::string(text.substr(0, 64)) + "\" is no IPv4 address";
        return std::nullopt;
    }
    if (colon == std::string_view::npos) {
        return Ipv4Endpoint{address->HostOrder(), defaultPort};
    }
    const auto endpoint = ParseListenEndpoint(text);
    if (!endpoint) {
        why = "target \"" + std::string(text.substr(0, 64)) + "\" has no port from 1 to 65535";
        return std::nullopt;
    }
    return endpoint;
}

std::string FormatServiceDiscovery(const std::vector<Ipv4Address>& printers, uint16_t port) {
    if (printers.empty()) {
        return "[]\n";
    }
    nlohmann::json targets = nlohmann::json::array();
    for (const Ipv4Address address : printers) {
        targets.push_back(address.Text() + ":" + std::to_string(port));
    }
    nlohmann::json group = {{"targets", targets}, {"labels", nlohmann::json::object()}};
    return nlohmann::json::array({group}).dump() + "\n";
}

std::optional<Ipv4Endpoint> ParseListenEndpoint(std::string_view text) {
    const size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    const auto address = Ipv4Address::Parse(text.substr(0, colon));
    const std::string_view portText = text.substr(colon + 1);
    unsigned port = 0;
    const auto [end, error] =
        std::from_chars(portText.data(), portText.data() + portText.size(), port);
    if (!address || portText.empty() || error != std::errc() ||
        end != portText.data() + portText.size() || port < 1 || port > 65535) {
        return std::nullopt;
    }
    return Ipv4Endpoint{address->HostOrder(), static_cast<uint16_t>(port)};
}

MetricsTargets::MetricsTargets(std::vector<Ipv4Address> fixed, std::vector<Ipv4Prefix> prefixes,
                               PrefixSweep sweep, std::chrono::milliseconds rescan)
    : m_fixed(SortedUnique(std::move(fixed))),
      m_prefixes(std::move(prefixes)),
      m_sweep(std::move(sweep)),
      m_rescan(rescan),
      m_sweptOnce(m_prefixes.empty()),
      m_current(m_fixed) {}

std::unique_ptr<MetricsTargets> MetricsTargets::Start(std::vector<Ipv4Address> fixed,
                                                      std::vector<Ipv4Prefix> prefixes,
                                                      PrefixSweep sweep,
                                                      std::chrono::milliseconds rescan) {
    std::unique_ptr<MetricsTargets> targets(
        new MetricsTargets(std::move(fixed), std::move(prefixes), std::move(sweep), rescan));
    if (!targets->m_prefixes.empty()) {
        auto thread = StartSystemThread([raw = targets.get()] { raw->Run(); });
        if (!thread) {
            return nullptr;
        }
        targets->m_thread = std::move(*thread);
    }
    return targets;
}

MetricsTargets::~MetricsTargets() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

std::vector<Ipv4Address> MetricsTargets::Current() const {
    std::lock_guard lock(m_mutex);
    return m_current;
}

bool MetricsTargets::WaitForFirstSweep(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_swept.wait_for(lock, timeout, [this] { return m_sweptOnce; });
}

double MetricsTargets::LastSweepSeconds() const {
    std::lock_guard lock(m_mutex);
    return m_sweepSeconds;
}

void MetricsTargets::Run() {
    std::unique_lock lock(m_mutex);
    while (!m_stopping) {
        lock.unlock();
        const auto start = std::chrono::steady_clock::now();
        std::vector<Ipv4Address> found = m_fixed;
        for (const auto& prefix : m_prefixes) {
            const auto hosts = m_sweep(prefix);
            found.insert(found.end(), hosts.begin(), hosts.end());
        }
        found = SortedUnique(std::move(found));
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        lock.lock();
        m_sweepSeconds = took.count();
        m_current = std::move(found);
        m_sweptOnce = true;
        m_swept.notify_all();
        m_wake.wait_for(lock, m_rescan, [this] { return m_stopping; });
    }
}

// The readings of every scrape on a fixed set of threads, so that abandoned
// or concurrent scrapes never multiply them. A scrape that gives up takes
// its printers not yet begun off the list.
class MetricsServer::Readers {
public:
    explicit Readers(PrinterReader read) : m_read(std::move(read)) {}
    ~Readers() { Stop(); }

    bool Start(size_t count) {
        for (size_t i = 0; i < std::max<size_t>(count, 1); ++i) {
            auto thread = StartSystemThread([this] { Run(); });
            if (!thread) {
                return false;
            }
            m_threads.push_back(std::move(*thread));
        }
        return true;
    }

    // Wakes the scrapes waiting; ends the threads once their readings end.
    void Cancel() {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_work.notify_all();
        m_progress.notify_all();
    }
    void Stop() {
        Cancel();
        for (std::thread& thread : m_threads) {
            thread.join();
        }
        m_threads.clear();
    }

    // The readings that ended by `deadline`, and the addresses that did not.
    std::pair<std::vector<PrinterReading>, std::vector<Ipv4Address>> ReadUntil(
        const std::vector<Ipv4Address>& addresses, std::chrono::steady_clock::time_point deadline) {
        auto job = std::make_shared<Job>();
        job->addresses = addresses;
        job->readings.resize(addresses.size());
        std::unique_lock lock(m_mutex);
        if (!addresses.empty()) {
            m_jobs.push_back(job);
            m_work.notify_all();
        }
        m_progress.wait_until(lock, deadline,
                              [&] { return m_stopping || job->finished == job->addresses.size(); });
        job->next = job->addresses.size();  // nothing more begins for it
        std::erase(m_jobs, job);
        std::pair<std::vector<PrinterReading>, std::vector<Ipv4Address>> out;
        for (size_t i = 0; i < addresses.size(); ++i) {
            if (job->readings[i]) {
                out.first.push_back(*job->readings[i]);
            } else {
                out.second.push_back(addresses[i]);
            }
        }
        return out;
    }

private:
    struct Job {
        std::vector<Ipv4Address> addresses;
        std::vector<std::optional<PrinterReading>> readings;
        size_t next = 0;
        size_t finished = 0;
    };

    void Run() {
        std::unique_lock lock(m_mutex);
        for (;;) {
            std::shared_ptr<Job> job;
            m_work.wait(lock, [&] {
                return m_stopping || std::any_of(m_jobs.begin(), m_jobs.end(), [](const auto& j) {
                           return j->next < j->addresses.size();
                       });
            });
            if (m_stopping) {
                return;
            }
            for (const auto& candidate : m_jobs) {
                if (candidate->next < candidate->addresses.size()) {
                    job = candidate;
                    break;
                }
            }
            const size_t index = job->next++;
            lock.unlock();
            PrinterReading reading = m_read(job->addresses[index]);
            lock.lock();
            job->readings[index] = std::move(reading);
            ++job->finished;
            m_progress.notify_all();
        }
    }

    const PrinterReader m_read;
    std::mutex m_mutex;
    std::condition_variable m_work;
    std::condition_variable m_progress;
    std::vector<std::shared_ptr<Job>> m_jobs;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};

MetricsServer::MetricsServer() = default;

MetricsServer::Started MetricsServer::Start(const Ipv4Endpoint& listen,
                                            std::function<std::vector<Ipv4Address>()> targets,
                                            PrinterReader read, MetricsOptions options) {
    std::unique_ptr<MetricsServer> server(new MetricsServer());
    server->m_targets = std::move(targets);
    server->m_options = options;
    server->m_readers = std::make_unique<Readers>(std::move(read));
    if (!server->m_readers->Start(options.readers)) {
        return {nullptr, 0,
                "cannot listen on " + Ipv4Address::FromHostOrder(listen.address).Text() + ":" +
                    std::to_string(listen.port) + ": no thread to read printers"};
    }
    MetricsServer* raw = server.get();
    auto started = StrictHttpServer::Start(
        listen, options.http, [raw](const HttpRequest& request, const std::atomic<bool>&) {
            return raw->Answer(request);
        });
    if (!started.server) {
        return {nullptr, started.error, started.message};
    }
    server->m_http = std::move(started.server);
    return {std::move(server), 0, {}};
}

MetricsServer::~MetricsServer() {
    Stop();
}

void MetricsServer::Stop() {
    if (m_readers) {
        m_readers->Cancel();
    }
    if (m_options.stopReadings) {
        m_options.stopReadings();
    }
    if (m_http) {
        m_http->Stop();
    }
    if (m_readers) {
        m_readers->Stop();
    }
}

bool MetricsServer::WaitForEnd(std::chrono::milliseconds timeout) {
    return m_http->WaitForEnd(timeout);
}

// Prometheus's scrape time-out, less a margin for the answer's way back.
static std::chrono::milliseconds ScrapeBudget(std::string_view header,
                                              std::chrono::milliseconds fallback) {
    double seconds = 0;
    const auto [end, error] =
        std::from_chars(header.data(), header.data() + header.size(), seconds);
    if (header.empty() || error != std::errc() || end != header.data() + header.size() ||
        !(seconds > 0)) {
        return fallback;
    }
    const double budget = std::min(seconds * 0.9, seconds - 0.2);
    return std::chrono::milliseconds(static_cast<int64_t>(std::clamp(budget, 0.05, 600.0) * 1000));
}

HttpReply MetricsServer::Answer(const HttpRequest& request) {
    const auto budget = ScrapeBudget(request.Header("X-Prometheus-Scrape-Timeout-Seconds"),
                                     m_options.defaultBudget);
    if (request.path == "/probe") {
        return Probe(request, budget);
    }
    if (request.path == "/sd") {
        return {200, "application/json",
                request.head ? std::string()
                             : FormatServiceDiscovery(m_targets(), m_options.printerPort)};
    }
    if (request.path != "/metrics") {
        return {404, "text/plain; charset=utf-8", "not found: try /metrics, /probe or /sd\n"};
    }
    if (request.head) {
        return {200, kContentType, {}};
    }
    return {200, kContentType, Scrape(budget)};
}

HttpReply MetricsServer::Probe(const HttpRequest& request, std::chrono::milliseconds budget) {
    const auto refuse = [](int status, std::string why) {
        return HttpReply{status, "text/plain; charset=utf-8", why + "\n"};
    };
    const std::optional<std::string> target = request.Parameter("target");
    if (!target) {
        return refuse(400, "no target: /probe?target=A.B.C.D[:PORT]");
    }
    std::string why;
    const auto endpoint = ParseProbeTarget(*target, m_options.printerPort, why);
    if (!endpoint) {
        return refuse(400, why);
    }
    if (endpoint->port != m_options.printerPort) {
        return refuse(400, "port " + std::to_string(endpoint->port) +
                               " is not the printers' port " +
                               std::to_string(m_options.printerPort));
    }
    const Ipv4Address address = Ipv4Address::FromHostOrder(endpoint->address);
    const bool allowed =
        std::any_of(m_options.allowProbe.begin(), m_options.allowProbe.end(), [&](const auto& p) {
            const uint32_t mask = p.length == 0 ? 0 : ~uint32_t{0} << (32 - p.length);
            return (address.HostOrder() & mask) == (p.network.HostOrder() & mask);
        });
    if (!allowed) {
        return refuse(403,
                      address.Text() + " is outside the prefixes probes may read (--allow-probe)");
    }
    if (request.head) {
        return {200, kContentType, {}};
    }
    ++m_scrapes;
    const auto start = std::chrono::steady_clock::now();
    auto [readings, unread] = m_readers->ReadUntil({address}, start + budget);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::optional<PrinterReading> reading;
    if (!readings.empty()) {
        reading = std::move(readings.front());
    }
    return {200, kContentType, FormatProbe(reading, address, took.count())};
}

std::string MetricsServer::Scrape(std::chrono::milliseconds budget) {
    ++m_scrapes;
    const auto start = std::chrono::steady_clock::now();
    const std::vector<Ipv4Address> printers = m_targets();
    const auto [readings, unread] = m_readers->ReadUntil(printers, start + budget);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::string out = FormatMetrics(readings, unread, took.count());
    AppendHeader(out, "vorpane_sweep_duration_seconds", "Seconds the last sweep took.");
    out.append("vorpane_sweep_duration_seconds ")
        .append(NumberText(m_options.sweepSeconds ? m_options.sweepSeconds() : 0.0))
        .append("\n");
    AppendHeader(out, "vorpane_printers_found", "Printers the sweeps found, fixed ones included.");
    out.append("vorpane_printers_found ").append(std::to_string(printers.size())).append("\n");
    AppendHeader(out, "vorpane_build_info", "The exporter's version; always 1.");
    out.append("vorpane_build_info{version=\"" VORPANE_VERSION_TEXT "\"} 1\n");
    return out;
}

bool ServeUntil(MetricsServer& server, const std::atomic<bool>& stopRequested,
                std::chrono::milliseconds check) {
    while (!stopRequested.load()) {
        if (server.WaitForEnd(check)) {
            server.Stop();
            return false;
        }
    }
    server.Stop();
    return true;
}

}  // namespace vorpane
