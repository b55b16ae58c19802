#pragma once
// Character conversion by the operating system (iconv on POSIX,
// MultiByteToWideChar on Windows), for the multi-byte and single-byte
// tables the decoder does not carry itself.

#include <cstddef>
#include <cstdint>
#include <memory>

namespace vorpane::escpos {

class SystemCodec {
public:
    // A converter from the named character set ("GB18030", "CP850") to
    // code points; null when the system has none.
    static std::unique_ptr<SystemCodec> Open(const char* charset);
    virtual ~SystemCodec() = default;
    // True, with its code point, when the bytes are exactly one character.
    virtual bool Decode(const uint8_t* bytes, size_t size, char32_t& out) = 0;
};

}  // namespace vorpane::escpos
