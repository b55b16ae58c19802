#include "cli/metrics.h"

#include <httplib.h>

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

void AppendSample(std::string& out, const char* name, const PrinterReading& reading, bool value) {
    out.append(name).append("{address=\"");
    AppendEscaped(out, reading.address.Text());
    out.append("\",mac=\"");
    AppendEscaped(out, reading.mac);
    out.append(value ? "\"} 1\n" : "\"} 0\n");
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

// Why a listener on `at` cannot be had: httplib keeps the reason to itself,
// so a socket of our own tries the same. 0 when that one succeeds.
int ListenError(const Ipv4Endpoint& at) {
    auto opened = Socket::Open(Socket::Kind::kStream);
    if (!opened.socket.Valid()) {
        return opened.error;
    }
    opened.socket.SetReuseAddress();
    if (const int error = opened.socket.Bind(at)) {
        return error;
    }
    return opened.socket.Listen(1);
}

}  // namespace

std::string FormatMetrics(const std::vector<PrinterReading>& readings, double scrapeSeconds) {
    std::vector<const PrinterReading*> ordered;
    ordered.reserve(readings.size());
    for (const auto& reading : readings) {
        ordered.push_back(&reading);
    }
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const auto* a, const auto* b) { return a->address < b->address; });

    std::string out;
    AppendHeader(out, "vorpane_printer_up",
                 "1 when the printer answered the status request or another client held it.");
    for (const auto* reading : ordered) {
        AppendSample(out, "vorpane_printer_up", *reading, reading->Up());
    }
    AppendHeader(out, "vorpane_printer_in_use", "1 when another client held the printer.");
    for (const auto* reading : ordered) {
        AppendSample(out, "vorpane_printer_in_use", *reading, reading->inUse);
    }
    for (const auto& gauge : kConditionGauges) {
        AppendHeader(out, gauge.name, gauge.help);
        for (const auto* reading : ordered) {
            // Of a printer that did not answer only "not on-line" is known.
            if (gauge.field == &PrinterConditions::online) {
                AppendSample(out, gauge.name, *reading, reading->Up());
            } else if (reading->status >= 0) {
                AppendSample(out, gauge.name, *reading, ConditionsOf(reading->status).*gauge.field);
            }
        }
    }
    AppendHeader(out, "vorpane_scrape_duration_seconds", "Seconds the printers took to read.");
    out.append("vorpane_scrape_duration_seconds ").append(NumberText(scrapeSeconds)).append("\n");
    return out;
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

void MetricsTargets::Run() {
    std::unique_lock lock(m_mutex);
    while (!m_stopping) {
        lock.unlock();
        std::vector<Ipv4Address> found = m_fixed;
        for (const auto& prefix : m_prefixes) {
            const auto hosts = m_sweep(prefix);
            found.insert(found.end(), hosts.begin(), hosts.end());
        }
        found = SortedUnique(std::move(found));
        lock.lock();
        m_current = std::move(found);
        m_sweptOnce = true;
        m_swept.notify_all();
        m_wake.wait_for(lock, m_rescan, [this] { return m_stopping; });
    }
}

MetricsServer::MetricsServer() : m_http(std::make_unique<httplib::Server>()) {}

MetricsServer::Started MetricsServer::Start(const Ipv4Endpoint& listen,
                                            std::function<std::vector<Ipv4Address>()> targets,
                                            PrinterReader read) {
    std::unique_ptr<MetricsServer> server(new MetricsServer());
    server->m_targets = std::move(targets);
    server->m_read = std::move(read);
    MetricsServer* raw = server.get();
    auto& http = *server->m_http;
    // httplib's own options take the port with SO_REUSEPORT on Linux, where a
    // second server would then share it unnoticed; plain address reuse only
    // lets a restart bind past the last run's closing connections.
    http.set_socket_options([raw](auto handle) {
        Socket borrowed(static_cast<SocketHandle>(handle));
        borrowed.SetReuseAddress();
        raw->m_listening = borrowed.Release();
    });
    http.Get("/metrics", [raw](const httplib::Request&, httplib::Response& response) {
        response.set_content(raw->Scrape(), kContentType);
    });

    const std::string host = Ipv4Address::FromHostOrder(listen.address).Text();
    const int port = listen.port == 0                       ? http.bind_to_any_port(host)
                     : http.bind_to_port(host, listen.port) ? listen.port
                                                            : -1;
    const std::string where = host + ":" + std::to_string(listen.port);
    if (port <= 0) {
        const int error = ListenError(listen);
        return {nullptr, error,
                "cannot listen on " + where + ": " +
                    (error != 0 ? SocketErrorText(error) : std::string("the server refused"))};
    }
    server->m_port = static_cast<uint16_t>(port);

    auto thread = StartSystemThread([raw] {
        raw->m_http->listen_after_bind();
        {
            std::lock_guard lock(raw->m_mutex);
            raw->m_done = true;
        }
        raw->m_ended.notify_all();
    });
    if (!thread) {
        Socket closing(std::exchange(server->m_listening, kNoSocket));
        return {nullptr, 0, "cannot listen on " + where + ": no thread to serve it"};
    }
    server->m_thread = std::move(*thread);
    return {std::move(server), 0, {}};
}

MetricsServer::~MetricsServer() {
    Stop();
}

void MetricsServer::Stop() {
    std::lock_guard stopLock(m_stopMutex);
    if (!m_thread.joinable()) {
        return;
    }
    {
        // httplib's stop() does nothing until its loop has begun, and its
        // thread may not be there yet: it gets there at once.
        std::unique_lock lock(m_mutex);
        while (!m_done && !m_http->is_running()) {
            m_ended.wait_for(lock, std::chrono::milliseconds(1));
        }
    }
    m_http->stop();
    m_thread.join();
}

bool MetricsServer::WaitForEnd(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_ended.wait_for(lock, timeout, [this] { return m_done; });
}

std::string MetricsServer::Scrape() {
    const auto start = std::chrono::steady_clock::now();
    const auto readings = m_read(m_targets());
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    return FormatMetrics(readings, took.count());
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
