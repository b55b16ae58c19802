#include "emulator/printer_cli.h"

#include <charconv>

namespace vorpane {
namespace {

std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == ',' ||
                                   line[i] == '\r' || line[i] == '\n')) {
            ++i;
        }
        const size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != ',' &&
               line[i] != '\r' && line[i] != '\n') {
            ++i;
        }
        if (i > start) {
            words.push_back(line.substr(start, i - start));
        }
    }
    return words;
}

}  // namespace

ParsedPrinterArguments ParsePrinterArguments(const std::vector<std::string>& args) {
    PrinterArguments out;
    bool listenGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> inlineValue;
        if (const size_t eq = name.find('='); name.starts_with("--") && eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name.resize(eq);
        }
        const bool takesValue = name == "--listen" || name == "--port" || name == "--condition" ||
                                name == "--mode" || name == "--journal" || name == "--raw";
        if (!takesValue && (name == "--help" || name == "--netbios")) {
            if (inlineValue) {
                return {std::nullopt, name + " takes no value"};
            }
            if (name == "--help") {
                out.help = true;
            } else {
                out.config.netbios = true;
            }
            continue;
        }
        if (!takesValue) {
            return {std::nullopt, "unknown option: " + args[i]};
        }
        std::string value;
        if (inlineValue) {
            value = *inlineValue;
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            return {std::nullopt, name + " needs a value"};
        }
        if (name == "--listen") {
            if (!listenGiven) {
                out.config.listenAddresses.clear();
                listenGiven = true;
            }
            out.config.listenAddresses.push_back(value);
        } else if (name == "--port") {
            unsigned port = 0;
            const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), port);
            if (ec != std::errc() || end != value.data() + value.size() || port > 65535) {
                return {std::nullopt, "bad port: " + value};
            }
            out.config.port = static_cast<uint16_t>(port);
        } else if (name == "--condition") {
            if (auto unknown = ApplyConditionList(out.config.conditions, value, true)) {
                return {std::nullopt, "unknown condition: " + *unknown};
            }
        } else if (name == "--mode") {
            const auto mode = ParsePrinterMode(value);
            if (!mode) {
                return {std::nullopt, "unknown mode: " + value};
            }
            out.config.mode = *mode;
        } else if (name == "--journal") {
            out.journalPath = value;
        } else {
            out.rawPath = value;
        }
    }
    return {std::move(out), {}};
}

std::string PrinterUsage() {
    return R"(Usage: vorpane-printer [OPTION]...
A virtual ESC/POS network printer: raw print data over TCP, DLE EOT status,
and a journal of everything it receives.

  --listen ADDR         IPv4 address to listen on, repeatable (default 0.0.0.0)
  --port N              TCP port (default 9100; 0 lets the system pick one,
                        shown in the "listening on" journal line)
  --condition NAME[,NAME...]
                        condition at start: online, offline, cover-open,
                        paper-near-end, paper-end, over-temp,
                        waiting-recovery, drawer (default online)
  --mode MODE           normal: any number of sessions
                        one-session: a second session while one is open is reset
                        refuse: the port is held but connections are refused
                        mute: takes data but never answers status requests
  --journal FILE        journal file (default standard output)
  --raw FILE            also keep every received byte, unchanged, in FILE
  --netbios             answer any UDP datagram on port 137 with a short one
  --help                show this text

Control lines on standard input:
  set NAME...           add conditions        clear NAME...  remove conditions
  restart               take a pending address and MAC
  show                  print the state on standard output
  quit                  stop; so do SIGINT and SIGTERM, while the end of
                        standard input leaves it running (for background use)

Status replies to DLE EOT 1..4: idle 12 12 12 12; offline sets 1:08;
cover-open 1A 16 12 12; paper-near-end 12 12 12 1E; paper-end 1A 32 12 7E;
over-temp 1A 52 52 12; waiting-recovery 1:28; drawer 1:04.

Journal: one line per item, UTF-8.
  listening on 127.0.0.1:9100 (mode normal, conditions online)
  session 1 open from 127.0.0.1:40312
  text: Hello                 text up to LF, decoded from GB18030; invalid
                              bytes and control characters as \xNN; CR dropped
  ESC @ initialise
  ESC p drawer pin 2 on 16 ms off 16 ms
  ESC m partial cut
  GS D new address 192.168.1.20 (checksum ok, pending until restart)
  GS D rejected: bad checksum 00 (expected E1) for 192.168.1.20
  GS E new MAC AE-2B-64-14-2C-6C (checksum ok, pending until restart)
  GS E rejected: bad checksum 00 (expected 19) for AE-2B-64-14-2C-6C
  DLE EOT 1 status request, answered 12
  DLE EOT 1 status request, not answered (mute)
  hex: 1D 21 00               other commands and control bytes
  truncated: 1D 44 C0         a command cut off by the end of the session
  session 1 closed after 7 bytes
  session 2 reset: busy with session 1
  conditions: paper-end
  restart: address now 192.168.1.20, MAC now AE-2B-64-14-2C-6C
  netbios: answered 127.0.0.1:40000
)";
}

ControlOutcome ApplyControlLine(VirtualPrinter& printer, std::string_view line) {
    const auto words = Words(line);
    ControlOutcome out;
    if (words.empty()) {
        return out;
    }
    const std::string_view command = words.front();
    if (command == "set" || command == "clear") {
        if (words.size() < 2) {
            out.error = std::string(command) + " needs at least one condition";
            return out;
        }
        ConditionSet conditions = printer.Conditions();
        for (size_t i = 1; i < words.size(); ++i) {
            if (!ApplyConditionName(conditions, words[i], command == "set")) {
                out.error = "unknown condition: " + std::string(words[i]);
                return out;
            }
        }
        printer.SetConditions(conditions);
    } else if (command == "restart" && words.size() == 1) {
        printer.Restart();
    } else if (command == "show" && words.size() == 1) {
        out.reply = printer.Show();
    } else if (command == "quit" && words.size() == 1) {
        out.quit = true;
    } else {
        out.error = "unknown control line: " + std::string(line);
    }
    return out;
}

}  // namespace vorpane
