#pragma once
// The journal's view of decoded commands: one line per command, with text
// gathered into lines. Every line is one printable UTF-8 line.
//
//   text: <line>            text up to LF, as the printer reads it (GB18030 in
//                           Chinese mode, else the code page); a byte it cannot
//                           read, and a control character (HT, DEL), shows as
//                           \xNN; CR is dropped. A command also ends the line,
//                           and so does the 1024th byte; the LF after such
//                           an end adds no empty line.
//   ESC @ initialise
//   ESC ! print mode: font B, bold, double height, double width, underline
//   ESC M font B             GS ! character size: width 2, height 3
//   ESC E bold on            ESC G double strike off
//   ESC - underline 2 dots   GS B reverse on            ESC a align centre
//   ESC SP right spacing 2 dots
//   ESC 2 default line spacing                         ESC 3 line spacing 24 dots
//   ESC D tab stops 8, 16    ESC d feed 3 lines         ESC J feed 24 dots
//   GS L left margin 10 dots GS W print width 512 dots
//   ESC $ position 100 dots  ESC \ move -12 dots
//   ESC t code page 0 (PC437)                 ESC R character set 15 (China)
//   FS & Chinese mode on     FS . Chinese mode off
//   FS ! Chinese print mode: double width     FS - Chinese underline 1 dot
//   GS v 0 raster image 384 x 100 dots, double height
//   ESC * column image 24-dot double density, 200 columns
//   GS h barcode height 80 dots               GS w barcode module 3 dots
//   GS H HRI below           GS f HRI font B
//   GS k CODE128 {BNo.123    (data bytes that are not printable as \xNN)
//   GS ( k QR model 2        GS ( k QR module size 6 dots
//   GS ( k QR error correction M              GS ( k QR store 23 bytes
//   GS ( L store graphics 96 x 48 dots        GS ( L print graphics
//   GS 8 L define NV graphics key AB, 96 x 48 dots
//   GS ( L print NV graphics key AB, double width  (cut short: "(100 of 576 bytes)")
//   FS q NV bit image 1 of 2, 16 x 8 dots     FS p print NV bit image 1, double width
//   GS ( k QR print          (PDF417 likewise: columns, rows, module width,
//                            row height, error correction, options, store, print)
//   ESC L page mode          ESC S standard mode       ESC FF print page
//   ESC W page area at 0, 0, 576 x 400 dots   ESC T page direction bottom to top
//   GS $ page position 40 dots                GS \ page move -10 dots
//   FF print page and return to standard mode CAN cancel page data
//   GS V full cut            GS V feed 24 dots, partial cut      ESC m partial cut
//   ESC p drawer pin 2 on 16 ms off 16 ms     DLE DC4 drawer pin 2 pulse 100 ms
//   GS D new address 192.168.1.20 (checksum ok, pending until restart)
//   GS D rejected: bad checksum 00 (expected 7D) for 192.168.1.20
//   GS E new MAC AE-2B-64-14-2C-6C (checksum ok, pending until restart)
//   GS E rejected: bad checksum 00 (expected E9) for AE-2B-64-14-2C-6C
//   ESC = peripheral device: 01               (other known commands, by name)
//   FS ( skipped, 1030 bytes                  (passed over by its length)
//   hex: 1B 99              an unknown command, or up to 16 other control bytes
//   truncated: 1D 44 C0     a command cut off by the end of the session
//   truncated: 1D 76 30 00 30 00 64 00 after 1200 of 4800 bytes
// Status requests (DLE EOT, GS r, GS I, GS a) are left to the printer, which
// journals its answer.
//
// A line that comes again and again within one receipt (up to a cut) is
// written kMaxRepeats times; the rest are counted and summed up once, when
// the receipt ends or the line has not come for a while:
//   repeated 1999996 more times: ESC p drawer pin 2 on 16 ms off 16 ms

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "escpos/command.h"
#include "escpos/text_codec.h"

namespace vorpane::escpos {

class CommandJournal final : public CommandSink {
public:
    static constexpr size_t kMaxTextLineBytes = 1024;
    static constexpr size_t kMaxHexRunBytes = 16;
    static constexpr size_t kMaxRepeats = 4;
    // Distinct recent lines whose repeats are counted.
    static constexpr size_t kRepeatWindow = 8;

    using LineOut = std::function<void(const std::string& line)>;
    explicit CommandJournal(LineOut out);

    void OnCommand(const Command& command) override;
    // End of the session: hands on a text line and control bytes held back.
    void Finish();

private:
    void AddText(const Text& text);
    void FlushText(bool lineFeed);
    void FlushHexRun();
    void Emit(const std::string& line);
    // Sums up the lines held back, and forgets the receipt's lines.
    void EndRepeats();

    struct Recent {
        std::string line;
        uint64_t seen = 0;
        uint64_t held = 0;  // not written
        uint64_t used = 0;  // when last seen
    };

    static std::string RepeatedLine(const Recent& r);

    const LineOut m_out;
    // The last command described, byte for byte, and its line: a flood of
    // one command is counted without describing each again.
    std::vector<uint8_t> m_lastBytes;
    std::string m_lastLine;
    std::vector<Recent> m_recent;
    uint64_t m_tick = 0;
    TextDecoder m_decoder;
    std::string m_line;  // "text: ..." being gathered
    size_t m_lineBytes = 0;
    bool m_textCut = false;  // the last text line ended before its LF
    std::string m_hexRun;    // "hex: 07 08"
    size_t m_hexBytes = 0;
};

// "1D 21 00"
std::string HexBytes(const uint8_t* data, size_t size);
// The journal's line for a command other than text, LF, CR and HT; empty
// for those it leaves to others.
std::string DescribeCommand(const Command& command);

}  // namespace vorpane::escpos
