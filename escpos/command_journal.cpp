#include "escpos/command_journal.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <utility>

#include "escpos/graphics.h"
#include "platform/address_text.h"
#include "platform/ipv4_address.h"

namespace vorpane::escpos {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr const char* kTextPrefix = "text: ";

void AppendHex(std::string& out, uint8_t b) {
    out += kHexDigits[b >> 4];
    out += kHexDigits[b & 15];
}

void AppendEscaped(std::string& out, uint8_t b) {
    out += "\\x";
    AppendHex(out, b);
}

std::string Mnemonic(std::span<const uint8_t> head, size_t parts) {
    std::string out;
    for (size_t i = 0; i < parts && i < head.size(); ++i) {
        const uint8_t b = head[i];
        if (!out.empty()) {
            out += ' ';
        }
        if (i == 0 || (i == 1 && head[0] == 0x10)) {
            constexpr std::pair<uint8_t, const char*> kNames[] = {
                {0x1B, "ESC"}, {0x1D, "GS"},  {0x1C, "FS"}, {0x10, "DLE"},
                {0x04, "EOT"}, {0x05, "ENQ"}, {0x14, "DC4"}};
            for (const auto& [code, name] : kNames) {
                if (code == b) {
                    out += name;
                }
            }
        } else if (b == ' ') {
            out += "SP";
        } else if (b > 0x20 && b < 0x7F) {
            out += static_cast<char>(b);
        } else {
            AppendHex(out, b);
        }
    }
    return out;
}

std::string Num(int64_t n) {
    return std::to_string(n);
}

std::string Dots(int64_t n) {
    return Num(n) + (n == 1 ? " dot" : " dots");
}

constexpr const char* kScales[] = {"", ", double width", ", double height", ", quadruple"};

const char* OnOff(bool n) {
    return n != 0 ? "on" : "off";
}

std::string UnderlineText(int64_t n) {
    return n == 0 ? "off" : Dots(n);
}

// A configuration frame: taken, or rejected with the checksum it needed.
std::string FrameText(const ConfigFrame& f, const std::string& taken, const std::string& value) {
    if (f.checksumOk) {
        return taken + value + " (checksum ok, pending until restart)";
    }
    std::string out = taken.substr(0, 5) + "rejected: bad checksum ";
    AppendHex(out, f.checksum);
    out += " (expected ";
    AppendHex(out, f.expected);
    return out + ") for " + value;
}

std::string PrintModeText(const PrintMode& m) {
    std::string out = m.fontB ? "font B" : "font A";
    const std::pair<bool, const char*> kBits[] = {{m.bold, ", bold"},
                                                  {m.doubleHeight, ", double height"},
                                                  {m.doubleWidth, ", double width"},
                                                  {m.underline, ", underline"}};
    for (const auto& [on, name] : kBits) {
        if (on) {
            out += name;
        }
    }
    return out;
}

std::string ChinesePrintModeText(const ChinesePrintMode& m) {
    std::string out;
    const std::pair<bool, const char*> kBits[] = {{m.doubleWidth, "double width"},
                                                  {m.doubleHeight, "double height"},
                                                  {m.underline, "underline"}};
    for (const auto& [on, name] : kBits) {
        if (on) {
            out += out.empty() ? "" : ", ";
            out += name;
        }
    }
    return out.empty() ? "normal" : out;
}

const char* SymbologyName(BarcodeSymbology s) {
    constexpr const char* kNames[] = {"UPC-A",
                                      "UPC-E",
                                      "EAN13",
                                      "EAN8",
                                      "CODE39",
                                      "ITF",
                                      "CODABAR",
                                      "CODE93",
                                      "CODE128",
                                      "GS1-128",
                                      "GS1 DataBar Omnidirectional",
                                      "GS1 DataBar Truncated",
                                      "GS1 DataBar Limited",
                                      "GS1 DataBar Expanded",
                                      "CODE128 auto"};
    static_assert(std::size(kNames) == static_cast<size_t>(BarcodeSymbology::kCode128Auto) + 1);
    return kNames[static_cast<size_t>(s)];
}

std::string Printable(std::span<const uint8_t> data) {
    std::string out;
    for (uint8_t b : data) {
        if (b >= 0x20 && b < 0x7F) {
            out += static_cast<char>(b);
        } else {
            AppendEscaped(out, b);
        }
    }
    return out;
}

std::string SymbolText(const Symbol2D& c) {
    using F = SymbolFunction;
    const bool qr = c.kind == SymbolKind::kQr;
    const bool pdf = c.kind == SymbolKind::kPdf417;
    const std::span<const uint8_t> d = c.params;
    const int64_t n = d.size() >= 1 ? d[d.size() - 1] : 0;
    const int64_t m = d.size() >= 2 ? d[0] : 0;
    const std::string prefix = std::string("GS ( k ") + (qr ? "QR " : "PDF417 ");
    if (qr || pdf) {
        switch (c.function) {
            case F::kStore:
                return prefix + "store " + Num(static_cast<int64_t>(d.size()) - 1) + " bytes";
            case F::kPrint:
                return prefix + "print";
            case F::kSizeRequest:
                return prefix + "size request";
            default:
                break;
        }
    }
    if (qr && d.size() >= 1) {
        switch (c.function) {
            case F::kSelect: {
                const int64_t model = d[0];
                return prefix + (model == 49 ? "model 1" : model == 51 ? "model micro" : "model 2");
            }
            case F::kModule:
                return prefix + "module size " + Dots(n);
            case F::kErrorCorrection:
                return prefix + "error correction " +
                       (n >= 48 && n <= 51 ? std::string(1, "LMQH"[n - 48]) : "L");
            default:
                break;
        }
    }
    if (pdf && d.size() >= 1) {
        switch (c.function) {
            case F::kSelect:
                return prefix + "columns " + (n == 0 ? "auto" : Num(n));
            case F::kRows:
                return prefix + "rows " + (n == 0 ? "auto" : Num(n));
            case F::kModule:
                return prefix + "module width " + Dots(n);
            case F::kRowHeight:
                return prefix + "row height " + Num(n) + " x module width";
            case F::kErrorCorrection:
                return prefix + "error correction " +
                       (m == 48 ? "level " + Num(n - 48) : Num(n * 10) + "%");
            case F::kOptions:
                return prefix + (n == 1 ? "truncated" : "standard");
            default:
                break;
        }
    }
    return "GS ( k symbol " + Num(c.cn) + " function " + Num(c.fn) + ", " +
           Num(static_cast<int64_t>(d.size()) + 2) + " bytes (not drawn)";
}

std::string GraphicsText(const Graphics& c, std::span<const uint8_t> head) {
    using F = GraphicsFunction;
    const std::string name = Mnemonic(head, 3) + " ";
    if (c.function == F::kPrint) {
        return name + "print graphics";
    }
    const auto& g = c.image;
    if (!g) {
        return name + "graphics function " + Num(c.fn) + ", " + Num(static_cast<int64_t>(c.bytes)) +
               " bytes (not drawn)";
    }
    std::string key;
    if (c.function != F::kStore) {
        key = "key " +
              Printable(std::array<uint8_t, 2>{static_cast<uint8_t>(g->key >> 8),
                                               static_cast<uint8_t>(g->key)}) +
              (c.function == F::kDefineNv ? ", " : "");
    }
    const char* scale = kScales[(g->scaleX - 1) | (g->scaleY - 1) << 1];
    if (c.function == F::kPrintNv) {
        return name + "print NV graphics " + key + scale;
    }
    std::string out = name + (c.function == F::kStore ? "store graphics " : "define NV graphics ") +
                      key + Num(g->width) + " x " + Num(g->height) + " dots" + scale;
    if (g->colour != 1) {
        out += ", colour " + Num(g->colour);
    }
    if (g->rows.size() < g->Expected()) {
        out += " (" + Num(static_cast<int64_t>(g->rows.size())) + " of " +
               Num(static_cast<int64_t>(g->Expected())) + " bytes)";
    }
    return out;
}

}  // namespace

