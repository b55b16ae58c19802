#include "printer/printer_cli.h"

#include <cstdio>
#include <memory>
#include <sstream>

#include "platform/directory.h"
#include "platform/whole_file.h"
#include "receipt/png.h"
#include "receipt/symbols.h"
#include "virtual_printer/print_session.h"
#include "virtual_printer/receipt_files.h"

#include <charconv>
#include <cmath>

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
                                name == "--mode" || name == "--journal" || name == "--raw" ||
                                name == "--idle-timeout" || name == "--render" ||
                                name == "--paper" || name == "--font" || name == "--render-file" ||
                                name == "--out" || name == "--render-limit" ||
                                name == "--render-files" || name == "--profile" ||
                                name == "--chinese" || name == "--scale" || name == "--identity";
        if (!takesValue && (name == "--help" || name == "--netbios" || name == "--window")) {
            if (inlineValue) {
                return {std::nullopt, name + " takes no value"};
            }
            if (name == "--help") {
                out.help = true;
            } else if (name == "--window") {
                out.window = true;
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
        } else if (name == "--identity") {
            if (auto bad = ApplyIdentityList(out.config.identity, value)) {
                return {std::nullopt, "bad identity part: " + *bad};
            }
        } else if (name == "--mode") {
            const auto mode = ParsePrinterMode(value);
            if (!mode) {
                return {std::nullopt, "unknown mode: " + value};
            }
            out.config.mode = *mode;
        } else if (name == "--journal") {
            out.journalPath = value;
        } else if (name == "--raw") {
            out.rawPath = value;
        } else if (name == "--idle-timeout") {
            double seconds = -1;
            const auto [end, ec] =
                std::from_chars(value.data(), value.data() + value.size(), seconds);
            if (ec != std::errc() || end != value.data() + value.size() || seconds < 0 ||
                seconds > 1e6) {
                return {std::nullopt, "bad idle time-out: " + value};
            }
            out.config.idleTimeout = std::chrono::milliseconds(std::llround(seconds * 1000));
        } else if (name == "--paper") {
            if (value != "58" && value != "80") {
                return {std::nullopt, "paper is 58 or 80 (mm): " + value};
            }
            out.config.profile = *FindPrinterProfile(value == "58" ? "58mm-203dpi" : "80mm-203dpi");
        } else if (name == "--profile") {
            const PrinterProfile* profile = FindPrinterProfile(value);
            if (profile == nullptr) {
                return {std::nullopt, "unknown profile: " + value};
            }
            out.config.profile = *profile;
        } else if (name == "--chinese") {
            if (value != "on" && value != "off") {
                return {std::nullopt, "Chinese mode is on or off: " + value};
            }
            out.config.chinese = value == "on";
        } else if (name == "--scale") {
            int scale = 0;
            const auto [end, ec] =
                std::from_chars(value.data(), value.data() + value.size(), scale);
            if (ec != std::errc() || end != value.data() + value.size() || scale < 1 ||
                scale > receipt::kMaxPngScale) {
                return {std::nullopt, "scale is 1 to 8: " + value};
            }
            out.config.pngScale = scale;
        } else if (name == "--render") {
            out.config.renderDir = value;
        } else if (name == "--render-limit") {
            uint64_t mib = 0;
            const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), mib);
            if (ec != std::errc() || end != value.data() + value.size() || mib == 0 ||
                mib > (uint64_t{1} << 30)) {
                return {std::nullopt, "bad render limit (MiB): " + value};
            }
            out.config.renderLimitBytes = mib << 20;
        } else if (name == "--render-files") {
            size_t files = 0;
            const auto [end, ec] =
                std::from_chars(value.data(), value.data() + value.size(), files);
            if (ec != std::errc() || end != value.data() + value.size() || files == 0 ||
                files > 100000000) {
                return {std::nullopt, "bad render file limit: " + value};
            }
            out.config.renderLimitFiles = files;
        } else if (name == "--font") {
            out.config.fontPath = value;
        } else if (name == "--render-file") {
            out.renderFile = value;
        } else {
            out.outPath = value;
        }
    }
    return {std::move(out), {}};
}

std::string PrinterUsage() {
    return std::string(R"(Usage: vorpane-printer [OPTION]...
A virtual ESC/POS network printer: raw print data over TCP, DLE EOT status,
and a journal of everything it receives.

  --listen ADDR         IPv4 address to listen on, repeatable (default 0.0.0.0)
  --port N              TCP port (default 9100; 0 lets the system pick one,
                        shown in the "listening on" journal line)
  --condition NAME[,NAME...]
)") + Wrapped("condition at start: " + JoinedConditionNames() + " (default online)", 24, 52) +
           R"(  --mode MODE           normal: up to 64 sessions at once
                        one-session: a second session while one is open is reset
                        refuse: the port is held but connections are refused
                        mute: takes data but never answers status requests
  --identity maker=TEXT,model=TEXT,firmware=TEXT,serial=TEXT
                        what GS I 66, 67, 65 and 68 answer, any of them
                        (default Vorpane, VP-80 virtual, 1.00 and a serial
                        made of the MAC)
  --journal FILE        journal file (default standard output)
  --raw FILE            also keep every received byte, unchanged, in FILE
  --netbios             on UDP port 137 of each --listen address (and by
                        broadcast, unless it is loopback), answer every
                        datagram but a NetBIOS response with a negative name
                        query response: its transaction id, no records
  --idle-timeout S      close sessions that send nothing for S seconds
                        (default 300; 0 never)
  --render DIR          draw every receipt (ended by a cut, or by the end of
                        its session) as DIR/NNNNNN-session-S.png
  --render-limit MIB    the pictures take at most MIB MiB of disk (default
                        256, counted in the disk's blocks): in DIR past it the
                        oldest are removed, with --render-file no more are
                        written
  --render-files N      the pictures are at most N files (default 4096): in
                        DIR past it the oldest are removed, with --render-file
                        no more are written
  --profile NAME        the printer drawn, one of:
)" + ProfileTable() +
           R"(  --paper 58|80         short for --profile 58mm-203dpi or 80mm-203dpi
  --chinese on|off      Chinese mode at power-on and after ESC @ (default on:
                        bytes from 0x80 read as GB18030; off: as the code page)
  --font FILE           font for text (default the WenQuanYi Zen Hei font)
  --scale N             each dot takes N x N pixels in the pictures (1..8,
                        default 1)
  --render-file IN      draw the ESC/POS bytes captured in IN (- for standard
                        input), write the journal, and stop; with --out
                        OUT.png (default IN's name with .png, receipt.png for
                        standard input; further receipts OUT-2.png, ...)
  --window              show the paper in a window as it prints, with the
                        conditions as check boxes (vorpane-printer-window)
  --help                show this text

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
