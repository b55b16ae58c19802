#include "printer/printer_cli.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>
#include <sstream>

#include "platform/directory.h"
#include "platform/whole_file.h"
#include "receipt/png.h"
#include "receipt/symbols.h"
#include "virtual_printer/print_session.h"
#include "virtual_printer/receipt_files.h"

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

std::string JoinedConditionNames() {
    std::string out;
    for (const std::string_view name : ConditionNameList()) {
        out += (out.empty() ? "" : ", ") + std::string(name);
    }
    return out;
}

// The replies the printer gives for each condition alone.
std::string StatusTable() {
    std::string out =
        "Status replies to DLE EOT 1 2 3 4 for each condition alone (conditions at\n"
        "the same time combine their bits):\n";
    for (const std::string_view name : ConditionNameList()) {
        ConditionSet set;
        ApplyConditionName(set, name, true);
        const auto replies = StatusReplies(set);
        out += "  " + std::string(name) + std::string(20 - name.size(), ' ') +
               escpos::HexBytes(replies.data(), replies.size()) + "\n";
    }
    return out;
}

// What the printer's own decoder journals for `bytes`.
class LineCollector final : public PrintSessionEvents {
public:
    void OnJournalLine(const std::string& line) override { lines.push_back(line); }
    void OnStatusRequest(StatusRequest) override {}
    void OnNewAddress(const std::array<uint8_t, 4>&) override {}
    void OnNewMac(const std::array<uint8_t, 6>&) override {}
    void OnReceipt(receipt::Receipt) override {}
    std::vector<std::string> lines;
};

// Configuration frames with a right and a wrong checksum, each with the
// journal line the printer writes for it.
std::string FrameExamples() {
    const std::vector<uint8_t> frames[] = {{0x1D, 'D', 192, 168, 1, 20},
                                           {0x1D, 'E', 0xAE, 0x2B, 0x64, 0x14, 0x2C, 0x6C}};
    std::string out;
    for (const auto& head : frames) {
        uint8_t sum = 0;
        for (size_t i = 2; i < head.size(); ++i) {
            sum = static_cast<uint8_t>(sum + head[i]);
        }
        for (const uint8_t last : {sum, uint8_t{0}}) {
            std::vector<uint8_t> frame = head;
            frame.push_back(last);
            LineCollector collector;
            PrintSession session(collector, true, nullptr);
            session.Feed(frame.data(), frame.size());
            session.Finish();
            out += "  " + collector.lines.front() + "\n    (frame " +
                   escpos::HexBytes(frame.data(), frame.size()) + ")\n";
        }
    }
    return out;
}

}  // namespace

