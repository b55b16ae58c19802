#pragma once
// Text bytes to characters the way the printer reads them: GB18030 in
// Chinese mode, else the code page of ESC t, with the ASCII variants of
// ESC R. Shared by the journal and the renderer so both show the same text.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "escpos/command.h"

namespace vorpane::escpos {

class SystemCodec;

// Bytes of the GB18030 character at p: 1, 2 or 4, or 0 while the n bytes
// there do not decide it yet. A lead byte that no valid trail follows is a
// (bad) character of its own.
size_t GbCharLength(const uint8_t* p, size_t n);

struct Character {
    char32_t code = 0;
    uint8_t length = 1;  // bytes it took
    bool wide = false;   // a multi-byte (Chinese) character: two cells
    bool valid = true;   // false: show the bytes themselves
};

class TextDecoder {
public:
    TextDecoder();
    ~TextDecoder();
    TextDecoder(const TextDecoder&) = delete;
    TextDecoder& operator=(const TextDecoder&) = delete;

    // The character at p, with n >= 1 bytes there; an incomplete sequence
    // at the end is a bad first byte.
    Character Next(const uint8_t* p, size_t n, const TextMode& mode);

private:
    const char32_t* UpperHalf(int codePage);

    std::unique_ptr<SystemCodec> m_gb18030;  // four-byte sequences in the BMP
    int m_tablePage = -1;
    const char32_t* m_table = nullptr;
};

void AppendUtf8(std::string& out, char32_t code);
// "PC437", "WPC1251", ..., or null for a code page we do not know.
const char* CodePageName(int page);
// False when neither we nor the system can read the page: it is drawn as
// PC437.
bool CodePageDrawn(int page);
// "USA", "China", ..., or null for an unknown set.
const char* CharacterSetName(int set);

}  // namespace vorpane::escpos
