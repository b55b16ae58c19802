#include "emulator/command_decoder.h"

#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <string_view>

namespace vorpane {
namespace {

constexpr uint8_t kDle = 0x10;
constexpr uint8_t kEot = 0x04;
constexpr uint8_t kEsc = 0x1B;
constexpr uint8_t kFs = 0x1C;
constexpr uint8_t kGs = 0x1D;
constexpr uint8_t kLf = 0x0A;
constexpr uint8_t kCr = 0x0D;
constexpr uint8_t kHt = 0x09;

const iconv_t kNoIconv = reinterpret_cast<iconv_t>(-1);

bool IsPrefix(uint8_t b) {
    return b == kEsc || b == kGs || b == kFs || b == kDle;
}

// Commands of fixed length, by prefix and second byte. A variable-length
// one (barcodes, images) is shown as an unknown pair and its arguments as
// they come.
struct CommandShape {
    uint8_t prefix;
    std::string_view codes;
    size_t length;
};
constexpr CommandShape kShapes[] = {
    {kEsc, "@mi2<SL", 2},    {kEsc, "!EG-adJtMRV{r3 eUT=", 3},
    {kEsc, "$\\", 4},        {kEsc, "p", 5},
    {kGs, "!BHfhwraIbV", 3}, {kGs, "LW$\\P", 4},
    {kGs, "D", 7},           {kGs, "E", 9},
    {kFs, "&.", 2},          {kFs, "!-C", 3},
    {kDle, "\x04\x05", 3},   {kDle, "\x14", 5},
};

// Full length of a command from its first two bytes, 0 when unknown.
size_t CommandLength(uint8_t prefix, uint8_t code) {
    for (const CommandShape& shape : kShapes) {
        if (shape.prefix == prefix &&
            shape.codes.find(static_cast<char>(code)) != std::string_view::npos) {
            return shape.length;
        }
    }
    return 0;
}

void AppendEscapedByte(std::string& out, uint8_t b) {
    char buf[5];
    std::snprintf(buf, sizeof buf, "\\x%02X", b);
    out += buf;
}

// Decoded UTF-8 is safe to copy except for control characters, which would
// break the one-item-a-line journal.
void AppendVisible(std::string& out, const char* data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        const auto b = static_cast<uint8_t>(data[i]);
        if (b < 0x20 || b == 0x7F) {
            AppendEscapedByte(out, b);
        } else {
            out += static_cast<char>(b);
        }
    }
}

// Converts text from GB18030, escaping invalid bytes. Unless final, an
// incomplete sequence at the end is left unconverted; returns the bytes used.
size_t ConvertGb18030(iconv_t cd, const std::string& in, bool final, std::string& out) {
    if (cd == kNoIconv) {
        for (char c : in) {
            const auto b = static_cast<uint8_t>(c);
            if (b >= 0x80) {
                AppendEscapedByte(out, b);
            } else {
                AppendVisible(out, &c, 1);
            }
        }
        return in.size();
    }
    char* inp = const_cast<char*>(in.data());
    size_t inLeft = in.size();
    char buf[1024];
    while (inLeft > 0) {
        char* outp = buf;
        size_t outLeft = sizeof buf;
        const size_t rc = ::iconv(cd, &inp, &inLeft, &outp, &outLeft);
        AppendVisible(out, buf, static_cast<size_t>(outp - buf));
        if (rc != static_cast<size_t>(-1)) {
            break;
        }
        if (errno == E2BIG) {
            continue;
        }
        if (errno == EINVAL && !final) {
            break;
        }
        // Not GB18030 (or cut off for good): show the byte and go on after it.
        AppendEscapedByte(out, static_cast<uint8_t>(*inp));
        ++inp;
        --inLeft;
        ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    return in.size() - inLeft;
}

std::string DottedQuad(const uint8_t* b) {
    return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." +
           std::to_string(b[3]);
}

std::string MacText(const uint8_t* b) {
    char buf[18];
    std::snprintf(buf, sizeof buf, "%02X-%02X-%02X-%02X-%02X-%02X", b[0], b[1], b[2], b[3], b[4],
                  b[5]);
    return buf;
}

std::string HexByte(uint8_t b) {
    char buf[3];
    std::snprintf(buf, sizeof buf, "%02X", b);
    return buf;
}

uint8_t Sum(const uint8_t* data, size_t size) {
    unsigned sum = 0;
    for (size_t i = 0; i < size; ++i) {
        sum += data[i];
    }
    return static_cast<uint8_t>(sum);
}

}  // namespace

std::string HexBytes(const uint8_t* data, size_t size) {
    std::string out;
    out.reserve(size * 3);
    for (size_t i = 0; i < size; ++i) {
        if (i > 0) {
            out += ' ';
        }
        out += HexByte(data[i]);
    }
    return out;
}

CommandDecoder::CommandDecoder(CommandDecoderEvents& events, bool journal)
    : m_events(events),
      m_journal(journal),
      m_iconv(journal ? ::iconv_open("UTF-8", "GB18030") : kNoIconv) {
    m_command.reserve(16);
}

CommandDecoder::~CommandDecoder() {
    if (static_cast<iconv_t>(m_iconv) != kNoIconv) {
        ::iconv_close(static_cast<iconv_t>(m_iconv));
    }
}

void CommandDecoder::Feed(const uint8_t* data, size_t size) {
    size_t i = 0;
    while (i < size) {
        if (!m_journal && m_command.empty()) {
            // Nothing reads the text: only commands matter, so skip to one.
            while (i < size && !IsPrefix(data[i])) {
                ++i;
            }
            if (i == size) {
                break;
            }
        }
        FeedByte(data[i]);
        ++i;
    }
}

void CommandDecoder::Finish() {
    if (!m_command.empty()) {
        Emit("truncated: " + HexBytes(m_command.data(), m_command.size()));
        m_command.clear();
        m_commandLength = 0;
    }
    FlushText(true);
    FlushHexRun();
}

void CommandDecoder::FeedByte(uint8_t b) {
    if (!m_command.empty()) {
        m_command.push_back(b);
        if (m_command.size() == 2) {
            m_commandLength = CommandLength(m_command[0], b);
            if (m_commandLength == 0) {
                Emit("hex: " + HexBytes(m_command.data(), m_command.size()));
                m_command.clear();
                return;
            }
        } else if (m_command.size() == 3 && m_command[0] == kGs && m_command[1] == 'V' &&
                   (b == 65 || b == 66)) {
            m_commandLength = 4;  // cut after feeding: one more argument
        }
        if (m_command.size() >= m_commandLength) {
            CommandComplete();
        }
        return;
    }
    if (IsPrefix(b)) {
        FlushText(true);
        FlushHexRun();
        m_command.push_back(b);
        m_commandLength = 0;
        return;
    }
    if (b == kLf) {
        FlushHexRun();
        if (m_journal) {
            std::string line = "text: ";
            ConvertGb18030(static_cast<iconv_t>(m_iconv), m_text, true, line);
            m_text.clear();
            Emit(std::move(line));
        }
        return;
    }
    if (b == kCr) {
        return;
    }
    if (b >= 0x20 || b == kHt) {
        FlushHexRun();
        if (m_journal) {
            m_text += static_cast<char>(b);
            if (m_text.size() >= kMaxTextLineBytes) {
                FlushText(false);
            }
        }
        return;
    }
    FlushText(true);
    AddHexRunByte(b);
}

void CommandDecoder::CommandComplete() {
    const uint8_t* c = m_command.data();
    const std::string hex = HexBytes(c, m_command.size());
    if (c[0] == kEsc && c[1] == '@') {
        Emit("ESC @ initialise");
    } else if (c[0] == kEsc && c[1] == 'm') {
        Emit("ESC m partial cut");
    } else if (c[0] == kEsc && c[1] == 'p') {
        const int pin = (c[2] == 0 || c[2] == '0') ? 2 : (c[2] == 1 || c[2] == '1') ? 5 : 0;
        if (pin == 0) {
            Emit("hex: " + hex);
        } else {
            Emit("ESC p drawer pin " + std::to_string(pin) + " on " + std::to_string(c[3] * 2) +
                 " ms off " + std::to_string(c[4] * 2) + " ms");
        }
    } else if (c[0] == kGs && c[1] == 'D') {
        const uint8_t expected = Sum(c + 2, 4);
        if (c[6] == expected) {
            Emit("GS D new address " + DottedQuad(c + 2) + " (checksum ok, pending until restart)");
            m_events.OnNewAddress({c[2], c[3], c[4], c[5]});
        } else {
            Emit("GS D rejected: bad checksum " + HexByte(c[6]) + " (expected " +
                 HexByte(expected) + ") for " + DottedQuad(c + 2));
        }
    } else if (c[0] == kGs && c[1] == 'E') {
        const uint8_t expected = Sum(c + 2, 6);
        if (c[8] == expected) {
            Emit("GS E new MAC " + MacText(c + 2) + " (checksum ok, pending until restart)");
            m_events.OnNewMac({c[2], c[3], c[4], c[5], c[6], c[7]});
        } else {
            Emit("GS E rejected: bad checksum " + HexByte(c[8]) + " (expected " +
                 HexByte(expected) + ") for " + MacText(c + 2));
        }
    } else if (c[0] == kDle && c[1] == kEot && c[2] >= 1 && c[2] <= 4) {
        m_events.OnStatusRequest(c[2]);
    } else {
        Emit("hex: " + hex);
    }
    m_command.clear();
    m_commandLength = 0;
}

void CommandDecoder::FlushText(bool final) {
    if (m_text.empty()) {
        return;
    }
    std::string line = "text: ";
    const size_t used = ConvertGb18030(static_cast<iconv_t>(m_iconv), m_text, final, line);
    m_text.erase(0, used);
    Emit(std::move(line));
}

void CommandDecoder::AddHexRunByte(uint8_t b) {
    if (!m_journal) {
        return;
    }
    m_hexRun.push_back(b);
    if (m_hexRun.size() >= kMaxHexRunBytes) {
        FlushHexRun();
    }
}

void CommandDecoder::FlushHexRun() {
    if (m_hexRun.empty()) {
        return;
    }
    Emit("hex: " + HexBytes(m_hexRun.data(), m_hexRun.size()));
    m_hexRun.clear();
}

void CommandDecoder::Emit(std::string line) {
    if (m_journal) {
        m_events.OnJournalLine(std::move(line));
    }
}

}  // namespace vorpane