namespace {

// A number in [low, high], and nothing after it.
template <typename T>
bool NumberIn(const std::string& text, T low, T high, T& into) {
    T value{};
    const char* end = text.data() + text.size();
    const auto [at, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || at != end || value < low || value > high) {
        return false;
    }
    into = value;
    return true;
}

// What parsing fills in, and its first mistake, the one reported.
struct Parse {
    PrinterArguments out;
    std::string error;
    bool listenGiven = false;
};

// Checks and stores one value; the mistake's text, empty when it is good.
using Store = std::string (*)(Parse&, const std::string&);

// The options, each written once: the parser is made from them, and the
// help from the parser. A description breaks its lines where it has "\n";
// a line that starts with a space is a table row, kept as it is.
struct OptionText {
    const char* name;
    const char* typeName;  // empty: a flag
    std::string description;
    Store store;
};

std::vector<OptionText> Options() {
    return {
        {"--listen", "ADDR", "IPv4 address to listen on, repeatable (default 0.0.0.0)",
         [](Parse& p, const std::string& v) {
             if (!p.listenGiven) {
                 p.out.config.listenAddresses.clear();
                 p.listenGiven = true;
             }
             p.out.config.listenAddresses.push_back(v);
             return std::string();
         }},
        {"--port", "N",
         "TCP port (default 9100; 0 lets the system pick one, shown in the \"listening on\" "
         "journal line)",
         [](Parse& p, const std::string& v) {
             return NumberIn<uint16_t>(v, 0, 65535, p.out.config.port) ? "" : "bad port: " + v;
         }},
        {"--condition", "NAME[,NAME...]",
         "condition at start: " + JoinedConditionNames() + " (default online)",
         [](Parse& p, const std::string& v) {
             const auto unknown = ApplyConditionList(p.out.config.conditions, v, true);
             return unknown ? "unknown condition: " + *unknown : "";
         }},
        {"--mode", "MODE",
         "normal: up to 64 sessions at once\n"
         "one-session: a second session while one is open is reset\n"
         "refuse: the port is held but connections are refused\n"
         "mute: takes data but never answers status requests",
         [](Parse& p, const std::string& v) {
             const auto mode = ParsePrinterMode(v);
             p.out.config.mode = mode.value_or(p.out.config.mode);
             return mode ? "" : "unknown mode: " + v;
         }},
        {"--identity", "maker=TEXT,model=TEXT,firmware=TEXT,serial=TEXT",
         "what GS I 66, 67, 65 and 68 answer, any of them (default Vorpane, VP-80 virtual, 1.00 "
         "and a serial made of the MAC)",
         [](Parse& p, const std::string& v) {
             const auto bad = ApplyIdentityList(p.out.config.identity, v);
             return bad ? "bad identity part: " + *bad : "";
         }},
        {"--journal", "FILE", "journal file (default standard output)",
         [](Parse& p, const std::string& v) {
             p.out.journalPath = v;
             return std::string();
         }},
        {"--raw", "FILE", "also keep every received byte, unchanged, in FILE",
         [](Parse& p, const std::string& v) {
             p.out.rawPath = v;
             return std::string();
         }},
        {"--netbios", "",
         "on UDP port 137 of each --listen address (and by broadcast, unless it is loopback), "
         "answer every datagram but a NetBIOS response with a negative name query response: its "
         "transaction id, no records",
         [](Parse& p, const std::string&) {
             p.out.config.netbios = true;
             return std::string();
         }},
        {"--idle-timeout", "S",
         "close sessions that send nothing for S seconds (default 300; 0 never)",
         [](Parse& p, const std::string& v) {
             double seconds = -1;
             if (!NumberIn(v, 0.0, 1e6, seconds)) {
                 return "bad idle time-out: " + v;
             }
             p.out.config.idleTimeout = std::chrono::milliseconds(std::llround(seconds * 1000));
             return std::string();
         }},
        {"--render", "DIR",
         "draw every receipt (ended by a cut, or by the end of its session) as "
         "DIR/NNNNNN-session-S.png",
         [](Parse& p, const std::string& v) {
             p.out.config.renderDir = v;
             return std::string();
         }},
        {"--render-limit", "MIB",
         "the pictures take at most MIB MiB of disk (default 256, counted in the disk's blocks): "
         "in DIR past it the oldest are removed, with --render-file no more are written",
         [](Parse& p, const std::string& v) {
             uint64_t mib = 0;
             if (!NumberIn<uint64_t>(v, 1, uint64_t{1} << 30, mib)) {
                 return "bad render limit (MiB): " + v;
             }
             p.out.config.renderLimitBytes = mib << 20;
             return std::string();
         }},
        {"--render-files", "N",
         "the pictures are at most N files (default 4096): in DIR past it the oldest are "
         "removed, with --render-file no more are written",
         [](Parse& p, const std::string& v) {
             return NumberIn<size_t>(v, 1, 100000000, p.out.config.renderLimitFiles)
                        ? ""
                        : "bad render file limit: " + v;
         }},
        {"--profile", "NAME", "the printer drawn, one of:\n" + ProfileTable(),
         [](Parse& p, const std::string& v) {
             const PrinterProfile* profile = FindPrinterProfile(v);
             if (profile != nullptr) {
                 p.out.config.profile = *profile;
             }
             return profile ? "" : "unknown profile: " + v;
         }},
        {"--paper", "58|80", "short for --profile 58mm-203dpi or 80mm-203dpi",
         [](Parse& p, const std::string& v) {
             if (v != "58" && v != "80") {
                 return "paper is 58 or 80 (mm): " + v;
             }
             p.out.config.profile = *FindPrinterProfile(v == "58" ? "58mm-203dpi" : "80mm-203dpi");
             return std::string();
         }},
        {"--chinese", "on|off",
         "Chinese mode at power-on and after ESC @ (default on: bytes from 0x80 read as "
         "GB18030; off: as the code page)",
         [](Parse& p, const std::string& v) {
             p.out.config.chinese = v == "on";
             return v == "on" || v == "off" ? "" : "Chinese mode is on or off: " + v;
         }},
        {"--font", "FILE", "font for text (default the WenQuanYi Zen Hei font)",
         [](Parse& p, const std::string& v) {
             p.out.config.fontPath = v;
             return std::string();
         }},
        {"--scale", "N", "each dot takes N x N pixels in the pictures (1..8, default 1)",
         [](Parse& p, const std::string& v) {
             return NumberIn(v, 1, receipt::kMaxPngScale, p.out.config.pngScale)
                        ? ""
                        : "scale is 1 to 8: " + v;
         }},
        {"--render-file", "IN",
         "draw the ESC/POS bytes captured in IN (- for standard input), write the journal, and "
         "stop; with --out OUT.png (default IN's name with .png, receipt.png for standard input; "
         "further receipts OUT-2.png, ...)",
         [](Parse& p, const std::string& v) {
             p.out.renderFile = v;
             return std::string();
         }},
        {"--out", "OUT.png", "where --render-file draws",
         [](Parse& p, const std::string& v) {
             p.out.outPath = v;
             return std::string();
         }},
        {"--window", "",
         "show the paper in a window as it prints, with the conditions as check boxes "
         "(vorpane-printer-window)",
         [](Parse& p, const std::string&) {
             p.out.window = true;
             return std::string();
         }},
        {"--help", "", "show this text",
         [](Parse& p, const std::string&) {
             p.out.help = true;
             return std::string();
         }},
    };
}

// The parser of the options above. Each value is checked as it is read, in
// the order given.
std::unique_ptr<CLI::App> MakeApp(Parse& parse) {
    auto app = std::make_unique<CLI::App>(
        "A virtual ESC/POS network printer: raw print data over TCP, DLE EOT status,\n"
        "and a journal of everything it receives.",
        "vorpane-printer");
    app->set_help_flag();  // --help is an option like the others
    app->allow_extras();   // reported in our words
    for (const OptionText& o : Options()) {
        auto apply = [&parse, store = o.store](const std::string& value) {
            std::string error = store(parse, value);
            if (parse.error.empty()) {
                parse.error = std::move(error);
            }
        };
        if (*o.typeName == '\0') {
            app->add_flag_callback(
                o.name, [apply] { apply({}); }, o.description);
            continue;
        }
        app->add_option(
               o.name,
               [apply](const CLI::results_t& results) {
                   apply(results.empty() ? std::string() : results.back());
                   return true;
               },
               o.description)
            ->type_name(o.typeName)
            ->trigger_on_parse();
    }
    return app;
}

// `text` broken into lines of at most `width` characters after `indent` spaces.
std::string Wrapped(const std::string& text, size_t indent, size_t width) {
    std::string out;
    std::string line;
    std::istringstream words(text);
    for (std::string word; words >> word;) {
        if (!line.empty() && line.size() + 1 + word.size() > width) {
            out += std::string(indent, ' ') + line + "\n";
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
    }
    return out + std::string(indent, ' ') + line + "\n";
}

// The help's list of options, made from the parser's.
std::string OptionList(const CLI::App& app) {
    constexpr size_t kColumn = 24;
    std::string out;
    for (const CLI::Option* option : app.get_options()) {
        const std::string head =
            "  " + option->get_name() +
            (option->get_expected_max() > 0 ? " " + option->get_type_name() : "");
        std::string text;
        std::istringstream lines(option->get_description());
        for (std::string line; std::getline(lines, line);) {
            text += line.starts_with(" ") ? line + "\n" : Wrapped(line, kColumn, 56);
        }
        // The name goes before its description when there is room.
        if (head.size() + 2 <= kColumn && text.starts_with(std::string(kColumn, ' '))) {
            text.replace(0, head.size(), head);
        } else {
            text = head + "\n" + text;
        }
        out += text;
    }
    return out;
}

}  // namespace

ParsedPrinterArguments ParsePrinterArguments(const std::vector<std::string>& args) {
    Parse parse;
    const auto app = MakeApp(parse);
    // CLI11 would take the next word as the value of "--name=": an empty
    // value stays empty here. A flag given a value is a mistake.
    std::vector<std::string> words;
    for (const std::string& arg : args) {
        const size_t eq = arg.find('=');
        const CLI::Option* option = arg.starts_with("--") && eq != std::string::npos
                                        ? app->get_option_no_throw(arg.substr(0, eq))
                                        : nullptr;
        if (option != nullptr && option->get_expected_max() == 0) {
            return {std::nullopt, arg.substr(0, eq) + " takes no value"};
        }
        const bool emptyValue = option != nullptr && eq + 1 == arg.size();
        if (emptyValue) {
            words.push_back(arg.substr(0, eq));
        }
        words.push_back(emptyValue ? std::string() : arg);
    }
    std::reverse(words.begin(), words.end());
    try {
        app->parse(words);
    } catch (const CLI::ArgumentMismatch& e) {
        // Only a value missing at the end: CLI11 names its option first,
        // "--port: 1 required N missing".
        const std::string what = e.what();
        return {std::nullopt, what.substr(0, what.find(':')) + " needs a value"};
    } catch (const CLI::ParseError& e) {
        return {std::nullopt, e.what()};
    }
    if (!parse.error.empty()) {
        return {std::nullopt, parse.error};
    }
    if (const auto extra = app->remaining(); !extra.empty()) {
        return {std::nullopt, "unknown option: " + extra.front()};
    }
    return {std::move(parse.out), {}};
}

std::string PrinterUsage() {
    Parse parse;
    const auto app = MakeApp(parse);
    return "Usage: vorpane-printer [OPTION]...\n" + app->get_description() + "\n\n" +
           OptionList(*app) +
           R"(
Control lines on standard input:
  set NAME...           add conditions        clear NAME...  remove conditions
  restart               take a pending address and MAC
  show                  print the state on standard output
  quit                  stop; so do SIGINT and SIGTERM, while the end of
                        standard input leaves it running (for background use)

)" + StatusTable() +
           R"(
Journal: one line per item, UTF-8.
  listening on 127.0.0.1:9100 (mode normal, conditions online)
  session 1 open from 127.0.0.1:40312
  text: Hello                 text up to LF, decoded from GB18030; invalid
                              bytes and control characters as \xNN; CR dropped
  ESC @ initialise
  ESC p drawer pin 2 on 16 ms off 16 ms
  ESC m partial cut
)" + FrameExamples() +
           R"(  DLE EOT 1 status request, answered 12
  DLE EOT 1 status request, not answered (mute)
  GS r 1 paper sensor status, answered 0F   GS I 67 model name, answered ...
  GS a 15 automatic status back, sent 18 00 0F 00   (again at each change)
  GS ! character size: width 2, height 2    and every other command by name
  GS ( L store graphics 96 x 48 dots        GS ( L print graphics
  FS ( skipped, 1030 bytes    a command passed over by its length
  session 2:                  the lines below are session 2's again, after
                              lines of another session open at the same time
  hex: 1B 99                  an unknown command, or other control bytes
  truncated: 1D 44 C0         a command cut off by the end of the session
  session 1 receipt 1: DIR/000001-session-1.png (576 x 812 dots)
  render folder over 256 MiB: removed DIR/000001-session-1.png
  render folder over 4096 pictures: removed DIR/000001-session-1.png
  receipt 4097 and after not saved: the pictures take 4096 files
  receipt holds 256 drawer pulses: the rest of them are not drawn
  repeated 1999996 more times: ESC p drawer pin 2 on 16 ms off 16 ms
                              a line that comes more than 4 times in one
                              receipt, counted at the receipt's end
  session 1 closed after 7 bytes
  session 1 closed after 0 bytes (idle for 300 s)
  session 2 reset: busy with session 1
  session 3 reset: too many sessions
  session 4 closed after 9 bytes (reset for a session from 127.0.0.3)
                              with every session taken, the client address
                              holding the most gives up its longest idle one
                              to a client from another address
  conditions: paper-end
  restart: address now 192.168.1.20, MAC now AE-2B-64-14-2C-6C
  netbios: answered 127.0.0.1:40000
)";
}

namespace {

class CaptureEvents final : public PrintSessionEvents {
public:
    CaptureEvents(const Journal::Writer& journal, std::string out, const VirtualPrinterConfig& c)
        : m_journal(journal),
          m_out(std::move(out)),
          m_scale(c.pngScale),
          m_limitBytes(c.renderLimitBytes),
          m_limitFiles(c.renderLimitFiles) {}
    void OnJournalLine(const std::string& line) override { m_journal(line); }
    void OnStatusRequest(StatusRequest request) override {
        m_journal(StatusRequestName(request) + ", not answered (capture)");
    }
    void OnNewAddress(const std::array<uint8_t, 4>&) override {}
    void OnNewMac(const std::array<uint8_t, 6>&) override {}
    void OnReceipt(receipt::Receipt receipt) override {
        ++m_count;
        const std::string label = "receipt " + std::to_string(m_count);
        if (m_files >= m_limitFiles || m_diskBytes >= m_limitBytes) {
            if (!m_full) {
                m_full = true;
                m_journal(label + " and after not saved: the pictures take " +
                          (m_files >= m_limitFiles ? std::to_string(m_files) + " files"
                                                   : std::to_string(m_limitBytes >> 20) + " MiB"));
            }
            return;
        }
        std::string path = m_out;
        if (m_count > 1) {
            const std::string_view stem = PathStem(m_out);
            path = std::string(stem) + "-" + std::to_string(m_count) +
                   std::string(PathExtension(m_out));
        }
        const std::vector<uint8_t> png = receipt::EncodeReceiptPng(receipt, m_scale);
        const std::string error = receipt::WriteFileAtomically(path, png);
        if (error.empty()) {
            ++m_files;
            m_diskBytes += std::max<uint64_t>(FileDiskBytes(path), png.size());
        }
        m_journal(error.empty() ? label + ": " + path + " (" + ReceiptSize(receipt) + ")"
                                : label + " not saved: " + error);
    }

private:
    const Journal::Writer& m_journal;
    const std::string m_out;
    const int m_scale;
    const uint64_t m_limitBytes;
    const size_t m_limitFiles;
    int m_count = 0;
    size_t m_files = 0;
    uint64_t m_diskBytes = 0;
    bool m_full = false;
};

}  // namespace

std::string RenderCaptureFile(const PrinterArguments& args, const Journal::Writer& journal) {
    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    const bool standardInput = args.renderFile == "-";
    std::unique_ptr<std::FILE, Closer> opened(standardInput ? nullptr
                                                            : OpenFile(args.renderFile, "rb"));
    if (!standardInput && !opened) {
        return args.renderFile + ": cannot open";
    }
    std::FILE* in = standardInput ? stdin : opened.get();
    const PrinterProfile& profile = args.config.profile;
    auto glyphs = receipt::OpenFontGlyphs(args.config.fontPath, profile.cells);
    if (!glyphs.glyphs) {
        journal("font not found (" + glyphs.error + "): characters are drawn as boxes");
        glyphs.glyphs = receipt::MakeBoxGlyphs(profile.cells);
    }
    const auto symbols = receipt::MakeSymbolEncoder();
    const DrawingTools tools{glyphs.glyphs.get(), symbols.get(), RenderOptionsOf(profile)};
    const std::string out = !args.outPath.empty() ? args.outPath
                            : standardInput       ? "receipt.png"
                                                  : std::string(PathStem(args.renderFile)) + ".png";
    CaptureEvents events(journal, out, args.config);
    PrintSession session(events, true, &tools, StartModeOf(profile, args.config.chinese));
    std::vector<uint8_t> buffer(64 * 1024);
    size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), in)) > 0) {
        session.Feed(buffer.data(), n);
    }
    session.Finish();
    return std::ferror(in) ? args.renderFile + ": read error" : "";
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