std::string HexBytes(const uint8_t* data, size_t size) {
    std::string out;
    out.reserve(size * 3);
    for (size_t i = 0; i < size; ++i) {
        if (i > 0) {
            out += ' ';
        }
        AppendHex(out, data[i]);
    }
    return out;
}

std::string DescribeCommand(const Command& command) {
    const std::span<const uint8_t> head = command.head;
    const std::string name = Mnemonic(head, 2) + " ";
    const auto scaled = [](int x, int y) { return kScales[(x - 1) | (y - 1) << 1]; };
    return std::visit(
        Overloaded{
            [](const Text&) { return std::string(); },
            [](const LineFeed&) { return std::string(); },
            [](const CarriageReturn&) { return std::string(); },
            [](const Tab&) { return std::string(); },
            [](const Control&) { return std::string(); },
            [](const RasterRow&) { return std::string(); },
            [](const StatusRequest&) { return std::string(); },
            [&](const Initialise&) { return name + "initialise"; },
            [&](const PrintMode& c) { return name + "print mode: " + PrintModeText(c); },
            [&](const SelectFont& c) { return name + "font " + static_cast<char>('A' + c.font); },
            [&](const CharacterSize& c) {
                return name + "character size: width " + Num(c.width) + ", height " + Num(c.height);
            },
            [&](const Bold& c) { return name + "bold " + OnOff(c.on); },
            [&](const DoubleStrike& c) { return name + "double strike " + OnOff(c.on); },
            [&](const Underline& c) { return name + "underline " + UnderlineText(c.dots); },
            [&](const Reverse& c) { return name + "reverse " + OnOff(c.on); },
            [&](const Align& c) {
                return name + "align " +
                       (c.align == Alignment::kCentre  ? "centre"
                        : c.align == Alignment::kRight ? "right"
                                                       : "left");
            },
            [&](const UpsideDown& c) { return name + "upside-down " + OnOff(c.on); },
            [&](const Rotate90& c) { return name + "90 degree rotation " + OnOff(c.on); },
            [&](const RightSpacing& c) { return name + "right spacing " + Dots(c.dots); },
            [&](const DefaultLineSpacing&) { return name + "default line spacing"; },
            [&](const LineSpacing& c) { return name + "line spacing " + Dots(c.dots); },
            [&](const TabStops& c) {
                if (c.stops.empty()) {
                    return name + "tab stops cleared";
                }
                std::string out = name + "tab stops ";
                for (size_t i = 0; i < c.stops.size(); ++i) {
                    out += (i > 0 ? ", " : "") + Num(c.stops[i]);
                }
                return out;
            },
            [&](const FeedLines& c) {
                return name + "feed " + Num(c.lines) + (c.lines == 1 ? " line" : " lines");
            },
            [&](const FeedDots& c) { return name + "feed " + Dots(c.dots); },
            [&](const LeftMargin& c) { return name + "left margin " + Dots(c.dots); },
            [&](const PrintWidth& c) { return name + "print width " + Dots(c.dots); },
            [&](const AbsolutePosition& c) { return name + "position " + Dots(c.dots); },
            [&](const RelativePosition& c) { return name + "move " + Dots(c.dots); },
            [&](const CodePage& c) {
                const char* page = CodePageName(c.page);
                const std::string drawn = CodePageDrawn(c.page) ? "" : "drawn as PC437";
                return name + "code page " + Num(c.page) + " (" + (page ? page : "") +
                       (page && !drawn.empty() ? ", not on this system: " : "") + drawn + ")";
            },
            [&](const CharacterSet& c) {
                const char* set = CharacterSetName(c.set);
                return name + "character set " + Num(c.set) + " (" + (set ? set : "unknown") + ")";
            },
            [&](const ChineseMode& c) { return name + "Chinese mode " + OnOff(c.on); },
            [&](const ChinesePrintMode& c) {
                return name + "Chinese print mode: " + ChinesePrintModeText(c);
            },
            [&](const ChineseUnderline& c) {
                return name + "Chinese underline " + UnderlineText(c.dots);
            },
            [&](const RasterImage& c) {
                constexpr const char* kNames[] = {"normal", "double width", "double height",
                                                  "quadruple"};
                return Mnemonic(head, 3) + " raster image " + Num(c.width) + " x " + Num(c.height) +
                       " dots, " + kNames[(c.scaleX - 1) | (c.scaleY - 1) << 1];
            },
            [&](const ColumnImage& c) {
                const std::string mode = std::string(c.tall ? "24-dot " : "8-dot ") +
                                         (c.doubleDensity ? "double" : "single") + " density";
                return name + "column image " + (c.knownMode ? mode : "mode " + Num(c.mode)) +
                       ", " + Num(c.columns) + " columns";
            },
            [&](const BarcodeHeight& c) { return name + "barcode height " + Dots(c.dots); },
            [&](const BarcodeWidth& c) { return name + "barcode module " + Dots(c.dots); },
            [&](const HriPosition& c) {
                constexpr const char* kPositions[] = {"none", "above", "below", "above and below"};
                return name + "HRI " + kPositions[(c.above ? 1 : 0) | (c.below ? 2 : 0)];
            },
            [&](const HriFont& c) { return name + "HRI font " + (c.fontB ? "B" : "A"); },
            [&](const Barcode& c) {
                return name + SymbologyName(c.symbology) + " " + Printable(c.data);
            },
            [&](const Symbol2D& c) { return SymbolText(c); },
            [&](const Graphics& c) { return GraphicsText(c, head); },
            [&](const NvBitImage& c) {
                return name + "NV bit image " + Num(c.number) + " of " + Num(c.count) + ", " +
                       Num(c.width) + " x " + Num(c.height) + " dots";
            },
            [&](const PrintNvBitImage& c) {
                return name + "print NV bit image " + Num(c.number) + scaled(c.scaleX, c.scaleY);
            },
            [&](const PageMode&) { return name + "page mode"; },
            [&](const StandardMode&) { return name + "standard mode"; },
            [&](const PageArea& c) {
                return name + "page area at " + Num(c.x) + ", " + Num(c.y) + ", " + Num(c.width) +
                       " x " + Dots(c.height);
            },
            [&](const PageDirection& c) {
                constexpr const char* kDirections[] = {"left to right", "bottom to top",
                                                       "right to left", "top to bottom"};
                return name + "page direction " +
                       (c.direction >= 0 && c.direction < 4 ? kDirections[c.direction]
                                                            : Num(c.direction) + " (ignored)");
            },
            [&](const PageVertical& c) {
                return name + (c.relative ? "page move " : "page position ") + Dots(c.dots);
            },
            [](const PrintPage& c) {
                return std::string(c.keepPage ? "ESC FF print page"
                                              : "FF print page and return to standard mode");
            },
            [](const CancelPage&) { return std::string("CAN cancel page data"); },
            [&](const Cut& c) {
                const std::string cut = c.kind == CutKind::kPartial ? "partial cut" : "full cut";
                return name + (c.feedDots > 0 ? "feed " + Dots(c.feedDots) + ", " + cut : cut);
            },
            [&](const Drawer& c) {
                if (c.realTime) {
                    return name + "drawer pin " + Num(c.pin) + " pulse " + Num(c.onMs) + " ms";
                }
                return name + "drawer pin " + Num(c.pin) + " on " + Num(c.onMs) + " ms off " +
                       Num(c.offMs) + " ms";
            },
            [](const ConfigFrame& c) {
                const auto& v = c.value;
                if (c.kind == ConfigFrame::Kind::kAddress) {
                    return FrameText(c, "GS D new address ",
                                     Ipv4Address::FromOctets({v[0], v[1], v[2], v[3]}).Text());
                }
                return FrameText(c, "GS E new MAC ",
                                 MacText({v[0], v[1], v[2], v[3], v[4], v[5]}, '-'));
            },
            [&](const Named& c) {
                std::string out = name + c.name;
                if (head.size() > 2) {
                    out += ": " + HexBytes(head.data() + 2, head.size() - 2);
                }
                return out;
            },
            [&](const Skipped& c) {
                return Mnemonic(head, c.threePartName ? 3 : 2) + " skipped, " + Num(c.bytes) +
                       " bytes";
            },
            [&](const Unknown&) { return "hex: " + HexBytes(head.data(), head.size()); },
            [&](const Truncated& c) {
                std::string out = "truncated: " + HexBytes(head.data(), head.size());
                if (c.received >= 0) {
                    out += " after " + Num(c.received) +
                           (c.expected >= 0 ? " of " + Num(c.expected) : "") + " bytes";
                }
                return out;
            },
        },
        command.body);
}

