#include "cli/command_line.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <sstream>

#include "cli/metrics.h"

namespace vorpane {

namespace {

struct Subcommand {
    const char* name;
    CliCommand command;
    const char* description;
};

constexpr Subcommand kSubcommands[] = {
    {"scan", CliCommand::kScan, "Find the printers of a prefix (default: the local networks)"},
    {"status", CliCommand::kStatus, "Read the status of printers, once or with --watch"},
    {"test", CliCommand::kTest, "Check that a printer server accepts a connection"},
    {"print", CliCommand::kPrint, "Print TEXT, or all of standard input"},
    {"send-file", CliCommand::kSendFile, "Send a file's bytes as they are"},
    {"init", CliCommand::kInit, "Initialise the printer (ESC @)"},
    {"drawer", CliCommand::kDrawer, "Kick the cash drawer"},
    {"cut", CliCommand::kCut, "Print a test line and cut the paper"},
    {"set-ip", CliCommand::kSetIp, "Give the printer a new IPv4 address (taken on restart)"},
    {"set-mac", CliCommand::kSetMac, "Give the printer a new MAC address (taken on restart)"},
    {"metrics", CliCommand::kMetrics, "Serve the printers' status for Prometheus"},
};

// The raw text of every option, checked after the parse so each bad value
// gets a message that names it.
struct RawOptions {
    std::string port;
    std::string timeout;
    std::string watch;
    std::string drawerOpen;
    std::string minInterval;
    std::string rescan;
    std::string address;
    std::string text;
    std::string newAddress;
    std::string mac;
};

std::optional<int64_t> Number(const std::string& text, int64_t low, int64_t high) {
    int64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [at, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || at != end || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

int HexDigit(char ch) {
    if (ch >= '0' && ch <= '9') {
        return ch - '0';
    }
    const char lower = static_cast<char>(ch | 0x20);
    return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

// Checks one raw value; false after setting the usage message.
class Checker {
public:
    explicit Checker(ParsedCommandLine& parsed) : m_parsed(parsed) {}

    bool Fail(const std::string& argument, const std::string& value, const std::string& what) {
        // The message first: `value` may live in the options.
        m_parsed.err =
            "vorpane-cli: " + argument + ": " + (value.empty() ? "''" : value) + " is not " + what;
        m_parsed.exitCode = kExitUsage;
        m_parsed.options.reset();
        return false;
    }

    template <typename T>
    bool Range(const std::string& argument, const std::string& value, int64_t low, int64_t high,
               const std::string& what, T& into) {
        if (value.empty()) {
            return true;
        }
        const auto number = Number(value, low, high);
        if (!number) {
            return Fail(argument, value, what);
        }
        into = static_cast<T>(*number);
        return true;
    }

    bool Address(const std::string& argument, const std::string& value, Ipv4Address& into) {
        const auto parsed = Ipv4Address::Parse(value);
        if (!parsed) {
            return Fail(argument, value, "an IPv4 address");
        }
        into = *parsed;
        return true;
    }

private:
    ParsedCommandLine& m_parsed;
};

}  // namespace

std::optional<std::array<uint8_t, 6>> ParseMac(const std::string& text) {
    if (text.size() != 17) {
        return std::nullopt;
    }
    const char separator = text[2];
    if (separator != ':' && separator != '-') {
        return std::nullopt;
    }
    std::array<uint8_t, 6> mac{};
    for (size_t i = 0; i < mac.size(); ++i) {
        const size_t at = i * 3;
        const int high = HexDigit(text[at]);
        const int low = HexDigit(text[at + 1]);
        if (high < 0 || low < 0 || (i < 5 && text[at + 2] != separator)) {
            return std::nullopt;
        }
        mac[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return mac;
}

ParsedCommandLine ParseCommandLine(std::span<const std::string> args) {
    ParsedCommandLine parsed;
    CliOptions options;
    RawOptions raw;
    CLI::App app{"Finds, reads and drives ESC/POS network receipt printers.", "vorpane-cli"};
    app.require_subcommand(1);
    app.fallthrough();
    app.add_flag("--json", options.json, "One JSON object per line instead of a table");
    CLI::Option* textOption = nullptr;
    CLI::Option* macOption = nullptr;
    std::string prefix;
    for (const Subcommand& entry : kSubcommands) {
        CLI::App* sub = app.add_subcommand(entry.name, entry.description);
        const bool sweeps = entry.command == CliCommand::kScan;
        sub->add_option("--port", raw.port, "The printers' TCP port (9100)")->type_name("N");
        sub->add_option("--timeout", raw.timeout,
                        sweeps ? "Connect time-out in ms (500)" : "Time-out in ms (1000)")
            ->type_name("MS");
        if (entry.command == CliCommand::kScan || entry.command == CliCommand::kStatus ||
            entry.command == CliCommand::kMetrics) {
            sub->add_option("--drawer-open", raw.drawerOpen,
                            "The level of pin 3 when the drawer is open (high or low)")
                ->type_name("high|low");
            sub->add_option("--min-interval", raw.minInterval,
                            "Read one printer at most once in MS (1000)")
                ->type_name("MS");
        }
        switch (entry.command) {
            case CliCommand::kScan:
                sub->add_option("PREFIX", prefix, "A.B.C.D/N, N from 16 to 32");
                break;
            case CliCommand::kStatus:
                sub->add_option("TARGET", options.targets, "Printer addresses or prefixes")
                    ->required();
                sub->add_option("--watch", raw.watch,
                                "Read again every SECONDS for ever, one line per change")
                    ->type_name("SECONDS");
                break;
            case CliCommand::kMetrics:
                sub->add_option("TARGET", options.targets,
                                "Printer addresses or prefixes (default: the local networks)");
                sub->add_option("--listen", options.listen, "ADDR:PORT to serve (127.0.0.1:9464)")
                    ->type_name("ADDR:PORT");
                sub->add_option("--allow-probe", options.allowProbe,
                                "Prefixes /probe may read (default: the TARGETs)")
                    ->type_name("PREFIX...");
                sub->add_option("--rescan", raw.rescan, "Sweep prefixes again every SECONDS (300)")
                    ->type_name("SECONDS");
                break;
            default:
                sub->add_option("ADDRESS", raw.address, "The printer's IPv4 address")->required();
                break;
        }
        if (entry.command == CliCommand::kPrint || entry.command == CliCommand::kSendFile ||
            entry.command == CliCommand::kDrawer || entry.command == CliCommand::kCut) {
            sub->add_flag("--confirm", options.confirm,
                          "Wait for the printer to say it printed (GS ( H)");
        }
        switch (entry.command) {
            case CliCommand::kPrint:
                textOption = sub->add_option("TEXT", raw.text, "The text (else standard input)");
                sub->add_flag("--hex", options.hex, "The text spells bytes in hex digits");
                break;
            case CliCommand::kSendFile:
                sub->add_option("FILE", options.file, "The file to send")->required();
                break;
            case CliCommand::kSetIp:
                sub->add_option("NEW", raw.newAddress, "The new IPv4 address")->required();
                break;
            case CliCommand::kSetMac:
                macOption = sub->add_option("MAC", raw.mac,
                                            "aa:bb:cc:dd:ee:ff or aa-bb-...; else a random one");
                break;
            default:
                break;
        }
    }

    // A word where the subcommand belongs is named as such, rather than
    // reported as a missing subcommand.
    for (const std::string& arg : args) {
        if (arg.starts_with("-")) {
            continue;
        }
        const bool known = std::any_of(std::begin(kSubcommands), std::end(kSubcommands),
                                       [&](const Subcommand& s) { return arg == s.name; });
        if (!known) {
            parsed.exitCode = kExitUsage;
            parsed.err = "vorpane-cli: " + arg + ": not a subcommand (see --help)";
            return parsed;
        }
        break;
    }
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) {
            std::ostringstream out;
            std::ostringstream err;
            app.exit(e, out, err);
            parsed.out = out.str();
        } else {
            parsed.exitCode = kExitUsage;
            parsed.err = std::string("vorpane-cli: ") + e.what();
        }
        return parsed;
    }

    for (const Subcommand& entry : kSubcommands) {
        if (app.got_subcommand(entry.name)) {
            options.command = entry.command;
            options.name = entry.name;
        }
    }
    parsed.options = options;
    CliOptions& o = *parsed.options;
    Checker check(parsed);
    if (o.command == CliCommand::kScan) {
        o.timeoutMs = 500;
        if (!prefix.empty()) {
            o.targets.push_back(prefix);
        }
    }
    if (!check.Range("--port", raw.port, 1, 65535, "a port (1 to 65535)", o.port) ||
        !check.Range("--timeout", raw.timeout, 1, 60000, "a time-out (1 to 60000 ms)",
                     o.timeoutMs) ||
        !check.Range("--watch", raw.watch, 1, 86400, "a period (1 to 86400 s)", o.watchSeconds) ||
        !check.Range("--rescan", raw.rescan, 1, 86400, "a period (1 to 86400 s)",
                     o.rescanSeconds) ||
        !check.Range("--min-interval", raw.minInterval, 0, 3600000, "an interval (0 to 3600000 ms)",
                     o.minIntervalMs)) {
        return parsed;
    }
    if (raw.drawerOpen == "high" || raw.drawerOpen == "low") {
        o.drawerOpenHigh = raw.drawerOpen == "high";
    } else if (!raw.drawerOpen.empty()) {
        check.Fail("--drawer-open", raw.drawerOpen, "high or low");
        return parsed;
    }
    const char* targetName = o.command == CliCommand::kScan ? "PREFIX" : "TARGET";
    for (const std::string& target : o.targets) {
        if (!Ipv4Prefix::Parse(target)) {
            check.Fail(targetName, target, "an address or prefix (A.B.C.D/N, N from 16 to 32)");
            return parsed;
        }
    }
    for (const std::string& prefix : o.allowProbe) {
        if (!Ipv4Prefix::Parse(prefix)) {
            check.Fail("--allow-probe", prefix,
                       "an address or prefix (A.B.C.D/N, N from 16 to 32)");
            return parsed;
        }
    }
    if (o.command == CliCommand::kMetrics && !ParseListenEndpoint(o.listen)) {
        check.Fail("--listen", o.listen, "ADDR:PORT (127.0.0.1:9464)");
        return parsed;
    }
    const bool oneAddress = o.command != CliCommand::kScan && o.command != CliCommand::kStatus &&
                            o.command != CliCommand::kMetrics;
    if (oneAddress && !check.Address("ADDRESS", raw.address, o.address)) {
        return parsed;
    }
    if (o.command == CliCommand::kSetIp && !check.Address("NEW", raw.newAddress, o.newAddress)) {
        return parsed;
    }
    if (o.command == CliCommand::kPrint && textOption->count() > 0) {
        o.text = raw.text;
    }
    if (o.command == CliCommand::kSetMac && macOption->count() > 0) {
        o.mac = ParseMac(raw.mac);
        if (!o.mac) {
            check.Fail("MAC", raw.mac, "a MAC address (aa:bb:cc:dd:ee:ff)");
        }
    }
    return parsed;
}

}  // namespace vorpane
