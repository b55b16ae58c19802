#include "escpos/command_decoder.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <utility>

#include "escpos/graphics.h"
#include "escpos/text_codec.h"

namespace vorpane::escpos {
namespace {

constexpr uint8_t kDle = 0x10;
constexpr uint8_t kEot = 0x04;
constexpr uint8_t kEnq = 0x05;
constexpr uint8_t kDc4 = 0x14;
constexpr uint8_t kEsc = 0x1B;
constexpr uint8_t kFs = 0x1C;
constexpr uint8_t kGs = 0x1D;
constexpr uint8_t kLf = 0x0A;
constexpr uint8_t kCr = 0x0D;
constexpr uint8_t kHt = 0x09;
constexpr uint8_t kFf = 0x0C;
constexpr uint8_t kCan = 0x18;

bool IsPrefix(uint8_t b) {
    return b == kEsc || b == kGs || b == kFs || b == kDle;
}

bool OneOf(uint8_t b, std::string_view set) {
    return set.find(static_cast<char>(b)) != std::string_view::npos;
}

// Styles take 0/1/2 or '0'/'1'/'2'.
int Digit(uint8_t n) {
    return n >= '0' ? n - '0' : n;
}

int UnderlineDots(uint8_t n) {
    const int d = Digit(n);
    return d >= 0 && d <= 2 ? d : 0;
}

int Word(const uint8_t* p) {
    return p[0] | p[1] << 8;
}

SymbolKind SymbolKindOf(uint8_t cn) {
    return cn == 49 ? SymbolKind::kQr : cn == 48 ? SymbolKind::kPdf417 : SymbolKind::kOther;
}

SymbolFunction SymbolFunctionOf(uint8_t fn) {
    if (fn >= 65 && fn <= 70) {
        return static_cast<SymbolFunction>(fn - 65);
    }
    return fn == 80   ? SymbolFunction::kStore
           : fn == 81 ? SymbolFunction::kPrint
           : fn == 82 ? SymbolFunction::kSizeRequest
                      : SymbolFunction::kOther;
}

using Handler = void (*)(CommandDecoder& d, const uint8_t* head, uint8_t n);
using LengthRule = size_t (*)(uint8_t third);

// One command the printer knows: its two bytes, where its fixed part ends,
// the name the journal gives it and what the decoder does with it. The
// length counts the prefix; a command whose third byte decides it has a
// rule instead, which answers 0 for a third byte the printer does not know.
struct Row {
    uint8_t prefix = 0;
    uint8_t code = 0;
    uint8_t length = 0;
    LengthRule rule = nullptr;
    const char* name = nullptr;  // journalled by it when nothing here acts on it
    Handler handle = nullptr;    // without one, the command is journalled by name
};

constexpr Row NamedRow(uint8_t prefix, uint8_t code, uint8_t length, const char* name) {
    return {prefix, code, length, nullptr, name, nullptr};
}

constexpr Row Act(uint8_t prefix, uint8_t code, uint8_t length, Handler handle) {
    return {prefix, code, length, nullptr, nullptr, handle};
}

constexpr Row ByThird(uint8_t prefix, uint8_t code, LengthRule rule, Handler handle,
                      const char* name = nullptr) {
    return {prefix, code, 0, rule, name, handle};
}

// ESC, FS, GS and DLE as 0..3.
constexpr size_t Slot(uint8_t prefix) {
    return prefix == kDle ? 3 : prefix - kEsc;
}

}  // namespace

// The commands, in one table: the decoder finds a command's row from its
// first two bytes through an index built from the table at compile time.
struct CommandDecoder::Commands {
    using D = CommandDecoder&;
    using H = const uint8_t*;