CommandJournal::CommandJournal(LineOut out) : m_out(std::move(out)), m_line(kTextPrefix) {}

void CommandJournal::OnCommand(const Command& c) {
    if (const Text* text = c.Get<Text>()) {
        FlushHexRun();
        return AddText(*text);
    }
    if (c.Get<LineFeed>()) {
        FlushHexRun();
        return FlushText(true);
    }
    if (c.Get<CarriageReturn>() || c.Get<RasterRow>()) {
        return;
    }
    if (c.Get<Tab>()) {
        FlushHexRun();
        m_line += "\\x09";
        if (++m_lineBytes == kMaxTextLineBytes) {
            FlushText(false);
        }
        return;
    }
    if (const Control* control = c.Get<Control>()) {
        FlushText(false);
        if (m_hexRun.empty()) {
            m_hexRun = "hex:";
        }
        m_hexRun += ' ';
        AppendHex(m_hexRun, control->byte);
        if (++m_hexBytes == kMaxHexRunBytes) {
            FlushHexRun();
        }
        return;
    }
    FlushText(false);
    FlushHexRun();
    constexpr size_t kRemembered = 64;
    const auto kind = static_cast<uint8_t>(c.body.index());
    const bool small = c.head.size() + c.data.size() <= kRemembered && !c.Get<Named>() &&
                       !c.Get<Skipped>() && !c.Get<Truncated>();
    const auto same = [&] {
        return m_lastBytes.size() == c.head.size() + c.data.size() + 1 && m_lastBytes[0] == kind &&
               std::equal(c.head.begin(), c.head.end(), m_lastBytes.begin() + 1) &&
               std::equal(c.data.begin(), c.data.end(),
                          m_lastBytes.begin() + 1 + static_cast<ptrdiff_t>(c.head.size()));
    };
    if (small && same()) {
        Emit(m_lastLine);
    } else if (std::string line = DescribeCommand(c); !line.empty()) {
        Emit(line);
        if (small) {
            m_lastBytes.assign(1, kind);
            m_lastBytes.insert(m_lastBytes.end(), c.head.begin(), c.head.end());
            m_lastBytes.insert(m_lastBytes.end(), c.data.begin(), c.data.end());
            m_lastLine = std::move(line);
        }
    }
    if (c.Get<Cut>()) {
        EndRepeats();
    }
}

