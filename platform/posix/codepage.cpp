#include "platform/codepage.h"

#include <iconv.h>
#include <algorithm>
#include <cerrno>

namespace vorpane {

namespace {

// Owns one iconv conversion descriptor.
class IconvHandle {
public:
    IconvHandle(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~IconvHandle() {
        if (Valid()) {
            iconv_close(m_cd);
        }
    }
    IconvHandle(const IconvHandle&) = delete;
    IconvHandle& operator=(const IconvHandle&) = delete;
    bool Valid() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return m_cd; }

private:
    iconv_t m_cd;
};

// Converts whole input; an undecodable input byte is skipped and `bad` is
// written in its place, so nothing after it is lost.
std::string Convert(const char* to, const char* from, const std::string& in,
                    const std::string& bad) {
    IconvHandle cd(to, from);
    if (!cd.Valid()) {
        return in;
    }
    std::string out;
    out.reserve(in.size() * 2 + 8);
    char* inPtr = const_cast<char*>(in.data());
    size_t inLeft = in.size();
    char buf[4096];
    while (inLeft > 0) {
        char* outPtr = buf;
        size_t outLeft = sizeof buf;
        size_t r = iconv(cd.get(), &inPtr, &inLeft, &outPtr, &outLeft);
        out.append(buf, static_cast<size_t>(outPtr - buf));
        if (r == static_cast<size_t>(-1)) {
            if (errno == E2BIG) {
                continue;
            }
            // EILSEQ or EINVAL (truncated at the end): replace one byte.
            out += bad;
            ++inPtr;
            --inLeft;
            iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
        }
    }
    return out;
}

}  // namespace

std::string Utf8ToSystem(const std::string& utf8) {
    return Convert("GB18030", "UTF-8", utf8, "?");
}

std::string SystemToUtf8(const std::string& bytes) {
    return Convert("UTF-8", "GB18030", bytes, "\xEF\xBF\xBD");
}

size_t SystemPrefixLength(const std::string& bytes, size_t limit) {
    size_t i = 0;
    while (i < bytes.size()) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        size_t len = 1;
        if (b >= 0x81 && b <= 0xFE && i + 1 < bytes.size()) {
            const auto b2 = static_cast<unsigned char>(bytes[i + 1]);
            len = (b2 >= 0x30 && b2 <= 0x39) ? 4 : 2;
        }
        if (i + len > limit) {
            break;
        }
        i += len;
    }
    return std::min(i, bytes.size());
}

}  // namespace vorpane
