#include "escpos/text_codec.h"

#include <algorithm>
#include <array>
#include <map>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "escpos/system_codec.h"

namespace vorpane::escpos {
namespace {

constexpr std::u32string_view kPc437Upper =
    U"ÇüéâäàåçêëèïîìÄÅÉæÆôöòûùÿÖÜ¢£¥₧ƒáíóúñÑªº¿⌐¬½¼¡«»░▒▓│┤╡╢╖╕╣║╗╝╜╛┐"
    U"└┴┬├─┼╞╟╚╔╩╦╠═╬╧╨╤╥╙╘╒╓╫╪┘┌█▄▌▐▀αßΓπΣσµτΦΘΩδ∞φε∩≡±≥≤⌠⌡÷≈°∙·√ⁿ²■\u00A0";
static_assert(kPc437Upper.size() == 128);

// ESC R: the twelve ASCII positions each international set replaces.
constexpr std::string_view kVariantPositions = "#$@[\\]^`{|}~";
struct CharacterSetTable {
    const char* name;
    std::u32string_view glyphs;
};
constexpr CharacterSetTable kCharacterSets[] = {
    {"USA", U"#$@[\\]^`{|}~"},
    {"France", U"#$à°ç§^`éùè¨"},
    {"Germany", U"#$§ÄÖÜ^`äöüß"},
    {"UK", U"£$@[\\]^`{|}~"},
    {"Denmark I", U"#$@ÆØÅ^`æøå~"},
    {"Sweden", U"#¤ÉÄÖÅÜéäöåü"},
    {"Italy", U"#$@°\\é^ùàòèì"},
    {"Spain I", U"₧$@¡Ñ¿^`¨ñ}~"},
    {"Japan", U"#$@[¥]^`{|}~"},
    {"Norway", U"#¤ÉÆØÅÜéæøåü"},
    {"Denmark II", U"#$ÉÆØÅÜéæøåü"},
    {"Spain II", U"#$á¡Ñ¿é`íñóú"},
    {"Latin America", U"#$á¡Ñ¿éüíñóú"},
    {"Korea", U"#$@[₩]^`{|}~"},
    {"Slovenia/Croatia", U"#$ŽŠĐĆČžšđćč"},
    {"China", U"#¥@[\\]^`{|}~"},
};
constexpr bool AllTwelve() {
    for (const auto& set : kCharacterSets) {
        if (set.glyphs.size() != kVariantPositions.size()) {
            return false;
        }
    }
    return true;
}
static_assert(AllTwelve());

// Katakana (page 1): block and box-drawing pieces at 0x80..0x9F, half-width
// katakana at 0xA1..0xDF, then more rules, card suits and a few kanji.
constexpr std::u32string_view kKatakanaUpper =
    U"▁▂▃▄▅▆▇█▏▎▍▌▋▊▉┼┴┬┤├▔─│▕┌┐└┘╭╮╰╯"
    U"\u00A0｡｢｣､･ｦｧｨｩｪｫｬｭｮｯｰｱｲｳｴｵｶｷｸｹｺｻｼｽｾｿﾀﾁﾂﾃﾄﾅﾆﾇﾈﾉﾊﾋﾌﾍﾎﾏﾐﾑﾒﾓﾔﾕﾖﾗﾘﾙﾚﾛﾜﾝﾞﾟ"
    U"═╞╪╡◢◣◥◤♠♥♦♣●○╱╲╳円年月日時分秒〒市区町村人▓\u00A0";
static_assert(kKatakanaUpper.size() == 128);

// ESC t pages: the two drawn from our own tables, and those the system
// converts for us (charset as iconv names it).
struct CodePageEntry {
    int page;
    const char* name;
    const char* charset;
    std::u32string_view table = {};
};
constexpr CodePageEntry kCodePages[] = {
    {0, "PC437", nullptr, kPc437Upper},
    {1, "Katakana", nullptr, kKatakanaUpper},
    {2, "PC850", "CP850"},
    {3, "PC860", "CP860"},
    {4, "PC863", "CP863"},
    {5, "PC865", "CP865"},
    {11, "PC851", "CP851"},
    {13, "PC857", "CP857"},
    {14, "PC737", "CP737"},
    {15, "ISO8859-7", "ISO-8859-7"},
    {16, "WPC1252", "CP1252"},
    {17, "PC866", "CP866"},
    {18, "PC852", "CP852"},
    {19, "PC858", "CP858"},
    {33, "WPC775", "CP775"},
    {34, "PC855", "CP855"},
    {35, "PC861", "CP861"},
    {36, "PC862", "CP862"},
    {37, "PC864", "CP864"},
    {38, "PC869", "CP869"},
    {39, "ISO8859-2", "ISO-8859-2"},
    {40, "ISO8859-15", "ISO-8859-15"},
    {44, "PC1125", "CP1125"},
    {45, "WPC1250", "CP1250"},
    {46, "WPC1251", "CP1251"},
    {47, "WPC1253", "CP1253"},
    {48, "WPC1254", "CP1254"},
    {49, "WPC1255", "CP1255"},
    {50, "WPC1256", "CP1256"},
    {51, "WPC1257", "CP1257"},
    {52, "WPC1258", "CP1258"},
    {53, "KZ-1048", "RK1048"},
};

const CodePageEntry* FindCodePage(int page) {
    for (const CodePageEntry& p : kCodePages) {
        if (p.page == page) {
            return &p;
        }
    }
    return nullptr;
}

// The upper half of a page, or empty when neither we nor the system have it.
std::optional<std::array<char32_t, 128>> LoadUpperHalf(int page) {
    const CodePageEntry* known = FindCodePage(page);
    if (known == nullptr) {
        return std::nullopt;
    }
    std::array<char32_t, 128> table;
    if (!known->table.empty()) {
        std::copy(known->table.begin(), known->table.end(), table.begin());
        return table;
    }
    const auto codec = SystemCodec::Open(known->charset);
    if (!codec) {
        return std::nullopt;
    }
    for (int i = 0; i < 128; ++i) {
        const uint8_t byte = static_cast<uint8_t>(0x80 + i);
        char32_t code = 0;
        table[i] = codec->Decode(&byte, 1, code) ? code : U'?';
    }
    return table;
}

// Each page's upper half, loaded once per process; pages we cannot read
// are drawn as PC437.
const std::array<char32_t, 128>* UpperHalfOf(int page) {
    static std::mutex mutex;
    static std::map<int, std::optional<std::array<char32_t, 128>>> tables;
    std::lock_guard lock(mutex);
    auto it = tables.find(page);
    if (it == tables.end()) {
        it = tables.emplace(page, LoadUpperHalf(page)).first;
    }
    return it->second ? &*it->second : nullptr;
}

// Two-byte GB18030: lead 0x81..0xFE, trail 0x40..0x7E or 0x80..0xFE.
constexpr int kGbLeads = 126;
constexpr int kGbTrails = 190;

int GbTrailIndex(uint8_t b) {
    return b < 0x7F ? b - 0x40 : b - 0x41;
}

const std::vector<char32_t>& GbTwoByteTable() {
    static const std::vector<char32_t> table = [] {
        std::vector<char32_t> t(kGbLeads * kGbTrails, 0);
        const auto codec = SystemCodec::Open("GB18030");
        if (!codec) {
            return t;
        }
        for (int lead = 0x81; lead <= 0xFE; ++lead) {
            for (int trail = 0x40; trail <= 0xFE; ++trail) {
                if (trail == 0x7F) {
                    continue;
                }
                const uint8_t bytes[2] = {uint8_t(lead), uint8_t(trail)};
                char32_t code = 0;
                if (codec->Decode(bytes, 2, code)) {
                    t[(lead - 0x81) * kGbTrails + GbTrailIndex(bytes[1])] = code;
                }
            }
        }
        return t;
    }();
    return table;
}

bool IsDigit(uint8_t b) {
    return b >= 0x30 && b <= 0x39;
}
bool IsLead(uint8_t b) {
    return b >= 0x81 && b <= 0xFE;
}

}  // namespace

size_t GbCharLength(const uint8_t* p, size_t n) {
    if (!IsLead(p[0])) {
        return 1;
    }
    if (n < 2) {
        return 0;
    }
    if (IsDigit(p[1])) {
        if (n < 3) {
            return 0;
        }
        if (!IsLead(p[2])) {
            return 1;
        }
        if (n < 4) {
            return 0;
        }
        return IsDigit(p[3]) ? 4 : 1;
    }
    return (p[1] >= 0x40 && p[1] != 0x7F && p[1] != 0xFF) ? 2 : 1;
}

TextDecoder::TextDecoder() = default;
TextDecoder::~TextDecoder() = default;

Character TextDecoder::Next(const uint8_t* p, size_t n, const TextMode& mode) {
    const uint8_t b = p[0];
    if (b < 0x80) {
        const size_t at = kVariantPositions.find(static_cast<char>(b));
        if (at != std::string_view::npos && mode.charset != 0 &&
            mode.charset < std::size(kCharacterSets)) {
            return {kCharacterSets[mode.charset].glyphs[at]};
        }
        return {b};
    }
    if (!mode.chinese) {
        return {UpperHalf(mode.codePage)[b - 0x80]};
    }
    // A sequence of the right form that maps to nothing is one bad character
    // of its full length, so characters end where GbCharLength says.
    const size_t length = GbCharLength(p, n);
    const Character bad{b, static_cast<uint8_t>(std::max<size_t>(length, 1)), length > 1, false};
    if (length == 2) {
        const char32_t code = GbTwoByteTable()[(b - 0x81) * kGbTrails + GbTrailIndex(p[1])];
        return code == 0 ? bad : Character{code, 2, true, true};
    }
    if (length != 4) {
        return bad;
    }
    // Four-byte sequences from 90 30 81 30 on count the planes above the BMP
    // in order; those below map the rest of the BMP through the system table.
    const uint32_t linear =
        ((p[0] - 0x81) * 10 + (p[1] - 0x30)) * 1260 + (p[2] - 0x81) * 10 + (p[3] - 0x30);
    constexpr uint32_t kFirstSupplementary = (0x90 - 0x81) * 10 * 1260;
    if (linear >= kFirstSupplementary) {
        const uint32_t code = 0x10000 + linear - kFirstSupplementary;
        return code <= 0x10FFFF ? Character{code, 4, true, true} : bad;
    }
    if (!m_gb18030) {
        m_gb18030 = SystemCodec::Open("GB18030");
    }
    char32_t code = 0;
    if (m_gb18030 && m_gb18030->Decode(p, 4, code)) {
        return {code, 4, true, true};
    }
    return bad;
}

const char32_t* TextDecoder::UpperHalf(int codePage) {
    if (codePage != m_tablePage) {
        const auto* table = UpperHalfOf(codePage);
        m_table = table ? table->data() : kPc437Upper.data();
        m_tablePage = codePage;
    }
    return m_table;
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

const char* CodePageName(int page) {
    const CodePageEntry* known = FindCodePage(page);
    return known ? known->name : nullptr;
}

bool CodePageDrawn(int page) {
    return UpperHalfOf(page) != nullptr;
}

const char* CharacterSetName(int set) {
    return set >= 0 && set < static_cast<int>(std::size(kCharacterSets)) ? kCharacterSets[set].name
                                                                         : nullptr;
}

}  // namespace vorpane::escpos
