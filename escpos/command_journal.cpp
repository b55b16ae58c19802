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

const char* OnOff(int64_t n) {
    return n != 0 ? "on" : "off";
}

std::string UnderlineText(int64_t n) {
    return n == 0 ? "off" : Dots(n);
}

// A configuration frame: taken, or rejected with the checksum it needed.
std::string FrameText(std::span<const uint8_t> frame, const std::string& taken,
                      const std::string& value) {
    if (FrameChecksumOk(frame)) {
        return taken + value + " (checksum ok, pending until restart)";
    }
    uint8_t expected = 0;
    for (size_t i = 2; i + 1 < frame.size(); ++i) {
        expected = static_cast<uint8_t>(expected + frame[i]);
    }
    std::string out = taken.substr(0, 5) + "rejected: bad checksum ";
    AppendHex(out, frame.back());
    out += " (expected ";
    AppendHex(out, expected);
    return out + ") for " + value;
}

std::string PrintModeText(int64_t n) {
    std::string out = (n & 1) ? "font B" : "font A";
    constexpr std::pair<int, const char*> kBits[] = {{0x08, ", bold"},
                                                     {0x10, ", double height"},
                                                     {0x20, ", double width"},
                                                     {0x80, ", underline"}};
    for (const auto& [bit, name] : kBits) {
        if (n & bit) {
            out += name;
        }
    }
    return out;
}

std::string ChinesePrintModeText(int64_t n) {
    std::string out;
    constexpr std::pair<int, const char*> kBits[] = {
        {0x04, "double width"}, {0x08, "double height"}, {0x80, "underline"}};
    for (const auto& [bit, name] : kBits) {
        if (n & bit) {
            out += out.empty() ? "" : ", ";
            out += name;
        }
    }
    return out.empty() ? "normal" : out;
}

