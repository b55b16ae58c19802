#pragma once
// Incremental ESC/POS decoder of the virtual printer: bytes of one session
// go in, in pieces of any size; journal lines, status requests and accepted
// configuration frames come out. It never fails and keeps bounded memory
// whatever it is fed.
//
// Journal lines it produces (the printer adds session and status lines):
//   text: <line>            printable bytes up to LF, decoded from GB18030
//                           to UTF-8; a byte that is not valid GB18030, and
//                           a control character inside text (HT, DEL), shows
//                           as \xNN. CR is dropped. A line is also cut by any
//                           command, and after 1024 bytes.
//   ESC @ initialise
//   ESC p drawer pin 2 on 16 ms off 16 ms      (pin 2 for m = 0/48, pin 5 for
//                                              m = 1/49; times are t * 2 ms)
//   ESC m partial cut
//   GS D new address 192.168.1.20 (checksum ok, pending until restart)
//   GS D rejected: bad checksum 00 (expected E1) for 192.168.1.20
//   GS E new MAC AE-2B-64-14-2C-6C (checksum ok, pending until restart)
//   GS E rejected: bad checksum 00 (expected 19) for AE-2B-64-14-2C-6C
//   hex: 1D 21 00           any other command of known length as one line;
//                           an unknown ESC/GS/FS/DLE pair and runs of other
//                           control bytes (at most 16 a line)
//   truncated: 1D 44 C0     a command cut off by the end of the session

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vorpane {

class CommandDecoderEvents {
public:
    virtual ~CommandDecoderEvents() = default;
    virtual void OnJournalLine(std::string line) = 0;
    // DLE EOT n with n in 1..4; the printer answers and journals it.
    virtual void OnStatusRequest(uint8_t n) = 0;
    // Configuration frames whose checksum was right.
    virtual void OnNewAddress(const std::array<uint8_t, 4>& address) = 0;
    virtual void OnNewMac(const std::array<uint8_t, 6>& mac) = 0;
};

class CommandDecoder {
public:
    static constexpr size_t kMaxTextLineBytes = 1024;
    static constexpr size_t kMaxHexRunBytes = 16;

    // With journalling off, text is skipped without decoding (for the
    // throughput sink); commands still take effect.
    CommandDecoder(CommandDecoderEvents& events, bool journal = true);
    ~CommandDecoder();
    CommandDecoder(const CommandDecoder&) = delete;
    CommandDecoder& operator=(const CommandDecoder&) = delete;

    void Feed(const uint8_t* data, size_t size);
    // End of the session: flushes text and reports a cut-off command.
    void Finish();

private:
    void FeedByte(uint8_t b);
    void CommandComplete();
    void FlushText(bool final);
    void FlushHexRun();
    void AddHexRunByte(uint8_t b);
    void Emit(std::string line);

    CommandDecoderEvents& m_events;
    const bool m_journal;
    void* m_iconv;  // iconv_t, kept opaque here
    std::string m_text;
    std::vector<uint8_t> m_hexRun;
    std::vector<uint8_t> m_command;  // bytes of a command being collected
    size_t m_commandLength = 0;      // its full length once known, else 0
};

// "1D 21 00"
std::string HexBytes(const uint8_t* data, size_t size);

}  // namespace vorpane