void CommandJournal::Finish() {
    FlushText(false);
    FlushHexRun();
    EndRepeats();
}

std::string CommandJournal::RepeatedLine(const Recent& r) {
    return "repeated " + std::to_string(r.held) + (r.held == 1 ? " more time: " : " more times: ") +
           r.line;
}

void CommandJournal::Emit(const std::string& line) {
    ++m_tick;
    // The line that came last is the likeliest to come again.
    if (!m_recent.empty() && m_recent.back().used + 1 == m_tick && m_recent.back().line == line) {
        Recent& last = m_recent.back();
        last.used = m_tick;
        if (++last.seen > kMaxRepeats) {
            ++last.held;
            return;
        }
        return m_out(line);
    }
    auto it = std::find_if(m_recent.begin(), m_recent.end(),
                           [&line](const Recent& r) { return r.line == line; });
    if (it == m_recent.end()) {
        if (m_recent.size() < kRepeatWindow) {
            it = m_recent.emplace(m_recent.end());
        } else {
            it = std::min_element(m_recent.begin(), m_recent.end(),
                                  [](const Recent& a, const Recent& b) { return a.used < b.used; });
            if (it->held > 0) {
                m_out(RepeatedLine(*it));
            }
            it->seen = 0;
            it->held = 0;
        }
        it->line.assign(line);
    }
    it->used = m_tick;
    if (++it->seen > kMaxRepeats) {
        ++it->held;
        return;
    }
    m_out(line);
}

