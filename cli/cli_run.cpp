#include "cli/cli_run.h"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <ostream>

#include "cli/metrics.h"
#include "cli/outcome_report.h"
#include "commands/command_frames.h"
#include "commands/hex_payload.h"
#include "commands/printer_commands.h"
#include "platform/address_text.h"
#include "platform/codepage.h"

namespace vorpane {

namespace {

using Json = nlohmann::ordered_json;

void PrintJson(std::ostream& out, const Json& line) {
    // Names from the OUI file or a path may hold bytes that are no UTF-8.
    out << line.dump(-1, ' ', false, Json::error_handler_t::replace) << '\n' << std::flush;
}

Json OrNull(const std::string& text) {
    return text.empty() ? Json(nullptr) : Json(text);
}

// Rows of text printed with each column as wide as its widest cell.
void PrintTable(std::ostream& out, const std::vector<std::vector<std::string>>& rows) {
    std::vector<size_t> widths;
    for (const auto& row : rows) {
        widths.resize(std::max(widths.size(), row.size()));
        for (size_t i = 0; i < row.size(); ++i) {
            widths[i] = std::max(widths[i], row[i].size());
        }
    }
    for (const auto& row : rows) {
        std::string line;
        for (size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size()) {
                line.append(widths[i] - row[i].size() + 2, ' ');
            }
        }
        out << line << '\n';
    }
    out << std::flush;
}

std::string Dash(const std::string& text) {
    return text.empty() ? "-" : text;
}

// The conditions' keys of a JSON line: the dialog's six, then the others.
void AddConditions(Json& line, const PrinterReading& r, const CliOptions& options) {
    const PrinterConditions c = ConditionsOf(r.status);
    line["online"] = r.Up();
    line["busy"] = c.busy;
    line["paperEnd"] = c.paperEnd;
    line["pause"] = c.pause;
    line["coverOpen"] = c.coverOpen;
    line["overTemp"] = c.overTemp;
    line["paperNearEnd"] = c.paperNearEnd;
    line["drawerPin3High"] = c.drawerPin3High;
    line["drawerOpen"] = options.drawerOpenHigh && r.status >= 0
                             ? Json(c.drawerPin3High == *options.drawerOpenHigh)
                             : Json(nullptr);
    line["feedButton"] = c.feedButton;
    line["cutterError"] = c.cutterError;
    line["mechanicalError"] = c.mechanicalError;
    line["unrecoverableError"] = c.unrecoverableError;
    line["autoRecoverableError"] = c.overTemp;
    line["inUse"] = r.inUse;
    line["maker"] = OrNull(r.identity.maker);
    line["model"] = OrNull(r.identity.model);
    line["firmware"] = OrNull(r.identity.firmware);
    line["serial"] = OrNull(r.identity.serial);
    // Why nothing was read: null when the printer is up.
    line["problem"] = r.Up() ? Json(nullptr) : Json(StatusOutcomeText(r.why));
}

Json StatusJson(const PrinterReading& r, const std::string& time, const CliOptions& options) {
    Json line{{"type", "status"},
              {"time", time},
              {"address", r.address.Text()},
              {"mac", OrNull(r.mac)},
              {"vendor", OrNull(r.vendor)}};
    AddConditions(line, r, options);
    return line;
}

// "Vorpane VP-80 virtual": the maker and the model as far as they are known.
std::string ModelCell(const PrinterIdentityTexts& identity) {
    std::string text = identity.maker;
    if (!identity.model.empty()) {
        text += (text.empty() ? "" : " ") + identity.model;
    }
    return Dash(text);
}

// The cells after ADDRESS, MAC, VENDOR: MODEL, FIRMWARE, SERIAL.
void AddIdentityCells(std::vector<std::string>& cells, const PrinterIdentityTexts& identity) {
    cells.push_back(ModelCell(identity));
    cells.push_back(Dash(identity.firmware));
    cells.push_back(Dash(identity.serial));
}

std::vector<std::string> StatusCells(const PrinterReading& r, const CliOptions& options) {
    std::vector<std::string> cells = {r.address.Text(), Dash(r.mac), Dash(r.vendor)};
    AddIdentityCells(cells, r.identity);
    cells.push_back(ConditionWords(r, options.drawerOpenHigh));
    return cells;
}

// The MAC and its maker, asked once the printer's row can be in the table.
void Identify(PrinterReading& reading, CliEnvironment& env) {
    reading.mac = env.macOf ? env.macOf(reading.address) : std::string();
    if (!reading.mac.empty() && env.vendorOf) {
        reading.vendor = env.vendorOf(reading.mac);
    }
}

// One link and its shared readings for the whole run.
struct Readers {
    Readers(const CliOptions& options, CliEnvironment& env)
        : link(env.makeLink(options.port, options.timeoutMs)),
          shared(*link, options.timeoutMs, std::chrono::milliseconds(options.minIntervalMs)) {}
    PrinterReading ReadOne(Ipv4Address address, CliEnvironment& env) {
        PrinterReading reading = ReadingOf(address, shared.Read(address));
        Identify(reading, env);
        return reading;
    }
    std::vector<PrinterReading> ReadAll(std::span<const Ipv4Address> addresses,
                                        CliEnvironment& env) {
        return ReadPrinters(
            addresses, [&](Ipv4Address address) { return ReadOne(address, env); }, env.parallel);
    }
    std::unique_ptr<PrinterLink> link;
    SharedStatusReader shared;
};

void SweepFailed(CliEnvironment& env, const std::string& what, const FoundPrinters& found) {
    *env.err << "vorpane-cli: " << what << "the sweep stopped early (errno " << found.error << "); "
             << found.addresses.size() << " found before it\n";
}

// The printers that the targets name: addresses as they are, prefixes by
// what a sweep found there, also what a sweep found before it failed on our
// side; false after such a failure.
bool ResolveTargets(const CliOptions& options, CliEnvironment& env,
                    std::vector<Ipv4Address>& addresses) {
    bool complete = true;
    for (const std::string& target : options.targets) {
        if (const auto address = Ipv4Address::Parse(target)) {
            addresses.push_back(*address);
            continue;
        }
        const FoundPrinters found = env.sweep({target}, options.port, options.timeoutMs);
        if (found.error != 0) {
            SweepFailed(env, target + ": ", found);
            complete = false;
        }
        addresses.insert(addresses.end(), found.addresses.begin(), found.addresses.end());
    }
    return complete;
}

int RunScan(const CliOptions& options, CliEnvironment& env) {
    const FoundPrinters found = env.sweep(options.targets, options.port, options.timeoutMs);
    // The sweep asked DLE EOT 1 only; one short session each reads the rest.
    Readers readers(options, env);
    const std::vector<PrinterReading> readings = readers.ReadAll(found.addresses, env);
    std::vector<std::vector<std::string>> rows = {
        {"ADDRESS", "PORT", "MAC", "VENDOR", "MODEL", "FIRMWARE", "SERIAL", "STATUS"}};
    for (size_t i = 0; i < readings.size(); ++i) {
        const PrinterReading& reading = readings[i];
        const int32_t status = found.statusBytes[i];
        if (options.json) {
            Json line{{"type", "printer"},
                      {"address", reading.address.Text()},
                      {"port", options.port},
                      {"mac", OrNull(reading.mac)},
                      {"vendor", OrNull(reading.vendor)},
                      {"status", status < 0 ? Json(nullptr) : Json(status)}};
            AddConditions(line, reading, options);
            PrintJson(*env.out, line);
            continue;
        }
        std::vector<std::string> cells = {reading.address.Text(), std::to_string(options.port),
                                          Dash(reading.mac), Dash(reading.vendor)};
        AddIdentityCells(cells, reading.identity);
        // The sweep's connect was accepted: something listens.
        cells.push_back(!reading.Up() && reading.why == StatusOutcome::kTimedOut
                            ? std::to_string(options.port) + " open, no status"
                            : ConditionWords(reading, options.drawerOpenHigh));
        rows.push_back(std::move(cells));
    }
    if (!options.json) {
        PrintTable(*env.out, rows);
    }
    // The printers found before a failure on our side are listed above; the
    // failure still decides the exit status.
    if (found.error != 0) {
        SweepFailed(env, "", found);
        return kExitNetwork;
    }
    if (found.addresses.empty()) {
        *env.err << "vorpane-cli: no printer answered\n";
        return kExitPrinter;
    }
    return kExitDone;
}

int RunStatus(const CliOptions& options, CliEnvironment& env) {
    std::vector<Ipv4Address> addresses;
    const bool complete = ResolveTargets(options, env, addresses);
    // A watch would go on with part of the printers for good: it stops.
    if (!complete && (addresses.empty() || options.watchSeconds != 0)) {
        return kExitNetwork;
    }
    Readers readers(options, env);
    const auto anyDown = [](const std::vector<PrinterReading>& readings) {
        return std::any_of(readings.begin(), readings.end(),
                           [](const PrinterReading& r) { return !r.Up(); });
    };
    if (options.watchSeconds == 0) {
        const std::vector<PrinterReading> readings = readers.ReadAll(addresses, env);
        const std::string time = IsoTimeUtc(env.now());
        std::vector<std::vector<std::string>> rows = {
            {"ADDRESS", "MAC", "VENDOR", "MODEL", "FIRMWARE", "SERIAL", "STATE"}};
        for (const PrinterReading& r : readings) {
            if (options.json) {
                PrintJson(*env.out, StatusJson(r, time, options));
            } else {
                rows.push_back(StatusCells(r, options));
            }
        }
        if (!options.json) {
            PrintTable(*env.out, rows);
        }
        if (!complete) {
            return kExitNetwork;
        }
        return anyDown(readings) ? kExitPrinter : kExitDone;
    }

    // One line per printer whose conditions or identity changed since the
    // reading before, the first reading of each included.
    std::vector<PrinterReading> last;
    const auto changed = [&options](const PrinterReading& a, const PrinterReading& b) {
        return ConditionWords(a, options.drawerOpenHigh) !=
                   ConditionWords(b, options.drawerOpenHigh) ||
               a.mac != b.mac || a.identity != b.identity;
    };
    for (;;) {
        std::vector<PrinterReading> readings = readers.ReadAll(addresses, env);
        const std::string time = IsoTimeUtc(env.now());
        for (size_t i = 0; i < readings.size(); ++i) {
            if (!last.empty() && !changed(last[i], readings[i])) {
                continue;
            }
            if (options.json) {
                PrintJson(*env.out, StatusJson(readings[i], time, options));
                continue;
            }
            const std::vector<std::string> cells = StatusCells(readings[i], options);
            char line[160];
            std::snprintf(line, sizeof line, "%s  %-15s  %-17s  ", time.c_str(), cells[0].c_str(),
                          cells[1].c_str());
            *env.out << line << cells[2];
            for (size_t c = 3; c < cells.size(); ++c) {
                *env.out << "  " << cells[c];
            }
            *env.out << '\n' << std::flush;
        }
        const bool down = anyDown(readings);
        last = std::move(readings);
        if (!env.sleep(std::chrono::seconds(options.watchSeconds))) {
            return down ? kExitPrinter : kExitDone;
        }
    }
}

// Hands every call on to a link; the links below change one of them.
class ForwardingLink : public PrinterLink {
public:
    explicit ForwardingLink(PrinterLink& link) : m_link(link) {}
    int32_t SetTimeOut(int32_t seconds, int32_t milliseconds) override {
        return m_link.SetTimeOut(seconds, milliseconds);
    }
    int32_t IsConPrinterServer(const char* address) override {
        return m_link.IsConPrinterServer(address);
    }
    int32_t GetStatus(const char* address) override { return m_link.GetStatus(address); }
    StatusReading ReadStatus(const char* address) override { return m_link.ReadStatus(address); }
    IdentityReading ReadIdentity(const char* address) override {
        return m_link.ReadIdentity(address);
    }
    void StopReadings() override { m_link.StopReadings(); }
    int32_t SendData(const char* address, const uint8_t* bytes, int32_t count) override {
        return m_link.SendData(address, bytes, count);
    }

protected:
    PrinterLink& m_link;
};

// Counts the bytes that went out through a link.
class CountingLink final : public ForwardingLink {
public:
    using ForwardingLink::ForwardingLink;
    int32_t SendData(const char* address, const uint8_t* bytes, int32_t count) override {
        const int32_t sent = m_link.SendData(address, bytes, count);
        m_sent += std::max(sent, 0);
        return sent;
    }
    int64_t Sent() const { return m_sent; }

private:
    int64_t m_sent = 0;
};

// Sends every job with GS ( H and waits for the printer to say it printed;
// the first job that did not print ends the sends.
class ConfirmingLink final : public ForwardingLink {
public:
    ConfirmingLink(PrinterLink& link, uint32_t seed) : ForwardingLink(link), m_next(seed % 10000) {}
    int32_t SendData(const char* address, const uint8_t* bytes, int32_t count) override {
        if (m_outcome.result != ConfirmResult::kPrinted) {
            return 0;
        }
        const uint32_t n = m_next++ % 10000;
        const std::array<uint8_t, 4> id = {
            static_cast<uint8_t>('0' + n / 1000), static_cast<uint8_t>('0' + n / 100 % 10),
            static_cast<uint8_t>('0' + n / 10 % 10), static_cast<uint8_t>('0' + n % 10)};
        m_outcome = m_link.SendConfirmed(address, bytes, count, id);
        return m_outcome.result == ConfirmResult::kPrinted ? m_outcome.sent : 0;
    }
    // Printed until a job was not.
    const ConfirmOutcome& Outcome() const { return m_outcome; }

private:
    uint32_t m_next;
    ConfirmOutcome m_outcome{ConfirmResult::kPrinted, 0};
};

std::string ConfirmWords(ConfirmResult result) {
    switch (result) {
        case ConfirmResult::kPrinted:
            return "Printed.";
        case ConfirmResult::kPaperEnd:
            return "Not printed: the paper ran out.";
        case ConfirmResult::kCoverOpen:
            return "Not printed: the cover is open.";
        case ConfirmResult::kOffline:
            return "Not printed: the printer went off-line.";
        case ConfirmResult::kNoAnswer:
            return "The printer did not say it printed within the time-out.";
        case ConfirmResult::kNotSent:
            return "The printer did not take every byte.";
        case ConfirmResult::kCannot:
            break;
    }
    return "This link cannot ask whether it printed.";
}

// The configuration flows' window: the command line was the confirmation.
class CliSite final : public CommandSite {
public:
    CliSite(CliEnvironment& env, Ipv4Address address) : m_env(env), m_address(address) {}
    bool ConfirmSetIp(const std::string&) override { return true; }
    bool ConfirmSetMac() override { return true; }
    void WriteBackControls() override {}
    int32_t PurgeArpEntry() override { return m_env.purgeArp ? m_env.purgeArp(m_address) : 0; }

private:
    CliEnvironment& m_env;
    Ipv4Address m_address;
};

// Why `text` cannot go out as print's payload, or nothing when it can. The
// dialog sends what its parse makes of any text, an empty send included; a
// script is told instead, before anything is sent.
std::string PayloadProblem(const std::string& text, bool hex, size_t bytes) {
    if (hex) {
        if (const size_t at = FirstStrayHexByte(text); at != std::string::npos) {
            const auto c = static_cast<unsigned char>(text[at]);
            char what[16];
            std::snprintf(what, sizeof what, c > 0x20 && c < 0x7F ? "'%c'" : "byte 0x%02X", c);
            return std::string("The hex text holds ") + what + " at position " +
                   std::to_string(at) + ", which is no hex digit: nothing was sent.";
        }
        if (bytes == 0) {
            return "The hex text spells no bytes: nothing was sent.";
        }
    }
    return bytes == 0 ? "The text is empty: nothing was sent." : "";
}

int RunAction(const CliOptions& options, CliEnvironment& env) {
    const std::unique_ptr<PrinterLink> system = env.makeLink(options.port, options.timeoutMs);
    ConfirmingLink confirming(
        *system, static_cast<uint32_t>(env.now ? env.now().time_since_epoch().count() : 0));
    CountingLink link(options.confirm ? static_cast<PrinterLink&>(confirming) : *system);
    const std::string address = options.address.Text();
    std::string message;
    int exit = kExitDone;
    bool reported = false;  // the flows reported on standard error already
    std::vector<uint8_t> payload;
    if (options.command == CliCommand::kPrint) {
        const std::string text = options.text ? *options.text : env.readInput();
        payload = PayloadBytes(Utf8ToSystem(text), options.hex);
        message = PayloadProblem(text, options.hex, payload.size());
        exit = message.empty() ? kExitDone : kExitUsage;
    }
    const auto sendAll = [&](std::span<const uint8_t> bytes) {
        const int32_t sent = SendBytes(link, address, bytes);
        if (sent != static_cast<int32_t>(bytes.size())) {
            exit = kExitPrinter;
        }
    };
    if (exit != kExitDone) {
        // Refused before the printer was asked.
    } else if (link.IsConPrinterServer(address.c_str()) == 0) {
        message = "The printer is offline!";
        exit = kExitPrinter;
    } else {
        switch (options.command) {
            case CliCommand::kTest:
                message = "A printer server accepts connections.";
                break;
            case CliCommand::kPrint:
                sendAll(payload);
                break;
            case CliCommand::kSendFile: {
                const CliReport report =
                    SendFileReport(SendWholeFile(link, address, options.file), options.file);
                message = report.words;
                exit = report.exit;
                break;
            }
            case CliCommand::kInit:
                sendAll(kInitFrame);
                break;
            case CliCommand::kDrawer:
                sendAll(kCashDrawerFrame);
                break;
            case CliCommand::kCut:
                // Like the cutter button, the cut goes out whatever became
                // of the text.
                sendAll(kCutTextFrame);
                sendAll(kCutFrame);
                break;
            case CliCommand::kSetIp:
            case CliCommand::kSetMac: {
                CliSite site(env, options.address);
                CliReport report;
                if (options.command == CliCommand::kSetIp) {
                    report = SetIpReport(
                        SetPrinterIp(site, link, env.makeProber, address, options.newAddress),
                        options.newAddress.Text());
                } else if (options.mac) {
                    report = SetMacReport(SetPrinterMacTo(
                        site, link, [&] { return *options.mac; }, address));
                } else {
                    report = SetMacReport(SetPrinterMac(site, link, env.macSource, address));
                }
                message = report.words;
                exit = report.exit;
                *env.err << "vorpane-cli: " << address << ": " << message << '\n';
                reported = true;
                break;
            }
            default:
                break;
        }
        if (options.confirm) {
            // The confirmation says it best, whatever the flow made of it.
            const ConfirmResult result = confirming.Outcome().result;
            message = ConfirmWords(result);
            exit = result == ConfirmResult::kPrinted ? kExitDone : kExitPrinter;
        }
        if (message.empty()) {
            message = exit == kExitDone ? "Sent." : "The printer did not take every byte.";
        }
    }
    if (options.json) {
        PrintJson(*env.out, Json{{"type", "result"},
                                 {"command", options.name},
                                 {"address", address},
                                 {"ok", exit == kExitDone},
                                 {"bytes", link.Sent()},
                                 {"message", message}});
    } else if (!reported) {
        std::ostream& stream = exit == kExitDone ? *env.out : *env.err;
        stream << (exit == kExitDone ? "" : "vorpane-cli: ") << address << ": " << message;
        if (link.Sent() > 0) {
            stream << " (" << link.Sent() << " bytes)";
        }
        stream << '\n' << std::flush;
    }
    return exit;
}

// The fixed addresses and the prefixes swept in the background, read on
// every scrape until a stop is asked for.
int RunMetrics(const CliOptions& options, CliEnvironment& env) {
    std::vector<Ipv4Address> fixed;
    std::vector<Ipv4Prefix> prefixes;
    for (const std::string& target : options.targets) {
        const Ipv4Prefix prefix = Ipv4Prefix::Parse(target).value_or(Ipv4Prefix{});
        if (prefix.length == 32) {
            fixed.push_back(prefix.network);
        } else {
            prefixes.push_back(prefix);
        }
    }
    if (options.targets.empty() && env.localPrefixes) {
        prefixes = env.localPrefixes();
    }
    std::vector<Ipv4Prefix> allowed = prefixes;
    for (const Ipv4Address address : fixed) {
        allowed.push_back({address, 32});
    }
    const uint16_t port = options.port;
    const int32_t timeoutMs = options.timeoutMs;
    PrefixSweep sweep = [&env, port, timeoutMs](const Ipv4Prefix& prefix) {
        return env.sweep({prefix.Text()}, port, timeoutMs).addresses;
    };
    const std::unique_ptr<MetricsTargets> targets =
        MetricsTargets::Start(std::move(fixed), std::move(prefixes), std::move(sweep),
                              std::chrono::seconds(options.rescanSeconds));
    if (!targets) {
        *env.err << "vorpane-cli: metrics: no thread could be started\n";
        return kExitNetwork;
    }
    // The first scrape should see the printers of every prefix.
    targets->WaitForFirstSweep(std::chrono::seconds(30));
    // Scrapes at once share the readings of a printer.
    Readers readers(options, env);
    PrinterReader read = [&](Ipv4Address address) { return readers.ReadOne(address, env); };
    MetricsOptions serving;
    serving.readers = env.parallel;
    serving.printerPort = options.port;
    serving.sweepSeconds = [&targets] { return targets->LastSweepSeconds(); };
    serving.stopReadings = [&readers] { readers.link->StopReadings(); };
    // Probes read only what the exporter was told to watch, unless told more.
    for (const std::string& text : options.allowProbe) {
        serving.allowProbe.push_back(*Ipv4Prefix::Parse(text));
    }
    if (options.allowProbe.empty()) {
        serving.allowProbe = allowed;
    }
    MetricsServer::Started started = MetricsServer::Start(
        ParseListenEndpoint(options.listen).value_or(kDefaultMetricsEndpoint),
        [&targets] { return targets->Current(); }, std::move(read), serving);
    if (!started.server) {
        *env.err << "vorpane-cli: metrics: " << started.message << '\n';
        return kExitNetwork;
    }
    *env.err << "vorpane-cli: serving http://" << options.listen << "/metrics\n" << std::flush;
    const std::atomic<bool>* stop =
        env.catchStopRequests ? env.catchStopRequests() : env.stopRequested;
    static const std::atomic<bool> kNever{false};
    const bool asked = ServeUntil(*started.server, stop ? *stop : kNever);
    return asked ? kExitDone : kExitNetwork;
}

}  // namespace

std::string IsoTimeUtc(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const auto ms = floor<milliseconds>(time);
    const auto day = floor<days>(ms);
    const year_month_day date{day};
    const hh_mm_ss<milliseconds> clock{ms - day};
    char text[40];
    std::snprintf(
        text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
        static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
        static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
        static_cast<int>(clock.seconds().count()), static_cast<int>(clock.subseconds().count()));
    return text;
}

int RunCli(const CliOptions& options, CliEnvironment& env) {
    switch (options.command) {
        case CliCommand::kScan:
            return RunScan(options, env);
        case CliCommand::kStatus:
            return RunStatus(options, env);
        case CliCommand::kMetrics:
            return RunMetrics(options, env);
        default:
            return RunAction(options, env);
    }
}

int RunCommandLine(std::span<const std::string> args, CliEnvironment& env) {
    const ParsedCommandLine parsed = ParseCommandLine(args);
    *env.out << parsed.out << std::flush;
    if (!parsed.err.empty()) {
        *env.err << parsed.err << '\n';
    }
    return parsed.options ? RunCli(*parsed.options, env) : parsed.exitCode;
}

}  // namespace vorpane
