#include "emulator/escpos/command_decoder.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "emulator/escpos/text_codec.h"

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

bool IsPrefix(uint8_t b) {
    return b == kEsc || b == kGs || b == kFs || b == kDle;
}

bool OneOf(uint8_t b, std::string_view set) {
    return set.find(static_cast<char>(b)) != std::string_view::npos;
}

// Length of the fixed part of the command whose first n >= 2 bytes are h.
// While the bytes so far do not tell, it asks for one more; 0 means the
// printer does not know the command.
size_t HeaderLength(const uint8_t* h, size_t n) {
    const uint8_t code = h[1];
    const auto third = [&](auto decide) -> size_t { return n < 3 ? 3 : decide(h[2]); };
    switch (h[0]) {
        case kEsc:
            if (OneOf(code, std::string_view("@<2imLSvD\x0C", 10))) {
                return 2;
            }
            if (OneOf(code, " !%-3=?EGJMRTUVadertu{")) {
                return 3;
            }
            if (OneOf(code, "$\\cB")) {
                return 4;
            }
            if (OneOf(code, "p*&(")) {
                return 5;
            }
            return code == 'W' ? 10 : 0;
        case kGs:
            if (OneOf(code, "!BHITabfhjrw/Z")) {
                return 3;
            }
            if (OneOf(code, "LW$\\P*")) {
                return 4;
            }
            switch (code) {
                case ':':
                    return 2;
                case '^':
                case '(':
                    return 5;
                case 'D':
                    return 7;
                case 'E':
                    return 9;
                case 'V':
                    return third([](uint8_t m) { return OneOf(m, "ABabgh") ? 4 : 3; });
                case 'v':
                    return third([](uint8_t m) { return m == '0' ? 8 : 0; });
                case 'k':
                    return third([](uint8_t m) { return m <= 6 ? 3 : m >= 65 && m <= 79 ? 4 : 0; });
                case '8':
                    return third([](uint8_t m) { return m == 'L' ? 7 : 0; });
                case 'g':
                    return third([](uint8_t m) { return m == '0' || m == '2' ? 6 : 0; });
                case 'C':
                    return third([](uint8_t m) {
                        return m == '0' || m == '2' ? 5 : m == '1' ? 9 : 0;
                    });
            }
            return 0;
        case kFs:
            if (OneOf(code, "&.")) {
                return 2;
            }
            if (OneOf(code, "!-CWq")) {
                return 3;
            }
            if (OneOf(code, "Sp2")) {
                return 4;
            }
            if (code == '(') {
                return 5;
            }
            return code == 'g' ? third([](uint8_t m) { return m == '1' || m == '2' ? 10 : 0; }) : 0;
        case kDle:
            if (code == kEot || code == kEnq) {
                return 3;
            }
            if (code == kDc4) {
                return third([](uint8_t fn) -> size_t {
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
                });
            }
            return 0;
    }
    return 0;
}

// Names of the fixed-length commands that change nothing drawn here.
struct NamedCommand {
    uint8_t prefix;
    uint8_t code;
    const char* name;
};
constexpr NamedCommand kNames[] = {
    {kEsc, '<', "return home"},
    {kEsc, 'L', "page mode"},
    {kEsc, 'S', "standard mode"},
    {kEsc, 'v', "paper sensor status request"},
    {kEsc, 0x0C, "print page"},
    {kEsc, '%', "user-defined characters"},
    {kEsc, '=', "peripheral device"},
    {kEsc, '?', "cancel user-defined character"},
    {kEsc, 'T', "page direction"},
    {kEsc, 'U', "unidirectional printing"},
    {kEsc, 'V', "90 degree rotation"},
    {kEsc, 'e', "reverse feed lines"},
    {kEsc, 'r', "print colour"},
    {kEsc, 'u', "peripheral status request"},
    {kEsc, '{', "upside-down printing"},
    {kEsc, 'c', "paper sensors and panel buttons"},
    {kEsc, 'B', "beeper"},
    {kEsc, 'W', "page mode area"},
    {kGs, 'I', "printer ID request"},
    {kGs, 'T', "print position to line start"},
    {kGs, 'a', "automatic status back"},
    {kGs, 'b', "smoothing"},
    {kGs, 'j', "automatic ink status back"},
    {kGs, 'r', "status request"},
    {kGs, '/', "print downloaded image"},
    {kGs, 'Z', "2D symbol type"},
    {kGs, '$', "page mode vertical position"},
    {kGs, '\\', "page mode vertical move"},
    {kGs, 'P', "motion units"},
    {kGs, ':', "macro definition"},
    {kGs, '^', "run macro"},
    {kGs, 'g', "maintenance counter"},
    {kGs, 'C', "counter"},
    {kFs, 'C', "Chinese code system"},
    {kFs, 'W', "Chinese quadruple size"},
    {kFs, 'S', "Chinese character spacing"},
    {kFs, 'p', "print NV image"},
    {kFs, 'g', "NV user memory"},
    {kDle, kEnq, "real-time request"},
    {kDle, kDc4, "real-time command"},
};

