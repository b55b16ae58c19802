#include <windows.h>

#include <string_view>

#include "escpos/system_codec.h"

namespace vorpane::escpos {
namespace {

struct NamedPage {
    std::string_view charset;
    UINT page;
};

// The first valid page of a name is taken. Wine has no GB18030 page; GBK
// (936) reads the same two-byte characters, which is what Chinese text from
// a Windows program in 936 is made of.
constexpr NamedPage kPages[] = {
    {"GB18030", 54936},     {"GB18030", 936}, {"CP850", 850},        {"CP852", 852},
    {"CP858", 858},         {"CP860", 860},   {"CP863", 863},        {"CP865", 865},
    {"CP866", 866},         {"CP1252", 1252}, {"CP737", 737},        {"CP775", 775},
    {"CP855", 855},         {"CP857", 857},   {"CP861", 861},        {"CP862", 862},
    {"CP864", 864},         {"CP869", 869},   {"CP1250", 1250},      {"CP1251", 1251},
    {"CP1253", 1253},       {"CP1254", 1254}, {"CP1255", 1255},      {"CP1256", 1256},
    {"CP1257", 1257},       {"CP1258", 1258}, {"ISO-8859-2", 28592}, {"ISO-8859-7", 28597},
    {"ISO-8859-15", 28605},
};

class WindowsCodec final : public SystemCodec {
public:
    explicit WindowsCodec(UINT page) : m_page(page) {}

    bool Decode(const uint8_t* bytes, size_t size, char32_t& out) override {
        wchar_t wide[4];
        const int n =
            MultiByteToWideChar(m_page, MB_ERR_INVALID_CHARS, reinterpret_cast<const char*>(bytes),
                                static_cast<int>(size), wide, 4);
        if (n == 1 && (wide[0] < 0xD800 || wide[0] > 0xDFFF)) {
            out = wide[0];
        } else if (n == 2 && IS_SURROGATE_PAIR(wide[0], wide[1])) {
            out = 0x10000 + ((static_cast<char32_t>(wide[0]) - 0xD800) << 10) +
                  (static_cast<char32_t>(wide[1]) - 0xDC00);
        } else {
            return false;
        }
        // Windows stands U+FFFD in for what a table lacks where iconv fails.
        return out != 0xFFFD;
    }

private:
    const UINT m_page;
};

}  // namespace

std::unique_ptr<SystemCodec> SystemCodec::Open(const char* charset) {
    for (const NamedPage& named : kPages) {
        if (named.charset == charset && IsValidCodePage(named.page)) {
            return std::make_unique<WindowsCodec>(named.page);
        }
    }
    return nullptr;
}

}  // namespace vorpane::escpos