void CommandJournal::EndRepeats() {
    // In the order the lines last came.
    std::sort(m_recent.begin(), m_recent.end(),
              [](const Recent& a, const Recent& b) { return a.used < b.used; });
    for (const Recent& r : m_recent) {
        if (r.held > 0) {
            m_out(RepeatedLine(r));
        }
    }
    m_recent.clear();
}

void CommandJournal::AddText(const Text& c) {
    const uint8_t* p = c.bytes.data();
    const uint8_t* const end = p + c.bytes.size();
    while (p < end) {
        // Plain ASCII, the common case, goes straight through in runs.
        const uint8_t* run = p;
        const uint8_t* const limit =
            p + std::min<size_t>(static_cast<size_t>(end - p), kMaxTextLineBytes - m_lineBytes);
        while (c.mode.charset == 0 && run < limit && *run >= 0x20 && *run < 0x7F) {
            ++run;
        }
        if (run > p) {
            m_line.append(reinterpret_cast<const char*>(p), static_cast<size_t>(run - p));
            m_lineBytes += static_cast<size_t>(run - p);
            p = run;
        } else {
            const Character ch = m_decoder.Next(p, static_cast<size_t>(end - p), c.mode);
            // A character never straddles two lines.
            if (m_lineBytes + ch.length > kMaxTextLineBytes) {
                FlushText(false);
            }
            if (!ch.valid || ch.code < 0x20 || ch.code == 0x7F) {
                for (size_t i = 0; i < ch.length; ++i) {
                    AppendEscaped(m_line, p[i]);
                }
            } else {
                AppendUtf8(m_line, ch.code);
            }
            p += ch.length;
            m_lineBytes += ch.length;
        }
        if (m_lineBytes == kMaxTextLineBytes) {
            FlushText(false);
        }
    }
}

// LF ends a line even when it is empty, unless a command (a style change)
// already ended the line's text: that LF only finishes it. Anything else
// ends only a line with text. The buffers keep their room: each line costs
// one string of its own size.
void CommandJournal::FlushText(bool lineFeed) {
    if (!lineFeed && m_lineBytes == 0) {
        return;
    }
    const bool cut = std::exchange(m_textCut, !lineFeed);
    if (m_lineBytes == 0 && cut) {
        return;
    }
    Emit(m_line);
    m_line.resize(std::strlen(kTextPrefix));
    m_lineBytes = 0;
}

void CommandJournal::FlushHexRun() {
    if (m_hexRun.empty()) {
        return;
    }
    Emit(m_hexRun);
    m_hexRun.clear();
    m_hexBytes = 0;
}

}  // namespace vorpane::escpos