    static constexpr Row kRows[] = {
        Act(kEsc, '@', 2,
            [](D d, H, uint8_t) {
                d.m_mode = d.m_start;
                d.EmitSimple(Initialise{});
            }),
        NamedRow(kEsc, '<', 2, "return home"),
        Act(kEsc, '2', 2, [](D d, H, uint8_t) { d.EmitSimple(DefaultLineSpacing{}); }),
        Act(kEsc, 'i', 2, [](D d, H, uint8_t) { d.EmitSimple(Cut{CutKind::kPartial}); }),
        Act(kEsc, 'm', 2, [](D d, H, uint8_t) { d.EmitSimple(Cut{CutKind::kPartial}); }),
        Act(kEsc, 'L', 2, [](D d, H, uint8_t) { d.EmitSimple(PageMode{}); }),
        Act(kEsc, 'S', 2, [](D d, H, uint8_t) { d.EmitSimple(StandardMode{}); }),
        NamedRow(kEsc, 'v', 2, "paper sensor status request"),
        Act(kEsc, 'D', 2,
            [](D d, H, uint8_t) {
                d.m_data.clear();
                d.m_state = State::kTabStops;
            }),
        Act(kEsc, kFf, 2, [](D d, H, uint8_t) { d.EmitSimple(PrintPage{true}); }),
        Act(kEsc, ' ', 3, [](D d, H, uint8_t n) { d.EmitSimple(RightSpacing{n}); }),
        Act(kEsc, '!', 3,
            [](D d, H, uint8_t n) {
                d.EmitSimple(PrintMode{(n & 1) != 0, (n & 0x08) != 0, (n & 0x10) != 0,
                                       (n & 0x20) != 0, (n & 0x80) != 0});
            }),
        NamedRow(kEsc, '%', 3, "user-defined characters"),
        Act(kEsc, '-', 3, [](D d, H, uint8_t n) { d.EmitSimple(Underline{UnderlineDots(n)}); }),
        Act(kEsc, '3', 3, [](D d, H, uint8_t n) { d.EmitSimple(LineSpacing{n}); }),
        NamedRow(kEsc, '=', 3, "peripheral device"),
        NamedRow(kEsc, '?', 3, "cancel user-defined character"),
        Act(kEsc, 'E', 3, [](D d, H, uint8_t n) { d.EmitSimple(Bold{(n & 1) != 0}); }),
        Act(kEsc, 'G', 3, [](D d, H, uint8_t n) { d.EmitSimple(DoubleStrike{(n & 1) != 0}); }),
        Act(kEsc, 'J', 3, [](D d, H, uint8_t n) { d.EmitSimple(FeedDots{n}); }),
        Act(kEsc, 'M', 3,
            [](D d, H, uint8_t n) { d.EmitSimple(SelectFont{Digit(n) <= 2 ? Digit(n) : 0}); }),
        Act(kEsc, 'R', 3,
            [](D d, H, uint8_t n) {
                d.m_mode.charset = n;
                d.EmitSimple(CharacterSet{n});
            }),
        Act(kEsc, 'T', 3, [](D d, H, uint8_t n) { d.EmitSimple(PageDirection{Digit(n)}); }),
        NamedRow(kEsc, 'U', 3, "unidirectional printing"),
        // 2 turns the characters as 1 does, on a head with 1-dot spacing.
        Act(kEsc, 'V', 3,
            [](D d, H, uint8_t n) { d.EmitSimple(Rotate90{OneOf(n, "\x01\x02\x31\x32")}); }),
        Act(kEsc, 'a', 3,
            [](D d, H, uint8_t n) {
                d.EmitSimple(Align{Digit(n) == 1   ? Alignment::kCentre
                                   : Digit(n) == 2 ? Alignment::kRight
                                                   : Alignment::kLeft});
            }),
        Act(kEsc, 'd', 3, [](D d, H, uint8_t n) { d.EmitSimple(FeedLines{n}); }),
        NamedRow(kEsc, 'e', 3, "reverse feed lines"),
        NamedRow(kEsc, 'r', 3, "print colour"),
        Act(kEsc, 't', 3,
            [](D d, H, uint8_t n) {
                d.m_mode.codePage = n;
                d.EmitSimple(CodePage{n});
            }),
        NamedRow(kEsc, 'u', 3, "peripheral status request"),
        Act(kEsc, '{', 3, [](D d, H, uint8_t n) { d.EmitSimple(UpsideDown{(n & 1) != 0}); }),
        Act(kEsc, '$', 4, [](D d, H h, uint8_t) { d.EmitSimple(AbsolutePosition{Word(h + 2)}); }),
        Act(kEsc, '\\', 4,
            [](D d, H h, uint8_t) {
                d.EmitSimple(RelativePosition{static_cast<int16_t>(Word(h + 2))});
            }),
        NamedRow(kEsc, 'c', 4, "paper sensors and panel buttons"),
        NamedRow(kEsc, 'B', 4, "beeper"),
        Act(kEsc, 'p', 5,
            [](D d, H h, uint8_t n) {
                const int pin = Digit(n) == 0 ? 2 : Digit(n) == 1 ? 5 : 0;
                if (pin == 0) {
                    return d.EmitUnknown();
                }
                d.EmitSimple(Drawer{pin, h[3] * 2, h[4] * 2, false});
            }),
        Act(kEsc, '*', 5,
            [](D d, H h, uint8_t n) {
                d.BeginPayload(Payload::kColumnImage, Word(h + 3) * (n & 0x20 ? 3 : 1));
            }),
        // y c1 c2, then for each character c1..c2: its width x and y * x bytes.
        Act(kEsc, '&', 5,
            [](D d, H h, uint8_t) {
                d.BeginParts(h[3] >= 32 && h[4] <= 126 && h[3] <= h[4] ? h[4] - h[3] + 1 : 0, 1);
            }),
        Act(kEsc, '(', 5, [](D d, H h, uint8_t) { d.BeginSkip(Word(h + 3)); }),
        Act(kEsc, 'W', 10,
            [](D d, H h, uint8_t) {
                d.EmitSimple(PageArea{Word(h + 2), Word(h + 4), Word(h + 6), Word(h + 8)});
            }),

        Act(kGs, '!', 3,
            [](D d, H, uint8_t n) {
                d.EmitSimple(CharacterSize{std::min(n >> 4, 7) + 1, std::min(n & 15, 7) + 1});
            }),
        Act(kGs, 'B', 3, [](D d, H, uint8_t n) { d.EmitSimple(Reverse{(n & 1) != 0}); }),
        Act(kGs, 'H', 3,
            [](D d, H, uint8_t n) {
                d.EmitSimple(HriPosition{(Digit(n) & 1) != 0, (Digit(n) & 2) != 0});
            }),
        Act(kGs, 'I', 3,
            [](D d, H, uint8_t n) {
                d.EmitSimple(StatusRequest{StatusRequest::Kind::kPrinterId, n});
            }),
        NamedRow(kGs, 'T', 3, "print position to line start"),
        Act(kGs, 'a', 3,
            [](D d, H, uint8_t n) {
                d.EmitSimple(StatusRequest{StatusRequest::Kind::kAutomatic, n});
            }),
        NamedRow(kGs, 'b', 3, "smoothing"),
        Act(kGs, 'f', 3, [](D d, H, uint8_t n) { d.EmitSimple(HriFont{(Digit(n) & 1) != 0}); }),
        Act(kGs, 'h', 3, [](D d, H, uint8_t n) { d.EmitSimple(BarcodeHeight{n}); }),
        NamedRow(kGs, 'j', 3, "automatic ink status back"),
        Act(kGs, 'r', 3,
            [](D d, H, uint8_t n) {
                d.EmitSimple(StatusRequest{StatusRequest::Kind::kTransmit, n});
            }),
        Act(kGs, 'w', 3, [](D d, H, uint8_t n) { d.EmitSimple(BarcodeWidth{n}); }),
        NamedRow(kGs, '/', 3, "print downloaded image"),
        NamedRow(kGs, 'Z', 3, "2D symbol type"),
        Act(kGs, 'L', 4, [](D d, H h, uint8_t) { d.EmitSimple(LeftMargin{Word(h + 2)}); }),
        Act(kGs, 'W', 4, [](D d, H h, uint8_t) { d.EmitSimple(PrintWidth{Word(h + 2)}); }),
        Act(kGs, '$', 4,
            [](D d, H h, uint8_t) {
                d.EmitSimple(PageVertical{Word(h + 2), false});
            }),
        Act(kGs, '\\', 4,
            [](D d, H h, uint8_t) {
                d.EmitSimple(PageVertical{static_cast<int16_t>(Word(h + 2)), true});
            }),
        NamedRow(kGs, 'P', 4, "motion units"),
        Act(kGs, '*', 4, [](D d, H h, uint8_t) { d.BeginSkip(uint64_t{h[2]} * h[3] * 8); }),
        NamedRow(kGs, ':', 2, "macro definition"),
        NamedRow(kGs, '^', 5, "run macro"),
        Act(kGs, '(', 5,
            [](D d, H h, uint8_t) {
                if (h[2] == 'k') {
                    return d.BeginPayload(Payload::kSymbol, Word(h + 3));
                }
                if (h[2] == 'L') {
                    return d.BeginPayload(Payload::kGraphics, Word(h + 3));
                }
                if (h[2] == 'H' && Word(h + 3) == 6) {
                    return d.BeginPayload(Payload::kResponse, 6);
                }
                d.BeginSkip(Word(h + 3));
            }),
        Act(kGs, 'D', 7, [](D d, H h, uint8_t) { d.EmitFrame(ConfigFrame::Kind::kAddress, h, 4); }),
        Act(kGs, 'E', 9, [](D d, H h, uint8_t) { d.EmitFrame(ConfigFrame::Kind::kMac, h, 6); }),
        // m: 0/48 full, 1/49 partial; 65/66 feed n first; 97/98 feed to the
        // cutter plus n; 103/104 feed n (the last three take n).
        ByThird(
            kGs, 'V', [](uint8_t m) -> size_t { return OneOf(m, "ABabgh") ? 4 : 3; },
            [](D d, H h, uint8_t n) {
                const bool feed = d.m_headSize == 4;
                if (!feed && Digit(n) > 1) {
                    return d.EmitUnknown();
                }
                const bool partial = feed ? (n & 1) == 0 : Digit(n) == 1;
                d.EmitSimple(Cut{partial ? CutKind::kPartial : CutKind::kFull, feed ? h[3] : 0,
                                 OneOf(n, "ABab")});
            }),
        ByThird(
            kGs, 'v', [](uint8_t m) -> size_t { return m == '0' ? 8 : 0; },
            [](D d, H h, uint8_t) {
                d.m_rowsLeft = Word(h + 6);
                d.EmitSimple(RasterImage{Word(h + 4) * 8, Word(h + 6), (Digit(h[3]) & 1) + 1,
                                         ((Digit(h[3]) >> 1) & 1) + 1});
                if (Word(h + 4) > 0 && d.m_rowsLeft > 0) {
                    d.BeginPayload(Payload::kRow, Word(h + 4));
                }
            }),
        ByThird(
            kGs, 'k', [](uint8_t m) -> size_t { return m <= 6               ? 3
                                                       : m >= 65 && m <= 79 ? 4
                                                                            : 0; },
            [](D d, H h, uint8_t) {
                if (d.m_headSize == 3) {
                    d.m_payload = Payload::kBarcode;
                    d.m_data.clear();
                    d.m_state = State::kUntilNul;
                    return;
                }
                d.BeginPayload(Payload::kBarcode, h[3]);
            }),
        ByThird(
            kGs, '8', [](uint8_t m) -> size_t { return m == 'L' ? 7 : 0; },
            [](D d, H h, uint8_t) {
                const uint64_t size = uint64_t{h[3]} | uint64_t{h[4]} << 8 | uint64_t{h[5]} << 16 |
                                      uint64_t{h[6]} << 24;
                if (size <= kMaxGraphicsData) {
                    return d.BeginPayload(Payload::kGraphics, size);
                }
                d.BeginSkip(size);
            }),
        ByThird(
            kGs, 'g', [](uint8_t m) -> size_t { return m == '0' || m == '2' ? 6 : 0; }, nullptr,
            "maintenance counter"),
        ByThird(
            kGs, 'C',
            [](uint8_t m) -> size_t { return m == '0' || m == '2' ? 5
                                             : m == '1'           ? 9
                                                                  : 0; },
            nullptr, "counter"),

        Act(kFs, '&', 2,
            [](D d, H, uint8_t) {
                d.m_mode.chinese = true;
                d.EmitSimple(ChineseMode{true});
            }),
        Act(kFs, '.', 2,
            [](D d, H, uint8_t) {
                d.m_mode.chinese = false;
                d.EmitSimple(ChineseMode{false});
            }),
        Act(kFs, '!', 3,
            [](D d, H, uint8_t n) {
                d.EmitSimple(ChinesePrintMode{(n & 0x04) != 0, (n & 0x08) != 0, (n & 0x80) != 0});
            }),
        Act(kFs, '-', 3,
            [](D d, H, uint8_t n) { d.EmitSimple(ChineseUnderline{UnderlineDots(n)}); }),
        NamedRow(kFs, 'C', 3, "Chinese code system"),
        NamedRow(kFs, 'W', 3, "Chinese quadruple size"),
        // n images, each xL xH yL yH and x * y * 8 bytes.
        Act(kFs, 'q', 3, [](D d, H, uint8_t n) { d.BeginParts(n, 4); }),
        NamedRow(kFs, 'S', 4, "Chinese character spacing"),
        Act(kFs, 'p', 4,
            [](D d, H h, uint8_t n) {
                d.EmitSimple(
                    PrintNvBitImage{n, (Digit(h[3]) & 1) + 1, ((Digit(h[3]) >> 1) & 1) + 1});
            }),
        Act(kFs, '2', 4, [](D d, H, uint8_t) { d.BeginSkip(72); }),  // one 24 x 24 character
        Act(kFs, '(', 5, [](D d, H h, uint8_t) { d.BeginSkip(Word(h + 3)); }),
        ByThird(
            kFs, 'g', [](uint8_t m) -> size_t { return m == '1' || m == '2' ? 10 : 0; },
            [](D d, H h, uint8_t n) {
                if (n == '1') {
                    return d.BeginSkip(Word(h + 8));
                }
                d.EmitNamed();
            },
            "NV user memory"),

        Act(kDle, kEot, 3,
            [](D d, H, uint8_t n) {
                if (n < 1 || n > 4) {
                    return d.EmitUnknown();
                }
                d.EmitSimple(StatusRequest{StatusRequest::Kind::kRealTime, n});
            }),
        NamedRow(kDle, kEnq, 3, "real-time request"),
        ByThird(
            kDle, kDc4,
            [](uint8_t fn) -> size_t {
                switch (fn) {
                    case 1:
                    case 2:
                        return 5;
                    case 3:
                        return 8;
                    case 7:
                        return 4;
                    case 8:
                        return 10;
                }
                return 0;
            },
            [](D d, H h, uint8_t n) {
                if (n == 1 && h[3] <= 1 && h[4] >= 1 && h[4] <= 8) {
                    return d.EmitSimple(Drawer{h[3] == 0 ? 2 : 5, h[4] * 100, h[4] * 100, true});
                }
                d.EmitNamed();
            },
            "real-time command"),
    };

