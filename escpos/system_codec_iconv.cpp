#include <iconv.h>

#include "escpos/system_codec.h"

namespace vorpane::escpos {
namespace {

class IconvCodec final : public SystemCodec {
public:
    explicit IconvCodec(iconv_t cd) : m_cd(cd) {}
    ~IconvCodec() override { ::iconv_close(m_cd); }
    IconvCodec(const IconvCodec&) = delete;
    IconvCodec& operator=(const IconvCodec&) = delete;

    bool Decode(const uint8_t* bytes, size_t size, char32_t& out) override {
        ::iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        char* in = const_cast<char*>(reinterpret_cast<const char*>(bytes));
        size_t inLeft = size;
        uint8_t buf[8];
        char* outp = reinterpret_cast<char*>(buf);
        size_t outLeft = sizeof buf;
        if (::iconv(m_cd, &in, &inLeft, &outp, &outLeft) == static_cast<size_t>(-1) ||
            inLeft != 0 || sizeof buf - outLeft != 4) {
            return false;
        }
        out = static_cast<char32_t>(buf[0] | buf[1] << 8 | buf[2] << 16 | buf[3] << 24);
        return true;
    }

private:
    const iconv_t m_cd;
};

}  // namespace

std::unique_ptr<SystemCodec> SystemCodec::Open(const char* charset) {
    const iconv_t cd = ::iconv_open("UTF-32LE", charset);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return nullptr;
    }
    return std::make_unique<IconvCodec>(cd);
}

}  // namespace vorpane::escpos
