// The ESC/POS decoder as the journal shows it: every command named with its
// arguments, the same lines however the bytes arrive.

#include "printer_test_util.h"

namespace vorpane {
namespace {

TEST(CommandDecoder, JournalOfEachInputWholeAndByteByByte) {
    const std::pair<Bytes, Lines> cases[] = {
        {B("\x1B@\x1Bm\x1Bi"), {"ESC @ initialise", "ESC m partial cut", "ESC i partial cut"}},
        {{0x1B, 0x70, 0x00, 0x08, 0x08}, {"ESC p drawer pin 2 on 16 ms off 16 ms"}},
        {{0x1B, 0x70, '1', 0x32, 0xFF}, {"ESC p drawer pin 5 on 100 ms off 510 ms"}},
        {{0x1B, 0x70, 0x07, 0x08, 0x08}, {"hex: 1B 70 07 08 08"}},
        {B("\x10\x14\x01\x01\x03"), {"DLE DC4 drawer pin 5 pulse 300 ms"}},
        {{0x10, 0x04, 0x01, 0x10, 0x04, 0x04, 0x10, 0x04, 0x05, 0x1D, 'r', 1, 0x1D, 'I', 'C'},
         {"<DLE EOT 1 status request>", "<DLE EOT 4 status request>", "hex: 10 04 05",
          "<GS r 1 paper sensor status>", "<GS I 67 model name>"}},
        // 192 + 168 + 1 + 20 = 0x17D
        {{0x1D, 0x44, 192, 168, 1, 20, 0x7D},
         {"GS D new address 192.168.1.20 (checksum ok, pending until restart)",
          "<address C0 A8 01 14>"}},
        {{0x1D, 0x44, 192, 168, 1, 20, 0x7C},
         {"GS D rejected: bad checksum 7C (expected 7D) for 192.168.1.20"}},
        // AE+2B+64+14+2C+6C = 0x1E9
        {{0x1D, 0x45, 0xAE, 0x2B, 0x64, 0x14, 0x2C, 0x6C, 0xE9},
         {"GS E new MAC AE-2B-64-14-2C-6C (checksum ok, pending until restart)",
          "<mac AE 2B 64 14 2C 6C>"}},
        {{0x1D, 0x45, 0xAE, 0x2B, 0x64, 0x14, 0x2C, 0x6C, 0x00},
         {"GS E rejected: bad checksum 00 (expected E9) for AE-2B-64-14-2C-6C"}},
        // Argument bytes that look like commands are still arguments.
        {{0x1D, 0x44, 0x10, 0x04, 0x1B, 0x0A, 0x39},
         {"GS D new address 16.4.27.10 (checksum ok, pending until restart)",
          "<address 10 04 1B 0A>"}},
        {Text("Hello\r\nWorld\n\n"), {"text: Hello", "text: World", "text: "}},
        // 你好 in GB18030, then a four-byte sequence (U+1F600)
        {{0xC4, 0xE3, 0xBA, 0xC3, 0x94, 0x39, 0xFC, 0x36, 0x0A}, {"text: 你好\xF0\x9F\x98\x80"}},
        // A four-byte sequence past U+10FFFF is one bad character of four bytes.
        {{0x94, 0x39, 0xFC, 0x36, 0xFC, 0x38, 0x9C, 0x34, 0x0A},
         {"text: \xF0\x9F\x98\x80\\xFC\\x38\\x9C\\x34"}},
        // Invalid bytes and tabs are shown, not passed on.
        {{'a', 0xFF, 'b', 0x09, 'c', 0x0A}, {"text: a\\xFFb\\x09c"}},
        // Outside Chinese mode the code page reads the byte; ESC R swaps a few ASCII signs.
        {B("\x1C.\x82\x1Bt\x02\x9B\x1BR\x0F$\x1C&\xC4\xE3\x1BR\x03#\x1Bt\x63"),
         {"FS . Chinese mode off", "text: é", "ESC t code page 2 (PC850)", "text: ø",
          "ESC R character set 15 (China)", "text: ¥", "FS & Chinese mode on", "text: 你",
          "ESC R character set 3 (UK)", "text: £", "ESC t code page 99 (drawn as PC437)"}},
        // Pages the system converts, and Katakana's rules, which are not PC437's letters.
        {B("\x1C.\x1Bt\x2E\xC0\xFF\n\x1Bt\x01\x95\x95\x98\xB1\xF1\n"),
         {"FS . Chinese mode off", "ESC t code page 46 (WPC1251)", "text: Ая",
          "ESC t code page 1 (Katakana)", "text: ──┌ｱ円"}},
        {B("\x1B{\x01\x1BV2\x1BV\x00"),
         {"ESC { upside-down on", "ESC V 90 degree rotation on", "ESC V 90 degree rotation off"}},
        {B("\x1BR\x0F\x1BR\x10"),
         {"ESC R character set 15 (China)", "ESC R character set 16 (unknown)"}},
        // NV user memory: a write carries its bytes, a read has none.
        {B("\x1Cg1\x00\x00\x00\x00\x00\x02\x00xyok\n\x1Cg2\x00\x00\x00\x00\x00\x01\x00ok\n"),
         {"FS g skipped, 12 bytes", "text: ok", "FS g NV user memory: 32 00 00 00 00 00 01 00",
          "text: ok"}},
        // Text without a line end still shows when a command (ESC m) or the end cuts it.
        {Text("Cut test\x1Bmtail"), {"text: Cut test", "ESC m partial cut", "text: tail"}},
        {Text("A\x1B"
              "E\x01\nB\x1B-\x01\x1B"
              "E0\n\n"),
         {"text: A", "ESC E bold on", "text: B", "ESC - underline 1 dot", "ESC E bold off",
          "text: "}},
        {B("\x1B!\xB9\x1BM\x01\x1D!\x12\x1B"
           "E\x01\x1BG\x00\x1B-\x02\x1D"
           "B\x01\x1B"
           "a1"
           "\x1B \x02\x1B"
           "2\x1B"
           "3\x18\x1B"
           "d\x03\x1BJ\x18\x1DL\x0A\x00\x1DW\x00\x02"
           "\x1B$d\x00\x1B\\\xF4\xFF\x1C!\x0C\x1C-\x01"),
         {"ESC ! print mode: font B, bold, double height, double width, underline", "ESC M font B",
          "GS ! character size: width 2, height 3", "ESC E bold on", "ESC G double strike off",
          "ESC - underline 2 dots", "GS B reverse on", "ESC a align centre",
          "ESC SP right spacing 2 dots", "ESC 2 default line spacing", "ESC 3 line spacing 24 dots",
          "ESC d feed 3 lines", "ESC J feed 24 dots", "GS L left margin 10 dots",
          "GS W print width 512 dots", "ESC $ position 100 dots", "ESC \\ move -12 dots",
          "FS ! Chinese print mode: double width, double height", "FS - Chinese underline 1 dot"}},
        // A tab stop that does not ascend ends the list and is data again.
        {B("\x1B"
           "D\x08\x10\x00\x1B"
           "D\x08\x04"),
         {"ESC D tab stops 8, 16", "ESC D tab stops 8", "hex: 04"}},
        {B("\x1Dh\x50\x1Dw\x03\x1DH2\x1D"
           "f\x01\x1Dk\x02"
           "4006381333931\x00\x1Dk\x49\x06{BNo.1"),
         {"GS h barcode height 80 dots", "GS w barcode module 3 dots", "GS H HRI below",
          "GS f HRI font B", "GS k EAN13 4006381333931", "GS k CODE128 {BNo.1"}},
        {B("\x1D(k\x04\x00\x31\x41\x32\x00\x1D(k\x03\x00\x31\x43\x06\x1D(k\x03\x00\x31\x45\x31"
           "\x1D(k\x05\x00\x31\x50\x30hi\x1D(k\x03\x00\x31\x51\x30\x1D(k\x03\x00\x30\x41\x00"
           "\x1D(k\x03\x00\x30\x44\x03\x1D(k\x04\x00\x30\x45\x30\x32\x1D(k\x03\x00\x30\x46\x01"
           "\x1D(k\x04\x00\x35\x50\x30z"),
         {"GS ( k QR model 2", "GS ( k QR module size 6 dots", "GS ( k QR error correction M",
          "GS ( k QR store 2 bytes", "GS ( k QR print", "GS ( k PDF417 columns auto",
          "GS ( k PDF417 row height 3 x module width", "GS ( k PDF417 error correction level 2",
          "GS ( k PDF417 truncated", "GS ( k symbol 53 function 80, 4 bytes (not drawn)"}},
        {B("\x1BL\x1BW\x0A\x00\x14\x00\xC8\x00\x64\x00\x1BT1\x1BT\x07\x1D$\x28\x00\x1D\\\xF6\xFF"
           "\x1B\x0C\x18\x0C\x1BS"),
         {"ESC L page mode", "ESC W page area at 10, 20, 200 x 100 dots",
          "ESC T page direction bottom to top", "ESC T page direction 7 (ignored)",
          "GS $ page position 40 dots", "GS \\ page move -10 dots", "ESC FF print page",
          "CAN cancel page data", "FF print page and return to standard mode",
          "ESC S standard mode"}},
        {B("\x1DV\x00\x1DV\x31\x1DV\x42\x18"),
         {"GS V full cut", "GS V partial cut", "GS V feed 24 dots, partial cut"}},
        {B("\x1Dv0\x02\x01\x00\x02\x00\xAA\x55\x1B*\x21\x02\x00\xFF\x00\x00\x01\x02\x03"),
         {"GS v 0 raster image 8 x 2 dots, double height",
          "ESC * column image 24-dot double density, 2 columns"}},
        // Commands of known length are passed over whole, whatever they hold.
        {B("\x1D(L\x03\x00\x1B\x1B\x1B\x1D"
           "8L\x02\x00\x00\x00\x0A\x0A\x1B&\x03\x41\x42\x01"
           "\x11\x11\x11\x02\x1B\x1B\x1B\x1B\x1B\x1B\x1C"
           "q\x01\x01\x00\x01\x00\x1B\x1B\x1B\x1B"
           "\x1B\x1B\x1B\x1B\x1D"
           "a\x00\x1B=\x01"),
         {"GS ( L graphics function 27, 3 bytes (not drawn)",
          "GS 8 L graphics function 10, 2 bytes (not drawn)", "ESC & skipped, 16 bytes",
          "FS q NV bit image 1 of 1, 8 x 8 dots", "<GS a 0 automatic status back>",
          "ESC = peripheral device: 01"}},
        {B("\x1B\x99"
           "A\n\x07\x08"
           "B\n"),
         {"hex: 1B 99", "text: A", "hex: 07 08", "text: B"}},
        {Bytes(20, 0x07),
         {"hex: 07 07 07 07 07 07 07 07 07 07 07 07 07 07 07 07", "hex: 07 07 07 07"}},
        {{0x1D, 0x44, 0xC0, 0xA8}, {"truncated: 1D 44 C0 A8"}},
        {B("\x1Dv0\x00\x01\x00\x04\x00\xAA\xBB"),
         {"GS v 0 raster image 8 x 4 dots, normal",
          "truncated: 1D 76 30 00 01 00 04 00 after 2 of 4 bytes"}},
        {{'o', 'k', 0x1B}, {"text: ok", "truncated: 1B"}},
        {{0xC4}, {"text: \\xC4"}},
        // A two-byte character across the 1024-byte cut of a long line stays whole.
        {Text(std::string(1023, 'x') + "\xC4\xE3\n"),
         {"text: " + std::string(1023, 'x'), "text: 你"}},
    };
    for (const auto& [in, out] : cases) {
        SCOPED_TRACE(HexBytes(in.data(), in.size()));
        EXPECT_EQ(Print(in).lines, out);
        EXPECT_EQ(Print(in, 1).lines, out);
    }
}

TEST(CommandDecoder, FloodsStayBoundedAndPiecesGiveTheSameJournal) {
    // A line that keeps coming is written four times a receipt, then counted.
    const std::string full = "text: " + std::string(1024, 'y');
    const std::string pulse = "ESC p drawer pin 2 on 32 ms off 32 ms";
    const std::string pin5 = "ESC p drawer pin 5 on 32 ms off 32 ms";
    Bytes pulses, alternating;
    for (int i = 0; i < 1000; ++i) {
        pulses = pulses + B("\x1Bp\x00\x10\x10");
        alternating = alternating + B("\x1Bp\x00\x10\x10\x1Bp\x01\x10\x10");
    }
    const std::pair<Bytes, Lines> cases[] = {
        {Bytes(100000, 'y'),
         {full, full, full, full, "text: " + std::string(100000 - 97 * 1024, 'y'),
          "repeated 93 more times: " + full}},
        {pulses + B("\x1DV\x00") + B("\x1Bp\x00\x10\x10"),
         {pulse, pulse, pulse, pulse, "GS V full cut", "repeated 996 more times: " + pulse, pulse}},
        {alternating,
         {pulse, pin5, pulse, pin5, pulse, pin5, pulse, pin5, "repeated 996 more times: " + pulse,
          "repeated 996 more times: " + pin5}},
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(Print(in).lines, out);
    }
    const Bytes bytes = Text("Hello 你好\n\x1B@" + std::string(3000, 'q')) + RandomBytes(40000, 7);
    const Lines whole = Print(bytes).lines;
    EXPECT_GT(whole.size(), 1000u);
    for (size_t piece : {1, 2, 3, 7, 4096}) {
        EXPECT_EQ(Print(bytes, piece).lines, whole) << piece;
    }
}

// What the renderer reads that the journal does not show, as the rows build it.
TEST(CommandDecoder, RowsBuildWhatEachCommandMeans) {
    using namespace escpos;
    struct Last : CommandSink {
        void OnCommand(const Command& c) override { body = c.body; }
        CommandBody body;
    };
    using Check = bool (*)(const CommandBody&);
    const std::pair<Bytes, Check> cases[] = {
        {B("\x1DVA\x18"),
         [](const CommandBody& b) {
             const auto* c = std::get_if<Cut>(&b);
             return c && c->kind == CutKind::kFull && c->feedDots == 24 && c->toCutterFirst;
         }},
        {B("\x1DVg\x18"),
         [](const CommandBody& b) {
             const auto* c = std::get_if<Cut>(&b);
             return c && c->kind == CutKind::kFull && c->feedDots == 24 && !c->toCutterFirst;
         }},
        {B("\x1B!\x39"),
         [](const CommandBody& b) {
             const auto* m = std::get_if<PrintMode>(&b);
             return m && m->fontB && m->bold && m->doubleHeight && m->doubleWidth && !m->underline;
         }},
        {B("\x1C!\x84"),
         [](const CommandBody& b) {
             const auto* m = std::get_if<ChinesePrintMode>(&b);
             return m && m->doubleWidth && !m->doubleHeight && m->underline;
         }},
        {B("\x1Dk\x02"
           "0123456789012\x00"),
         [](const CommandBody& b) {
             const auto* c = std::get_if<Barcode>(&b);
             return c && c->symbology == BarcodeSymbology::kEan13 && c->data.size() == 13;
         }},
        {B("\x1DH3"),
         [](const CommandBody& b) {
             const auto* h = std::get_if<HriPosition>(&b);
             return h && h->above && h->below;
         }},
        {B("\x1Dv0\x03\x02\x00\x00\x00"),
         [](const CommandBody& b) {
             const auto* r = std::get_if<RasterImage>(&b);
             return r && r->width == 16 && r->height == 0 && r->scaleX == 2 && r->scaleY == 2;
         }},
    };
    for (const auto& [bytes, check] : cases) {
        Last last;
        CommandDecoder decoder(last);
        decoder.Feed(bytes.data(), bytes.size());
        EXPECT_TRUE(check(last.body)) << HexBytes(bytes.data(), bytes.size());
    }
}

}  // namespace
}  // namespace vorpane