    // kRows index + 1 by prefix slot and second byte; 0 for none.
    static constexpr auto kIndex = [] {
        std::array<std::array<uint8_t, 256>, 4> index{};
        for (size_t i = 0; i < std::size(kRows); ++i) {
            index[Slot(kRows[i].prefix)][kRows[i].code] = static_cast<uint8_t>(i + 1);
        }
        return index;
    }();

    static_assert(std::size(kRows) < 256);
    static_assert(
        [] {
            size_t indexed = 0;
            for (const auto& slot : kIndex) {
                indexed += static_cast<size_t>(
                    std::count_if(slot.begin(), slot.end(), [](uint8_t i) { return i != 0; }));
            }
            return indexed == std::size(kRows);
        }(),
        "a command appears twice in the table");

    static const Row* Find(uint8_t prefix, uint8_t code) {
        const uint8_t i = kIndex[Slot(prefix)][code];
        return i == 0 ? nullptr : &kRows[i - 1];
    }
};

CommandDecoder::CommandDecoder(CommandSink& sink, bool text, TextMode start)
    : m_sink(sink), m_text(text), m_start(start), m_mode(start) {}

size_t CommandDecoder::Feed(const uint8_t* data, size_t size) {
    const uint8_t* p = data;
    const uint8_t* const end = data + size;
    m_paused = false;
    while (p < end && !m_paused) {
        p = m_state == State::kText ? FeedText(p, end) : FeedCommand(p, end);
    }
    m_paused = false;
    return static_cast<size_t>(p - data);
}

void CommandDecoder::Finish() {
    if (m_state == State::kText) {
        if (m_carrySize > 0) {
            EmitText(m_carry.data(), std::exchange(m_carrySize, 0));
        }
        return;
    }
    Truncated t;
    switch (m_state) {
        case State::kPayload:
        case State::kTabStops:
        case State::kUntilNul:
            t.received = static_cast<int64_t>(m_data.size());
            t.expected = m_state == State::kPayload ? static_cast<int64_t>(m_expected) : -1;
            break;
        case State::kRows: {
            const int64_t rows = Word(m_head.data() + 6);
            t.received = (rows - m_rowsLeft) * static_cast<int64_t>(m_expected) +
                         static_cast<int64_t>(m_data.size());
            t.expected = rows * static_cast<int64_t>(m_expected);
            break;
        }
        case State::kSkip:
        case State::kPartHeader:
            t.received = static_cast<int64_t>(m_commandBytes - m_headSize);
            t.expected = m_partHeaderSize == 0
                             ? static_cast<int64_t>(m_commandBytes - m_headSize + m_skipLeft)
                             : -1;
            break;
        default:
            break;
    }
    EmitSimple(t);
    EndCommand();
}

const uint8_t* CommandDecoder::FeedText(const uint8_t* p, const uint8_t* end) {
    const uint8_t* q = p;
    while (q < end && *q >= 0x20) {
        ++q;
    }
    if (q > p && m_text) {
        Text(p, q, q == end);
    }
    if (q == end) {
        return q;
    }
    if (m_carrySize > 0) {
        EmitText(m_carry.data(), std::exchange(m_carrySize, 0));
    }
    const uint8_t b = *q++;
    if (IsPrefix(b)) {
        m_head[0] = b;
        m_headSize = 1;
        m_state = State::kHeader;
    } else if (b == kLf) {
        EmitSimple(LineFeed{});
    } else if (b == kCr) {
        EmitSimple(CarriageReturn{});
    } else if (b == kHt) {
        EmitSimple(Tab{});
    } else if (b == kFf || b == kCan) {
        m_head[0] = b;
        m_headSize = 1;
        if (b == kFf) {
            EmitSimple(PrintPage{false});
        } else {
            EmitSimple(CancelPage{});
        }
    } else {
        Emit({Control{b}, {}, {q - 1, 1}});
    }
    return q;
}

// Text [p, q); at the end of a piece a character it cuts waits in m_carry,
// so that the sinks see the same characters however the bytes arrive.
void CommandDecoder::Text(const uint8_t* p, const uint8_t* q, bool atEnd) {
    if (!m_mode.chinese) {
        EmitText(p, static_cast<size_t>(q - p));
        return;
    }
    if (m_carrySize > 0) {
        const size_t held = m_carrySize;
        const size_t take = std::min<size_t>(3, static_cast<size_t>(q - p));
        std::copy(p, p + take, m_carry.begin() + static_cast<ptrdiff_t>(held));
        const size_t n = held + take;
        size_t whole = 0;
        for (size_t len; whole < n && (len = GbCharLength(&m_carry[whole], n - whole)) != 0;) {
            whole += len;
        }
        if (whole < held) {
            // Still not decided: only possible when the piece ends too.
            m_carrySize = n;
            return;
        }
        EmitText(m_carry.data(), whole);
        m_carrySize = 0;
        p += whole - held;
    }
    if (!atEnd) {
        EmitText(p, static_cast<size_t>(q - p));
        return;
    }
    const uint8_t* whole = p;
    for (size_t len;
         whole < q && (len = GbCharLength(whole, static_cast<size_t>(q - whole))) != 0;) {
        whole += len;
    }
    EmitText(p, static_cast<size_t>(whole - p));
    m_carrySize = static_cast<size_t>(q - whole);
    std::copy(whole, q, m_carry.begin());
}

void CommandDecoder::EmitText(const uint8_t* p, size_t n) {
    if (n == 0) {
        return;
    }
    Emit({escpos::Text{{p, n}, m_mode}, {}, {p, n}});
}

const uint8_t* CommandDecoder::FeedCommand(const uint8_t* p, const uint8_t* end) {
    switch (m_state) {
        case State::kHeader: {
            m_head[m_headSize++] = *p++;
            const size_t need = HeaderLength();
            if (need == 0) {
                EmitUnknown();
                EndCommand();
            } else if (m_headSize >= need) {
                HeaderDone();
            }
            return p;
        }
        case State::kPayload:
        case State::kRows: {
            const size_t want = m_expected - m_data.size();
            const size_t have = static_cast<size_t>(end - p);
            if (m_data.empty() && have >= want) {
                PayloadDone(p, want);
                return p + want;
            }
            const size_t take = std::min(want, have);
            m_data.insert(m_data.end(), p, p + take);
            if (m_data.size() == m_expected) {
                PayloadDone(m_data.data(), m_data.size());
            }
            return p + take;
        }
        case State::kSkip: {
            const uint64_t take = std::min<uint64_t>(m_skipLeft, static_cast<uint64_t>(end - p));
            m_skipLeft -= take;
            m_commandBytes += take;
            if (m_skipLeft == 0) {
                if (m_partsLeft > 0) {
                    m_state = State::kPartHeader;
                    m_data.clear();
                } else {
                    EmitSkipped(static_cast<int64_t>(m_commandBytes));
                    EndCommand();
                }
            }
            return p + take;
        }
        case State::kPartHeader:
            m_data.push_back(*p);
            ++m_commandBytes;
            if (m_data.size() == m_partHeaderSize) {
                PartHeaderDone();
            }
            return p + 1;
        case State::kTabStops: {
            const uint8_t b = *p;
            const bool stop =
                b == 0 || m_data.size() == kMaxTabStops || (!m_data.empty() && b <= m_data.back());
            if (!stop) {
                m_data.push_back(b);
                return p + 1;
            }
            Emit({TabStops{m_data}, {m_head.data(), m_headSize}, m_data});
            EndCommand();
            // A value that does not ascend ends the list and is data again.
            return b == 0 ? p + 1 : p;
        }
        case State::kUntilNul: {
            const uint8_t b = *p;
            if (b != 0) {
                m_data.push_back(b);
            }
            if (b == 0 || m_data.size() == kMaxBarcodeData) {
                PayloadDone(m_data.data(), m_data.size());
            }
            return p + 1;
        }
        case State::kText:
            break;
    }
    return p;
}

void CommandDecoder::HeaderDone() {
    m_commandBytes = m_headSize;
    Dispatch();
    if (m_state == State::kHeader) {
        EndCommand();
    }
}

// Fixed part of the command begun in m_head: its length while the bytes so
// far do not tell it, 0 when the printer does not know the command.
size_t CommandDecoder::HeaderLength() const {
    const Row* row = Commands::Find(m_head[0], m_head[1]);
    if (row == nullptr) {
        return 0;
    }
    if (row->rule == nullptr) {
        return row->length;
    }
    return m_headSize < 3 ? 3 : row->rule(m_head[2]);
}

void CommandDecoder::Dispatch() {
    const Row& row = *Commands::Find(m_head[0], m_head[1]);
    if (row.handle == nullptr) {
        return EmitNamed();
    }
    row.handle(*this, m_head.data(), m_headSize > 2 ? m_head[2] : 0);
}

void CommandDecoder::EmitNamed() {
    const char* name = Commands::Find(m_head[0], m_head[1])->name;
    if (name == nullptr) {
        return EmitUnknown();
    }
    EmitSimple(Named{name});
}

void CommandDecoder::EmitUnknown() {
    EmitSimple(Unknown{});
}

void CommandDecoder::BeginPayload(Payload kind, size_t size) {
    m_payload = kind;
    m_expected = size;
    m_data.clear();
    if (size == 0) {
        return PayloadDone(nullptr, 0);
    }
    m_state = kind == Payload::kRow ? State::kRows : State::kPayload;
}

void CommandDecoder::PayloadDone(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> head{m_head.data(), m_headSize};
    const std::span<const uint8_t> payload{data, size};
    switch (m_payload) {
        case Payload::kRow:
            Emit({RasterRow{payload}, head, payload});
            m_data.clear();
            if (--m_rowsLeft > 0) {
                return;
            }
            return EndCommand();
        case Payload::kColumnImage: {
            const uint8_t m = m_head[2];
            Emit({ColumnImage{(m & 0x20) != 0, (m & 1) != 0,
                              OneOf(m, std::string_view("\0\1\x20\x21", 4)), m,
                              Word(m_head.data() + 3), payload},
                  head, payload});
            break;
        }
        case Payload::kNvImage:
            Emit({NvBitImage{m_head[2] - m_partsLeft, m_head[2], m_imageWidth, m_imageHeight,
                             payload},
                  head, payload});
            if (m_partsLeft > 0) {
                m_state = State::kPartHeader;
                m_data.clear();
                return;
            }
            return EndCommand();
        case Payload::kBarcode: {
            // Form A numbers 0..6 are form B's 65..71.
            const int m = m_head[2] < 65 ? m_head[2] : m_head[2] - 65;
            Emit({Barcode{static_cast<BarcodeSymbology>(m), payload}, head, payload});
            break;
        }
        case Payload::kResponse: {
            // fn 48, m 48 and four digits: a process ID to send back.
            const auto digit = [](uint8_t b) { return b >= '0' && b <= '9'; };
            if (size != 6 || data[0] != 48 || data[1] != 48 ||
                !std::all_of(data + 2, data + 6, digit)) {
                EmitSkipped(static_cast<int64_t>(m_headSize + size));
                break;
            }
            Emit({StatusRequest{
                      StatusRequest::Kind::kProcessId, 48, {data[2], data[3], data[4], data[5]}},
                  head, payload});
            break;
        }
        case Payload::kSymbol:
        case Payload::kGraphics: {
            if (size < 2) {
                EmitSkipped(static_cast<int64_t>(m_headSize + size));
                break;
            }
            const std::span<const uint8_t> params = payload.subspan(2);
            if (m_payload == Payload::kSymbol) {
                Emit({Symbol2D{SymbolKindOf(data[0]), SymbolFunctionOf(data[1]), data[0], data[1],
                               params},
                      head, params});
            } else {
                const GraphicsFunction f = GraphicsFunctionOf(data[1]);
                Emit({Graphics{f, data[1], size, ParseGraphics(f, params)}, head, params});
            }
            break;
        }
    }
    EndCommand();
}

void CommandDecoder::BeginSkip(uint64_t size) {
    m_skipLeft = size;
    m_state = State::kSkip;
    if (size == 0) {
        FeedCommand(nullptr, nullptr);
    }
}

void CommandDecoder::BeginParts(int count, size_t headerSize) {
    m_partsLeft = count;
    m_partHeaderSize = headerSize;
    BeginSkip(0);
}

void CommandDecoder::PartHeaderDone() {
    --m_partsLeft;
    const uint8_t* d = m_data.data();
    if (m_head[1] == '&') {
        return BeginSkip(uint64_t{m_head[2]} * d[0]);
    }
    const uint64_t image = uint64_t(Word(d)) * uint64_t(Word(d + 2)) * 8;
    if (image > kMaxGraphicsData) {
        return BeginSkip(image);
    }
    m_imageWidth = Word(d) * 8;
    m_imageHeight = Word(d + 2) * 8;
    m_commandBytes += image;
    BeginPayload(Payload::kNvImage, image);
}

bool CommandDecoder::DropHeld() {
    if (m_state != State::kPayload || m_data.empty()) {
        return false;
    }
    const size_t held = m_data.size();
    if (m_partHeaderSize == 0) {
        m_commandBytes = m_headSize + held;
    } else {
        m_commandBytes -= m_expected - held;  // a part's image was counted when it began
    }
    m_skipLeft = m_expected - held;
    m_state = State::kSkip;
    std::vector<uint8_t>().swap(m_data);
    return true;
}

void CommandDecoder::EndCommand() {
    m_state = State::kText;
    m_headSize = 0;
    m_partsLeft = 0;
    m_partHeaderSize = 0;
    // A large command's buffer is not kept for the next one.
    if (m_data.capacity() > 65536) {
        std::vector<uint8_t>().swap(m_data);
    }
    m_data.clear();
}

void CommandDecoder::Emit(const Command& command) {
    m_sink.OnCommand(command);
}

void CommandDecoder::EmitSimple(CommandBody body) {
    Emit({std::move(body), {m_head.data(), m_headSize}, {}});
}

void CommandDecoder::EmitSkipped(int64_t bytes) {
    const bool three = m_headSize > 2 && (m_head[1] == '(' || m_head[1] == '8');
    EmitSimple(Skipped{bytes, three});
}

void CommandDecoder::EmitFrame(ConfigFrame::Kind kind, const uint8_t* h, size_t size) {
    ConfigFrame f{kind};
    std::copy(h + 2, h + 2 + size, f.value.begin());
    for (size_t i = 0; i < size; ++i) {
        f.expected = static_cast<uint8_t>(f.expected + h[2 + i]);
    }
    f.checksum = h[2 + size];
    f.checksumOk = f.checksum == f.expected;
    EmitSimple(f);
}

}  // namespace vorpane::escpos