const char* NameOf(uint8_t prefix, uint8_t code) {
    for (const NamedCommand& n : kNames) {
        if (n.prefix == prefix && n.code == code) {
            return n.name;
        }
    }
    return nullptr;
}

// Styles take 0/1/2 or '0'/'1'/'2'.
int Digit(uint8_t n) {
    return n >= '0' ? n - '0' : n;
}

int Underline(uint8_t n) {
    const int d = Digit(n);
    return d >= 0 && d <= 2 ? d : 0;
}

int64_t Word(const uint8_t* p) {
    return p[0] | p[1] << 8;
}

}  // namespace

CommandDecoder::CommandDecoder(CommandSink& sink, bool text) : m_sink(sink), m_text(text) {}

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
    Command c{Op::kTruncated};
    c.head = {m_head.data(), m_headSize};
    c.a = -1;
    c.b = -1;
    switch (m_state) {
        case State::kPayload:
        case State::kTabStops:
        case State::kUntilNul:
            c.a = static_cast<int64_t>(m_data.size());
            c.b = m_state == State::kPayload ? static_cast<int64_t>(m_expected) : -1;
            break;
        case State::kRows: {
            const int64_t rows = Word(m_head.data() + 6);
            c.a = (rows - m_rowsLeft) * static_cast<int64_t>(m_expected) +
                  static_cast<int64_t>(m_data.size());
            c.b = rows * static_cast<int64_t>(m_expected);
            break;
        }
        case State::kSkip:
        case State::kPartHeader:
            c.a = static_cast<int64_t>(m_commandBytes - m_headSize);
            c.b = m_partHeaderSize == 0
                      ? static_cast<int64_t>(m_commandBytes - m_headSize + m_skipLeft)
                      : -1;
            break;
        default:
            break;
    }
    Emit(c);
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
        EmitSimple(Op::kLineFeed);
    } else if (b == kCr) {
        EmitSimple(Op::kCarriageReturn);
    } else if (b == kHt) {
        EmitSimple(Op::kTab);
    } else {
        Command c{Op::kControl};
        c.data = {q - 1, 1};
        Emit(c);
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
    Command c{Op::kText};
    c.data = {p, n};
    c.mode = m_mode;
    Emit(c);
}