const char* SymbologyName(int64_t m) {
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
    return m >= 65 && m < 65 + static_cast<int64_t>(std::size(kNames)) ? kNames[m - 65]
                                                                       : "symbology";
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

std::string SymbolText(const Command& c) {
    const bool qr = c.a == 49;
    const bool pdf = c.a == 48;
    const int64_t n = c.data.size() >= 1 ? c.data[c.data.size() - 1] : 0;
    const int64_t m = c.data.size() >= 2 ? c.data[0] : 0;
    const std::string prefix = std::string("GS ( k ") + (qr ? "QR " : "PDF417 ");
    if (qr || pdf) {
        switch (c.b) {
            case 80:
                return prefix + "store " + Num(static_cast<int64_t>(c.data.size()) - 1) + " bytes";
            case 81:
                return prefix + "print";
            case 82:
                return prefix + "size request";
        }
    }
    if (qr && c.data.size() >= 1) {
        switch (c.b) {
            case 65: {
                const int64_t model = c.data[0];
                return prefix + (model == 49 ? "model 1" : model == 51 ? "model micro" : "model 2");
            }
            case 67:
                return prefix + "module size " + Dots(n);
            case 69:
                return prefix + "error correction " +
                       (n >= 48 && n <= 51 ? std::string(1, "LMQH"[n - 48]) : "L");
        }
    }
    if (pdf && c.data.size() >= 1) {
        switch (c.b) {
            case 65:
                return prefix + "columns " + (n == 0 ? "auto" : Num(n));
            case 66:
                return prefix + "rows " + (n == 0 ? "auto" : Num(n));
            case 67:
                return prefix + "module width " + Dots(n);
            case 68:
                return prefix + "row height " + Num(n) + " x module width";
            case 69:
                return prefix + "error correction " +
                       (m == 48 ? "level " + Num(n - 48) : Num(n * 10) + "%");
            case 70:
                return prefix + (n == 1 ? "truncated" : "standard");
        }
    }
    return "GS ( k symbol " + Num(c.a) + " function " + Num(c.b) + ", " +
           Num(static_cast<int64_t>(c.data.size()) + 2) + " bytes (not drawn)";
}

std::string GraphicsText(const Command& c) {
    const std::string name = Mnemonic(c.head, 3) + " ";
    if (c.b == kPrintGraphics) {
        return name + "print graphics";
    }
    const auto g = ParseGraphics(c);
    if (!g) {
        return name + "graphics function " + Num(c.b) + ", " +
               Num(static_cast<int64_t>(c.data.size()) + 2) + " bytes (not drawn)";
    }
    std::string key;
    if (c.b != kStoreGraphics) {
        key = "key " +
              Printable(std::array<uint8_t, 2>{static_cast<uint8_t>(g->key >> 8),
                                               static_cast<uint8_t>(g->key)}) +
              (c.b == kDefineNvGraphics ? ", " : "");
    }
    constexpr const char* kScales[] = {"", ", double width", ", double height", ", quadruple"};
    const char* scale = kScales[(g->scaleX - 1) | (g->scaleY - 1) << 1];
    if (c.b == kPrintNvGraphics) {
        return name + "print NV graphics " + key + scale;
    }
    std::string out = name + (c.b == kStoreGraphics ? "store graphics " : "define NV graphics ") +
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

std::string DescribeCommand(const Command& c) {
    const std::string name = Mnemonic(c.head, 2) + " ";
    switch (c.op) {
        case Op::kText:
        case Op::kLineFeed:
        case Op::kCarriageReturn:
        case Op::kTab:
        case Op::kControl:
        case Op::kRasterRow:
        case Op::kStatusRequest:
            return {};
        case Op::kInitialise:
            return name + "initialise";
        case Op::kPrintMode:
            return name + "print mode: " + PrintModeText(c.a);
        case Op::kFont:
            return name + "font " + static_cast<char>('A' + c.a);
        case Op::kCharacterSize:
            return name + "character size: width " + Num(c.a) + ", height " + Num(c.b);
        case Op::kBold:
            return name + "bold " + OnOff(c.a);
        case Op::kDoubleStrike:
            return name + "double strike " + OnOff(c.a);
        case Op::kUnderline:
            return name + "underline " + UnderlineText(c.a);
        case Op::kReverse:
            return name + "reverse " + OnOff(c.a);
        case Op::kAlign:
            return name + "align " + (c.a == 1 ? "centre" : c.a == 2 ? "right" : "left");
        case Op::kUpsideDown:
            return name + "upside-down " + OnOff(c.a);
        case Op::kRotate90:
            return name + "90 degree rotation " + OnOff(c.a);
        case Op::kRightSpacing:
            return name + "right spacing " + Dots(c.a);
        case Op::kDefaultLineSpacing:
            return name + "default line spacing";
        case Op::kLineSpacing:
            return name + "line spacing " + Dots(c.a);
        case Op::kTabStops: {
            if (c.data.empty()) {
                return name + "tab stops cleared";
            }
            std::string out = name + "tab stops ";
            for (size_t i = 0; i < c.data.size(); ++i) {
                out += (i > 0 ? ", " : "") + Num(c.data[i]);
            }
            return out;
        }
        case Op::kFeedLines:
            return name + "feed " + Num(c.a) + (c.a == 1 ? " line" : " lines");
        case Op::kFeedDots:
            return name + "feed " + Dots(c.a);
        case Op::kLeftMargin:
            return name + "left margin " + Dots(c.a);
        case Op::kPrintWidth:
            return name + "print width " + Dots(c.a);
        case Op::kAbsolutePosition:
            return name + "position " + Dots(c.a);
        case Op::kRelativePosition:
            return name + "move " + Dots(c.a);
        case Op::kCodePage: {
            const char* page = CodePageName(static_cast<int>(c.a));
            const std::string drawn = CodePageDrawn(static_cast<int>(c.a)) ? "" : "drawn as PC437";
            return name + "code page " + Num(c.a) + " (" + (page ? page : "") +
                   (page && !drawn.empty() ? ", not on this system: " : "") + drawn + ")";
        }
        case Op::kCharacterSet: {
            const char* set = CharacterSetName(static_cast<int>(c.a));
            return name + "character set " + Num(c.a) + " (" + (set ? set : "unknown") + ")";
        }
        case Op::kChineseMode:
            return name + "Chinese mode " + OnOff(c.a);
        case Op::kChinesePrintMode:
            return name + "Chinese print mode: " + ChinesePrintModeText(c.a);
        case Op::kChineseUnderline:
            return name + "Chinese underline " + UnderlineText(c.a);
        case Op::kRasterImage: {
            constexpr const char* kScales[] = {"normal", "double width", "double height",
                                               "quadruple"};
            return Mnemonic(c.head, 3) + " raster image " + Num(c.a * 8) + " x " + Num(c.b) +
                   " dots, " + kScales[c.c & 3];
        }
        case Op::kColumnImage: {
            const char* mode = c.a == 0    ? "8-dot single density"
                               : c.a == 1  ? "8-dot double density"
                               : c.a == 32 ? "24-dot single density"
                               : c.a == 33 ? "24-dot double density"
                                           : nullptr;
            return name + "column image " + (mode ? mode : "mode " + Num(c.a)) + ", " + Num(c.b) +
                   " columns";
        }
        case Op::kBarcodeHeight:
            return name + "barcode height " + Dots(c.a);
        case Op::kBarcodeWidth:
            return name + "barcode module " + Dots(c.a);
        case Op::kHriPosition: {
            constexpr const char* kPositions[] = {"none", "above", "below", "above and below"};
            return name + "HRI " + kPositions[c.a & 3];
        }
        case Op::kHriFont:
            return name + "HRI font " + (c.a != 0 ? "B" : "A");
        case Op::kBarcode:
            return name + SymbologyName(c.a) + " " + Printable(c.data);
        case Op::kSymbol:
            return SymbolText(c);
        case Op::kGraphics:
            return GraphicsText(c);
        case Op::kNvBitImage:
            return name + "NV bit image " + Num(c.a) + " of " + Num(c.head[2]) + ", " + Num(c.b) +
                   " x " + Num(c.c) + " dots";
        case Op::kPrintNvBitImage: {
            constexpr const char* kScales[] = {"", ", double width", ", double height",
                                               ", quadruple"};
            return name + "print NV bit image " + Num(c.a) + kScales[c.b & 3];
        }
        case Op::kPageMode:
            return name + "page mode";
        case Op::kStandardMode:
            return name + "standard mode";
        case Op::kPageArea:
            return name + "page area at " + Num(c.a) + ", " + Num(c.b) + ", " + Num(c.c) + " x " +
                   Dots(c.d);
        case Op::kPageDirection: {
            constexpr const char* kDirections[] = {"left to right", "bottom to top",
                                                   "right to left", "top to bottom"};
            return name + "page direction " +
                   (c.a >= 0 && c.a < 4 ? kDirections[c.a] : Num(c.a) + " (ignored)");
        }
        case Op::kPageVertical:
            return name + (c.b == 0 ? "page position " : "page move ") + Dots(c.a);
        case Op::kPrintPage:
            return c.a != 0 ? "ESC FF print page" : "FF print page and return to standard mode";
        case Op::kCancelPage:
            return "CAN cancel page data";
        case Op::kCut: {
            const std::string cut = c.a != 0 ? "partial cut" : "full cut";
            return name + (c.b > 0 ? "feed " + Dots(c.b) + ", " + cut : cut);
        }
        case Op::kDrawer:
            if (c.head.size() > 1 && c.head[0] == 0x10) {
                return name + "drawer pin " + Num(c.a) + " pulse " + Num(c.b) + " ms";
            }
            return name + "drawer pin " + Num(c.a) + " on " + Num(c.b) + " ms off " + Num(c.c) +
                   " ms";
        case Op::kAddressFrame:
            return FrameText(
                c.head, "GS D new address ",
                Ipv4Address::FromOctets({c.head[2], c.head[3], c.head[4], c.head[5]}).Text());
        case Op::kMacFrame:
            return FrameText(
                c.head, "GS E new MAC ",
                MacText({c.head[2], c.head[3], c.head[4], c.head[5], c.head[6], c.head[7]}, '-'));
        case Op::kNamed: {
            std::string out = name + c.name;
            if (c.head.size() > 2) {
                out += ": " + HexBytes(c.head.data() + 2, c.head.size() - 2);
            }
            return out;
        }
        case Op::kSkipped: {
            const bool three = c.head.size() > 2 && (c.head[1] == '(' || c.head[1] == '8');
            return Mnemonic(c.head, three ? 3 : 2) + " skipped, " + Num(c.a) + " bytes";
        }
        case Op::kUnknown:
            return "hex: " + HexBytes(c.head.data(), c.head.size());
        case Op::kTruncated: {
            std::string out = "truncated: " + HexBytes(c.head.data(), c.head.size());
            if (c.a >= 0) {
                out += " after " + Num(c.a) + (c.b >= 0 ? " of " + Num(c.b) : "") + " bytes";
            }
            return out;
        }
    }
    return {};
}

CommandJournal::CommandJournal(LineOut out) : m_out(std::move(out)), m_line(kTextPrefix) {}

void CommandJournal::OnCommand(const Command& c) {
    switch (c.op) {
        case Op::kText:
            FlushHexRun();
            return AddText(c);
        case Op::kLineFeed:
            FlushHexRun();
            return FlushText(true);
        case Op::kCarriageReturn:
        case Op::kRasterRow:
            return;
        case Op::kTab:
            FlushHexRun();
            m_line += "\\x09";
            if (++m_lineBytes == kMaxTextLineBytes) {
                FlushText(false);
            }
            return;
        case Op::kControl:
            FlushText(false);
            if (m_hexRun.empty()) {
                m_hexRun = "hex:";
            }
            m_hexRun += ' ';
            AppendHex(m_hexRun, c.data[0]);
            if (++m_hexBytes == kMaxHexRunBytes) {
                FlushHexRun();
            }
            return;
        default: {
            FlushText(false);
            FlushHexRun();
            constexpr size_t kRemembered = 64;
            const bool small = c.head.size() + c.data.size() <= kRemembered && c.op != Op::kNamed &&
                               c.op != Op::kSkipped && c.op != Op::kTruncated;
            const auto same = [&] {
                return m_lastBytes.size() == c.head.size() + c.data.size() + 1 &&
                       m_lastBytes[0] == static_cast<uint8_t>(c.op) &&
                       std::equal(c.head.begin(), c.head.end(), m_lastBytes.begin() + 1) &&
                       std::equal(c.data.begin(), c.data.end(),
                                  m_lastBytes.begin() + 1 + static_cast<ptrdiff_t>(c.head.size()));
            };
            if (small && same()) {
                Emit(m_lastLine);
            } else if (std::string line = DescribeCommand(c); !line.empty()) {
                Emit(line);
                if (small) {
                    m_lastBytes.assign(1, static_cast<uint8_t>(c.op));
                    m_lastBytes.insert(m_lastBytes.end(), c.head.begin(), c.head.end());
                    m_lastBytes.insert(m_lastBytes.end(), c.data.begin(), c.data.end());
                    m_lastLine = std::move(line);
                }
            }
            if (c.op == Op::kCut) {
                EndRepeats();
            }
        }
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

void CommandJournal::AddText(const Command& c) {
    const uint8_t* p = c.data.data();
    const uint8_t* const end = p + c.data.size();
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