const uint8_t* CommandDecoder::FeedCommand(const uint8_t* p, const uint8_t* end) {
    switch (m_state) {
        case State::kHeader: {
            m_head[m_headSize++] = *p++;
            const size_t need = HeaderLength(m_head.data(), m_headSize);
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
                    Command c{Op::kSkipped};
                    c.head = {m_head.data(), m_headSize};
                    c.a = static_cast<int64_t>(m_commandBytes);
                    Emit(c);
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
            Command c{Op::kTabStops};
            c.head = {m_head.data(), m_headSize};
            c.data = m_data;
            Emit(c);
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

void CommandDecoder::Dispatch() {
    const uint8_t* h = m_head.data();
    const uint8_t n = m_headSize > 2 ? h[2] : 0;
    switch (h[0] << 8 | h[1]) {
        case kEsc << 8 | '@':
            m_mode = {};
            return EmitSimple(Op::kInitialise);
        case kEsc << 8 | '!':
            return EmitSimple(Op::kPrintMode, n);
        case kEsc << 8 | 'M':
            return EmitSimple(Op::kFont, Digit(n) <= 2 ? Digit(n) : 0);
        case kEsc << 8 | 'E':
            return EmitSimple(Op::kBold, n & 1);
        case kEsc << 8 | 'G':
            return EmitSimple(Op::kDoubleStrike, n & 1);
        case kEsc << 8 | '-':
            return EmitSimple(Op::kUnderline, Underline(n));
        case kEsc << 8 | 'a':
            return EmitSimple(Op::kAlign, Digit(n) <= 2 ? Digit(n) : 0);
        case kEsc << 8 | ' ':
            return EmitSimple(Op::kRightSpacing, n);
        case kEsc << 8 | '2':
            return EmitSimple(Op::kDefaultLineSpacing);
        case kEsc << 8 | '3':
            return EmitSimple(Op::kLineSpacing, n);
        case kEsc << 8 | 'd':
            return EmitSimple(Op::kFeedLines, n);
        case kEsc << 8 | 'J':
            return EmitSimple(Op::kFeedDots, n);
        case kEsc << 8 | '$':
            return EmitSimple(Op::kAbsolutePosition, Word(h + 2));
        case kEsc << 8 | '\\':
            return EmitSimple(Op::kRelativePosition, static_cast<int16_t>(Word(h + 2)));
        case kEsc << 8 | 't':
            m_mode.codePage = n;
            return EmitSimple(Op::kCodePage, n);
        case kEsc << 8 | 'R':
            m_mode.charset = n;
            return EmitSimple(Op::kCharacterSet, n);
        case kEsc << 8 | 'i':
        case kEsc << 8 | 'm':
            return EmitSimple(Op::kCut, 1, 0, -1);
        case kEsc << 8 | 'p': {
            const int pin = Digit(n) == 0 ? 2 : Digit(n) == 1 ? 5 : 0;
            if (pin != 0) {
                return EmitSimple(Op::kDrawer, pin, h[3] * 2, h[4] * 2);
            }
            break;
        }
        case kEsc << 8 | '*':
            return BeginPayload(Payload::kColumnImage, Word(h + 3) * (n & 0x20 ? 3 : 1));
        case kEsc << 8 | 'D':
            m_data.clear();
            m_state = State::kTabStops;
            return;
        case kEsc << 8 | '&':
            // y c1 c2, then for each character c1..c2: its width x and y * x bytes.
            return BeginParts(h[3] >= 32 && h[4] <= 126 && h[3] <= h[4] ? h[4] - h[3] + 1 : 0, 1);
        case kEsc << 8 | '(':
        case kFs << 8 | '(':
            return BeginSkip(Word(h + 3));
        case kGs << 8 | '(':
            if (h[2] == 'k') {
                return BeginPayload(Payload::kSymbol, Word(h + 3));
            }
            return BeginSkip(Word(h + 3));
        case kGs << 8 | '!':
            return EmitSimple(Op::kCharacterSize, std::min(n >> 4, 7) + 1, std::min(n & 15, 7) + 1);
        case kGs << 8 | 'B':
            return EmitSimple(Op::kReverse, n & 1);
        case kGs << 8 | 'L':
            return EmitSimple(Op::kLeftMargin, Word(h + 2));
        case kGs << 8 | 'W':
            return EmitSimple(Op::kPrintWidth, Word(h + 2));
        case kGs << 8 | 'h':
            return EmitSimple(Op::kBarcodeHeight, n);
        case kGs << 8 | 'w':
            return EmitSimple(Op::kBarcodeWidth, n);
        case kGs << 8 | 'H':
            return EmitSimple(Op::kHriPosition, Digit(n) & 3);
        case kGs << 8 | 'f':
            return EmitSimple(Op::kHriFont, Digit(n) & 1);
        case kGs << 8 | 'V': {
            // m: 0/48 full, 1/49 partial; 65/66 feed n first; 97/98 feed to the
            // cutter plus n; 103/104 feed n (the last three take n).
            const bool feed = m_headSize == 4;
            if (feed || Digit(n) <= 1) {
                const bool partial = feed ? (n & 1) == 0 : Digit(n) == 1;
                return EmitSimple(Op::kCut, partial ? 1 : 0, feed ? h[3] : 0, n);
            }
            break;
        }
        case kGs << 8 | 'v':
            m_rowsLeft = Word(h + 6);
            EmitSimple(Op::kRasterImage, Word(h + 4), m_rowsLeft, Digit(h[3]) & 3);
            if (Word(h + 4) > 0 && m_rowsLeft > 0) {
                BeginPayload(Payload::kRow, Word(h + 4));
            }
            return;
        case kGs << 8 | 'k':
            if (m_headSize == 3) {
                m_payload = Payload::kBarcode;
                m_data.clear();
                m_state = State::kUntilNul;
                return;
            }
            return BeginPayload(Payload::kBarcode, h[3]);
        case kGs << 8 | '8':
            return BeginSkip(uint64_t{h[3]} | uint64_t{h[4]} << 8 | uint64_t{h[5]} << 16 |
                             uint64_t{h[6]} << 24);
        case kGs << 8 | '*':
            return BeginSkip(uint64_t{h[2]} * h[3] * 8);
        case kGs << 8 | 'D':
            return EmitSimple(Op::kAddressFrame);
        case kGs << 8 | 'E':
            return EmitSimple(Op::kMacFrame);
        case kFs << 8 | '&':
        case kFs << 8 | '.':
            m_mode.chinese = h[1] == '&';
            return EmitSimple(Op::kChineseMode, m_mode.chinese ? 1 : 0);
        case kFs << 8 | '!':
            return EmitSimple(Op::kChinesePrintMode, n);
        case kFs << 8 | '-':
            return EmitSimple(Op::kChineseUnderline, Underline(n));
        case kFs << 8 | '2':
            return BeginSkip(72);  // one 24 x 24 character
        case kFs << 8 | 'q':
            // n images, each xL xH yL yH and x * y * 8 bytes.
            return BeginParts(n, 4);
        case kFs << 8 | 'g':
            if (n == '1') {
                return BeginSkip(Word(h + 8));
            }
            return EmitNamed();
        case kDle << 8 | kEot:
            if (n >= 1 && n <= 4) {
                return EmitSimple(Op::kStatusRequest, n);
            }
            break;
        case kDle << 8 | kDc4:
            if (n == 1 && h[3] <= 1 && h[4] >= 1 && h[4] <= 8) {
                return EmitSimple(Op::kDrawer, h[3] == 0 ? 2 : 5, h[4] * 100, h[4] * 100);
            }
            return EmitNamed();
        default:
            return EmitNamed();
    }
    EmitUnknown();
}

void CommandDecoder::EmitNamed() {
    const char* name = NameOf(m_head[0], m_head[1]);
    if (name == nullptr) {
        return EmitUnknown();
    }
    Command c{Op::kNamed};
    c.head = {m_head.data(), m_headSize};
    c.name = name;
    Emit(c);
}

void CommandDecoder::EmitUnknown() {
    Command c{Op::kUnknown};
    c.head = {m_head.data(), m_headSize};
    Emit(c);
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
    Command c;
    c.head = {m_head.data(), m_headSize};
    c.data = {data, size};
    switch (m_payload) {
        case Payload::kRow:
            c.op = Op::kRasterRow;
            Emit(c);
            m_data.clear();
            if (--m_rowsLeft > 0) {
                return;
            }
            return EndCommand();
        case Payload::kColumnImage:
            c.op = Op::kColumnImage;
            c.a = m_head[2];
            c.b = Word(m_head.data() + 3);
            break;
        case Payload::kBarcode:
            c.op = Op::kBarcode;
            c.a = m_head[2] < 65 ? m_head[2] + 65 : m_head[2];
            break;
        case Payload::kSymbol:
            if (size < 2) {
                c.op = Op::kSkipped;
                c.a = static_cast<int64_t>(m_headSize + size);
                break;
            }
            c.op = Op::kSymbol;
            c.a = data[0];
            c.b = data[1];
            c.data = {data + 2, size - 2};
            break;
    }
    Emit(c);
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
    BeginSkip(m_head[1] == '&' ? uint64_t{m_head[2]} * d[0]
                               : uint64_t(Word(d)) * uint64_t(Word(d + 2)) * 8);
}

void CommandDecoder::EndCommand() {
    m_state = State::kText;
    m_headSize = 0;
    m_partsLeft = 0;
    m_partHeaderSize = 0;
    m_data.clear();
}

void CommandDecoder::Emit(Command command) {
    m_sink.OnCommand(command);
}

void CommandDecoder::EmitSimple(Op op, int64_t a, int64_t b, int64_t c) {
    Command command{op};
    command.head = {m_head.data(), m_headSize};
    command.a = a;
    command.b = b;
    command.c = c;
    Emit(command);
}

}  // namespace vorpane::escpos
