// The receipt renderer: text measured on the raster, images compared bit for
// bit, every barcode and 2D symbol read back with ZXing, PNG files read back
// with zlib, and a receipt built by a real npm client.

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "hostile_inputs.h"
#include "printer_test_util.h"
#include "receipt/png.h"
#include "receipt/receipt_renderer.h"

namespace vorpane {
namespace {

using receipt::CutKind;
using receipt::Raster;

struct Ink {
    int left = INT_MAX, right = -1, top = INT_MAX, bottom = -1;
    long count = 0;
    int Width() const { return right - left + 1; }
};

Ink InkOf(const Raster& r, int y0 = 0, int y1 = INT_MAX) {
    Ink ink;
    for (int y = y0; y < std::min(y1, r.Height()); ++y) {
        for (int x = 0; x < r.Width(); ++x) {
            if (r.Get(x, y)) {
                ink = {std::min(ink.left, x), std::max(ink.right, x), std::min(ink.top, y),
                       std::max(ink.bottom, y), ink.count + 1};
            }
        }
    }
    return ink;
}

// The ink of the one receipt the bytes print on 80 mm paper.
Ink Draw(const Bytes& bytes) {
    const Recorder r = Print(bytes, 0, receipt::kPaper80Dots);
    EXPECT_EQ(r.receipts.size(), 1u);
    return r.receipts.empty() ? Ink{} : InkOf(r.receipts.front().paper);
}

TEST(ReceiptRenderer, TextMeasuredOnTheRaster) {
    const Ink plain = Draw(Text("HHHH\n"));
    EXPECT_LT(plain.left, 3);
    EXPECT_GT(plain.Width(), 36);
    EXPECT_GT(Draw(B("\x1B"
                     "E\x01") +
                   Text("HHHH\n"))
                  .count,
              plain.count * 5 / 4);
    EXPECT_NEAR(Draw(B("\x1D!\x10") + Text("HHHH\n")).Width(), 2 * plain.Width(), 2);
    EXPECT_NEAR(Draw(B("\x1D!\x01") + Text("HHHH\n")).count, 2 * plain.count, plain.count / 10);
    EXPECT_LT(Draw(B("\x1BM\x01") + Text("HHHH\n")).Width(), plain.Width() * 4 / 5);
    // Alignment puts one 12-dot cell at the left, the middle or the right.
    const std::pair<char, int> alignments[] = {{'0', 0}, {'1', 282}, {'2', 564}};
    for (const auto& [align, cell] : alignments) {
        const Ink ink = Draw(B("\x1B"
                               "a") +
                             Bytes{uint8_t(align)} + Text("H\n"));
        EXPECT_GE(ink.left, cell) << align;
        EXPECT_LT(ink.right, cell + 12) << align;
    }
    // 中 takes two cells: it inks past the first, and an H after it starts in the third.
    const Ink chinese = Draw(Text("\xD6\xD0\n"));
    EXPECT_GT(chinese.right, 12);
    EXPECT_LT(chinese.right, 24);
    EXPECT_GE(InkOf(Print(Text("\xD6\xD0H\n"), 0, 576).receipts.at(0).paper).right, 24);
    EXPECT_LT(InkOf(Print(Text("\xD6\xD0H\n"), 0, 576).receipts.at(0).paper).right, 36);
    // Underline runs under the whole cell; reverse inks the cell around white
    // letters, and no underline cuts into it.
    const Ink under = Draw(B("\x1B-\x02") + Text("H\n"));
    EXPECT_EQ(under.Width(), 12);
    const Ink reverse = Draw(B("\x1D"
                               "B\x01") +
                             Text("H\n"));
    EXPECT_GT(reverse.count, 12 * 24 / 2);
    EXPECT_EQ(Draw(B("\x1D"
                     "B\x01\x1B-\x02") +
                   Text("H\n"))
                  .count,
              reverse.count);
    // GS W 0 still holds one character a line; a tab stop past the print area
    // (the sixth, at 576 dots) starts a new line.
    const Ink narrow = Draw(B("\x1DW\x00\x00") + Text("HH\n"));
    EXPECT_LT(narrow.right, 12);
    EXPECT_GT(narrow.bottom, 30);
    const Ink tabbed = Draw(Text("H\t\t\t\t\tH\tH\n"));
    EXPECT_EQ(std::pair(tabbed.right / 12, tabbed.bottom / 30), std::pair(40, 1));
}

// ESC { turns a whole line, character and image band, half a turn in the
// print area from the next line on; ESC V 1, 2 or '1' turns each character a
// quarter clockwise. Every dot of the plain line must land where the turn puts it.
TEST(ReceiptRenderer, TurnedLinesMoveEveryDotOfThePlainOne) {
    using Map = std::pair<int, int> (*)(int, int);
    const Bytes line = Text("L") + B("\x1B*\x21\x02\x00\xF0\x00\x00\x00\x00\x0F\n");
    const std::tuple<Bytes, Bytes, Map> cases[] = {
        {line, B("\x1B{\x01") + line, [](int x, int y) { return std::pair(575 - x, 23 - y); }},
        {Text("L\n"), B("\x1BV\x01L\n"), [](int x, int y) { return std::pair(23 - y, x); }},
        {Text("L\n"), B("\x1BV2L\n"), [](int x, int y) { return std::pair(23 - y, x); }},
        {Text("L\n"), B("\x1BV\x01\x1BV0L\n"), [](int x, int y) { return std::pair(x, y); }},
        {Text("L\nL\n"), B("L\x1B{1\nL\n"),
         [](int x, int y) { return y < 30 ? std::pair(x, y) : std::pair(575 - x, 83 - y); }}};
    for (const auto& [plainBytes, turnedBytes, map] : cases) {
        const Raster plain = Print(plainBytes, 0, 576).receipts.at(0).paper;
        const Raster turned = Print(turnedBytes, 0, 576).receipts.at(0).paper;
        int missing = 0;
        for (int y = 0; y < plain.Height(); ++y) {
            for (int x = 0; x < plain.Width(); ++x) {
                const auto [tx, ty] = map(x, y);
                missing += plain.Get(x, y) && !turned.Get(tx, ty);
            }
        }
        EXPECT_EQ(missing, 0) << turnedBytes.size();
        EXPECT_EQ(InkOf(turned).count, InkOf(plain).count) << turnedBytes.size();
    }
}

// ESC T turns page mode's lines about the corners of the ESC W area, here
// 200 x 120 dots at 100, 50; the page prints as tall as its area.
TEST(ReceiptRenderer, PageModeTurnsEveryDotAboutItsArea) {
    using Map = std::pair<int, int> (*)(int, int);
    const std::pair<char, Map> directions[] = {
        {'0', [](int x, int y) { return std::pair(100 + x, 50 + y); }},
        {'1', [](int x, int y) { return std::pair(100 + y, 169 - x); }},
        {'2', [](int x, int y) { return std::pair(299 - x, 169 - y); }},
        {'3', [](int x, int y) { return std::pair(299 - y, 50 + x); }}};
    const Raster plain = Print(Text("L\n"), 0, 576).receipts.at(0).paper;
    for (const auto& [direction, map] : directions) {
        const Recorder r = Print(B("\x1BL\x1BW\x64\x00\x32\x00\xC8\x00\x78\x00\x1BT") +
                                     Bytes{uint8_t(direction)} + Text("L\f"),
                                 0, 576);
        ASSERT_EQ(r.receipts.size(), 1u) << direction;
        const Raster& page = r.receipts[0].paper;
        int missing = 0;
        for (int y = 0; y < plain.Height(); ++y) {
            for (int x = 0; x < plain.Width(); ++x) {
                const auto [px, py] = map(x, y);
                missing += plain.Get(x, y) && !page.Get(px, py);
            }
        }
        EXPECT_EQ(std::tuple(missing, InkOf(page).count, page.Height()),
                  std::tuple(0, InkOf(plain).count, 170))
            << direction;
    }
}

// Page mode on a 576 x 100 area: the cell and line each H lands in, the
// paper's height and how many H were printed.
TEST(ReceiptRenderer, PageModeMovesCancelsAndPrintsItsPage) {
    const Bytes page = B("\x1BL\x1BW\x00\x00\x00\x00\x40\x02\x64\x00");
    const Ink h = Draw(Text("H\n"));
    const std::tuple<Bytes, int, int, int, int> cases[] = {
        {page + B("\x1B$\x3C\x00\x1D$\x28\x00H\f"), 60, 40, 100, 1},  // ESC $, GS $
        {page + B("\x1D$\x28\x00\x1D\\\xF6\xFFH\f"), 0, 30, 100, 1},  // GS \ back up
        {page + B("HHHH\x18\x1B$\xC8\x00H\f"), 200, 0, 100, 1},       // CAN
        {page + B("HHHH\x1BSH\n"), 0, 0, 30, 1},                      // ESC S drops it
        {page + B("H\nH\f"), 0, 0, 100, 2},                           // LF moves only
        {page + B("H\fH\n"), 0, 0, 130, 2},                           // FF, then a line
        {page + B("H\x1B\f\x1B\f\x1BS"), 0, 0, 200, 2},               // ESC FF keeps it
    };
    for (const auto& [bytes, x, y, height, copies] : cases) {
        SCOPED_TRACE(HexBytes(bytes.data(), bytes.size()));
        const Recorder r = Print(bytes, 0, 576);
        ASSERT_EQ(r.receipts.size(), 1u);
        const Ink ink = InkOf(r.receipts[0].paper);
        EXPECT_EQ(std::tuple(ink.left, ink.top, r.receipts[0].paper.Height(), ink.count),
                  std::tuple(x + h.left, y + h.top, height, copies * h.count));
    }
    // A QR code goes to the area's place and reads back; GS v 0 is left out.
    const Recorder qr =
        Print(B("\x1BL\x1BW\x64\x00\x00\x00\x2C\x01\x2C\x01\x1D(k\x07\x00\x31\x50\x30page"
                "\x1D(k\x03\x00\x31\x51\x30\x1Dv0\x00\x01\x00\x01\x00\xFF\f\x1BL"),
              0, 576);
    ASSERT_EQ(qr.receipts.size(), 1u);
    EXPECT_EQ(ReadBack(qr.receipts[0].paper, BarcodeFormat::QRCode), "page");
    EXPECT_GE(InkOf(qr.receipts[0].paper).left, 100);
    EXPECT_EQ(Lines(qr.lines.end() - 4, qr.lines.end()),
              (Lines{"GS v 0 raster image 8 x 1 dots, normal: not drawn in page mode",
                     "FF print page and return to standard mode", "ESC L page mode",
                     "page mode: the page was not printed (no FF), it is dropped"}));
}

TEST(ReceiptRenderer, ImagesLandBitForBitAtTheirPlace) {
    const Bytes pattern = RandomBytes(3 * 10, 5);  // 24 x 10 dots
    long patternInk = 0;
    for (uint8_t b : pattern) {
        patternInk += __builtin_popcount(b);
    }
    struct Case {
        uint8_t mode, align;
        int scaleX, scaleY, left;
        int command;  // GS v 0, GS ( L print buffer, GS 8 L NV graphics
    };
    const Bytes kPrintBuffer = B("\x1D(L\x02\x00\x30\x32");
    const Bytes kPrintNv = B("\x1D(L\x06\x00\x30\x45\x41\x42\x02\x02");
    for (const Case& c : {Case{0, '0', 1, 1, 0, 0}, Case{1, '1', 2, 1, (576 - 48) / 2, 0},
                          Case{3, '2', 2, 2, 576 - 48, 0}, Case{2, '1', 2, 1, (576 - 48) / 2, 1},
                          Case{0, '2', 2, 2, 576 - 48, 2}}) {
        const Bytes store =
            c.command == 0 ? Bytes{0x1D, 'v', '0', c.mode, 3, 0, 10, 0}
            : c.command == 1
                ? Bytes{0x1D, '(', 'L', 40, 0, 48, 112, 48, c.mode, 1, 49, 24, 0, 10, 0}
                : Bytes{0x1D, '8', 'L', 41, 0, 0, 0, 48, 67, 48, 'A', 'B', 1, 24, 0, 10, 0, 49};
        const Bytes print = c.command == 0 ? Bytes{} : c.command == 1 ? kPrintBuffer : kPrintNv;
        const Recorder printed = Print(B("\x1B"
                                         "a") +
                                           Bytes{c.align} + store + pattern + print,
                                       0, 576);
        const Raster& r = printed.receipts.at(0).paper;
        int wrong = 0;
        for (int y = 0; y < 10 * c.scaleY; ++y) {
            for (int x = 0; x < 24 * c.scaleX; ++x) {
                const int px = x / c.scaleX;
                const bool bit = (pattern[(y / c.scaleY) * 3 + px / 8] >> (7 - px % 8)) & 1;
                wrong += r.Get(c.left + x, y) != bit;
            }
        }
        EXPECT_EQ(wrong, 0) << int(c.mode);
        EXPECT_EQ(InkOf(r).count, patternInk * c.scaleX * c.scaleY) << int(c.mode);
    }
    // Printing empties the print buffer; NV graphics need their key.
    EXPECT_EQ(
        Print(kPrintBuffer + kPrintNv, 0, 576).lines,
        (Lines{"GS ( L print graphics", "GS ( L print graphics: not drawn, no graphics stored",
               "GS ( L print NV graphics key AB, quadruple",
               "GS ( L print NV graphics key AB, quadruple: not drawn, no such NV graphics"}));
    // FS q columns: image 2, a diagonal, printed by FS p at quadruple size.
    const Bytes diagonal = {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01};
    const Recorder nv = Print(B("\x1Cq\x02\x01\x00\x01\x00") + Bytes(8, 0xFF) + Bytes{1, 0, 1, 0} +
                                  diagonal + B("\x1Cp\x02\x33\x1Cp\x03\x00"),
                              0, 576);
    const Ink d = InkOf(nv.receipts.at(0).paper);
    EXPECT_EQ(
        std::tuple(d.left, d.top, d.Width(), d.bottom, d.count, nv.receipts[0].paper.Get(15, 0)),
        std::tuple(0, 0, 16, 15, 32L, false));
    EXPECT_EQ(nv.lines.back(),
              "FS p print NV bit image 3: not drawn, no such NV bit image (FS q defines them)");
    // ESC * bands: 24-dot ones follow each other even with ESC 3 0; an 8-dot
    // single density dot is two dots wide and three high.
    const Bytes band = B("\x1B*\x21\x01\x00\xFF\x00\x01\n");
    const Recorder printed = Print(B("\x1B"
                                     "3\x00") +
                                       band + band,
                                   0, 576);
    const Raster& bands = printed.receipts.at(0).paper;
    const std::vector<int> column = {bands.Get(0, 7),  bands.Get(0, 8),  bands.Get(0, 23),
                                     bands.Get(0, 24), bands.Get(0, 31), bands.Get(0, 32)};
    EXPECT_EQ(column, (std::vector<int>{1, 0, 1, 1, 1, 0}));
    const Ink dot = Draw(B("\x1B*\x00\x01\x00\x80\n"));
    EXPECT_EQ(std::tuple(dot.left, dot.top, dot.Width(), dot.bottom, dot.count),
              std::tuple(0, 0, 2, 2, 6L));
    // GS v 0 is cut off at the GS W edge, 100 dots in.
    EXPECT_EQ(Draw(B("\x1DW\x64\x00\x1Dv0\x00\x18\x00\x01\x00") + Bytes(24, 0xFF)).right, 99);
    // So are GS ( L graphics.
    EXPECT_EQ(Draw(B("\x1DW\x64\x00\x1D(L\x22\x00\x30\x70\x30\x01\x01\x31\xC0\x00\x01\x00") +
                   Bytes(24, 0xFF) + kPrintBuffer)
                  .right,
              99);
}

TEST(ReceiptRenderer, EveryBarcodeAndSymbolReadsBack) {
    const std::tuple<Bytes, BarcodeFormat, std::string> cases[] = {
        {B("\x1Dk\x00"
           "03600029145\x00"),
         BarcodeFormat::UPCA, "036000291452"},
        {B("\x1Dk\x42\x07"
           "0425261"),
         BarcodeFormat::UPCE, "04252614"},
        {B("\x1Dh\x32\x1Dw\x02\x1Dk\x43\x0C"
           "400638133393"),
         BarcodeFormat::EAN13, "4006381333931"},
        {B("\x1Dk\x03"
           "9638507\x00"),
         BarcodeFormat::EAN8, "96385074"},
        {B("\x1Dk\x04*CODE39*\x00"), BarcodeFormat::Code39, "CODE39"},
        {B("\x1Dk\x46\x08"
           "12345678"),
         BarcodeFormat::ITF, "12345678"},
        {B("\x1Dk\x06"
           "A40156B\x00"),
         BarcodeFormat::Codabar, "40156"},
        {B("\x1Dk\x48\x06"
           "CODE93"),
         BarcodeFormat::Code93, "CODE93"},
        {B("\x1Dh\x28\x1DH\x02\x1Dk\x49\x0C{BVP-{C\x0C\x22{AX"), BarcodeFormat::Code128,
         "VP-1234X"},
        {B("\x1Dw\x02\x1Dk\x4A\x25(01)09521234543213(10)AB1{1") + B("(17)260101"),
         BarcodeFormat::Code128,
         "0109521234543213"
         "10AB1\x1D"
         "17260101"},
        {B("\x1Dk\x4F\x0A"
           "c{a1234567"),
         BarcodeFormat::Code128, "c{a1234567"},
        {B("\x1Dk\x4B\x0D"
           "0952123454321"),
         BarcodeFormat::DataBar, "09521234543213"},
        {B("\x1Dk\x4C\x0D"
           "2001234567890"),
         BarcodeFormat::DataBar, "20012345678909"},
        {B("\x1Dw\x02\x1Dk\x4E\x1F(01)09521234543213 (3103)001750"), BarcodeFormat::DataBarExpanded,
         "(01)09521234543213(3103)001750"},
        {B("\x1Dw\x02\x1Dk\x4E\x20"
           "010950110153000310AB12{117260101"),
         BarcodeFormat::DataBarExpanded, "(01)09501101530003(10)AB12(17)260101"},
        {B("\x1D(k\x03\x00\x31\x43\x04\x1D(k\x03\x00\x31\x45\x33\x1D(k\x1E\x00\x31\x50"
           "\x30https://vorpane.example/q/1\x1D(k\x03\x00\x31\x51\x30"),
         BarcodeFormat::QRCode, "https://vorpane.example/q/1"},
        {B("\x1D(k\x03\x00\x30\x43\x02\x1D(k\x0E\x00\x30\x50\x30PDF417 "
           "data\x1D(k\x03\x00\x30\x51\x30"),
         BarcodeFormat::PDF417, "PDF417 data"},
    };
    for (const auto& [bytes, format, text] : cases) {
        SCOPED_TRACE(text);
        const Recorder r = Print(B("\x1B"
                                   "a1") +
                                     bytes,
                                 0, 576);
        ASSERT_EQ(r.receipts.size(), 1u) << testing::PrintToString(r.lines);
        const Raster& paper = r.receipts[0].paper;
        EXPECT_EQ(ReadBack(paper, format), text);
        const Ink ink = InkOf(paper);
        if (format == BarcodeFormat::EAN13) {
            // GS h is the bars' height, GS w the module: 95 modules of 2 dots.
            EXPECT_EQ(std::pair(ink.Width(), ink.bottom - ink.top + 1), std::pair(190, 50));
        } else if (format == BarcodeFormat::Code128) {
            EXPECT_GT(ink.bottom, 40 + 8) << "HRI text below the bars";
        }
    }
}

// CODE128 takes its code sets from the data, so `{B12345` is 90 modules as on
// paper; symbols a printer would not print are left out, and the journal says why.
TEST(ReceiptRenderer, Code128KeepsItsCodeSetsAndRefusedSymbolsAreNoted) {
    EXPECT_EQ(Draw(B("\x1Dw\x02\x1Dk\x49\x07{B12345")).Width(), 180);
    const std::pair<Bytes, std::string> refused[] = {
        {B("\x1D(k\x03\x00\x31\x43\x10\x1D(k\x7B\x00\x31\x50\x30") + Bytes(120, 'a') +
             B("\x1D(k\x03\x00\x31\x51\x30"),
         "QR print: not drawn, wider than the paper"},
        {B("\x1Dk\x49\x05"
           "12345"),
         "not drawn, CODE128 data begins with no code set"},
        {B("\x1Dk\x49\x04{C\x64\x01"), "not drawn, CODE128 set C takes bytes 0 to 99"},
        {B("\x1Dk\x49\x04{A{{"), "not drawn, CODE128 data holds a character its"},
        {B("\x1Dk\x4D\x0D"
           "2001234567890"),
         "GS1 DataBar Limited 2001234567890: not drawn"},
        {B("\x1Dk\x4A\x04{201"), "not drawn, GS1-128 data holds an escape"},
    };
    for (const auto& [bytes, note] : refused) {
        const Recorder r = Print(bytes, 0, 576);
        EXPECT_TRUE(r.receipts.empty()) << note;
        EXPECT_TRUE(std::any_of(r.lines.begin(), r.lines.end(), [&](const std::string& line) {
            return line.find(note) != std::string::npos;
        })) << testing::PrintToString(r.lines);
    }
}

// What follows a barcode starts under it and under its HRI text, wherever
// that is: the ink of the barcode alone stays as it was.
TEST(ReceiptRenderer, TextAfterABarcodeStartsBelowItsHri) {
    for (const char position : {'0', '1', '2', '3'}) {
        SCOPED_TRACE(position);
        const Bytes barcode =
            B("\x1Dh\x28\x1DH") + Bytes{uint8_t(position)} + B("\x1Dk\x04*CODE39*\x00");
        const Recorder alone = Print(barcode, 0, 576);
        const Recorder followed = Print(barcode + Text("HHHH\n"), 0, 576);
        ASSERT_EQ(alone.receipts.size(), 1u);
        ASSERT_EQ(followed.receipts.size(), 1u);
        const Ink bars = InkOf(alone.receipts[0].paper);
        const Raster& paper = followed.receipts[0].paper;
        EXPECT_EQ(InkOf(paper, 0, bars.bottom + 1).count, bars.count);
        EXPECT_GT(InkOf(paper, bars.bottom + 1).count, 0);
    }
}

// The cutter is 96 dots below the head: GS V A/B feed there first, ESC i
// cuts where the paper stands, so the line just printed goes on to the next
// receipt, which starts with what lay between the cutter and the head.
TEST(ReceiptRenderer, CutsEndReceiptsPulsesAreMarkedAndThePngShowsThem) {
    const Recorder r =
        Print(Text("A\n") + B("\x1DVB\x00") + Text("B\n") +
                  B("\x1Bi\x1Bp\x00\x10\x10\x10\x14\x01\x01\x01") + Text("C\n") + B("\x1DVA\x00"),
              0, receipt::kPaper58Dots);
    ASSERT_EQ(r.receipts.size(), 2u);
    std::vector<CutKind> cuts;
    for (const auto& receipt : r.receipts) {
        EXPECT_EQ(receipt.paper.Width(), 384);
        cuts.push_back(receipt.cut);
    }
    EXPECT_EQ(cuts, (std::vector{CutKind::kPartial, CutKind::kFull}));
    EXPECT_EQ(r.receipts[0].paper.Height(), 30);
    const Ink carried = InkOf(r.receipts[1].paper);
    EXPECT_EQ(std::pair(carried.top / 30, carried.bottom / 30), std::pair(2, 3)) << "B, then C";
    ASSERT_EQ(r.receipts[1].drawerMarks.size(), 2u);
    EXPECT_EQ(r.receipts[1].drawerMarks[0].y, 96);
    EXPECT_EQ(r.receipts[1].drawerMarks[1].pin, 5);
    const receipt::Receipt& first = r.receipts[0];
    const auto rows = ReadPng(receipt::EncodeReceiptPng(first));
    ASSERT_EQ(rows.size(), size_t(first.paper.Height() + receipt::kTearLineRows));
    ASSERT_EQ(rows[0].size(), size_t(384 + receipt::kMarginDots));
    int wrong = 0;
    for (int y = 0; y < first.paper.Height(); ++y) {
        for (int x = 0; x < 384; ++x) {
            wrong += rows[y][x] != int(first.paper.Get(x, y));
        }
        wrong += rows[y][384] != 2;  // the grey margin
    }
    EXPECT_EQ(wrong, 0);
    // A partial cut is a dashed red line, a full one solid.
    const auto& tear = rows[first.paper.Height() + receipt::kTearLineRows / 2];
    EXPECT_EQ(std::pair(tear[0], tear[7]), std::pair(3, 0)) << "dashed";
    const receipt::Receipt& second = r.receipts[1];
    const auto marked = ReadPng(receipt::EncodeReceiptPng(second));
    EXPECT_EQ(marked.at(second.paper.Height() + receipt::kTearLineRows / 2)[7], 3) << "solid";
    EXPECT_EQ(marked[second.drawerMarks[0].y][386], 3) << "red drawer mark";
    // Scaled, each pixel is the dot (or margin) it came from.
    const auto scaled = ReadPng(receipt::EncodeReceiptPng(second, 3));
    ASSERT_EQ(scaled.size(), marked.size() * 3);
    ASSERT_EQ(scaled[0].size(), marked[0].size() * 3);
    for (size_t y = 0; y < scaled.size(); ++y) {
        for (size_t x = 0; x < scaled[y].size(); ++x) {
            wrong += scaled[y][x] != marked[y / 3][x / 3];
        }
    }
    EXPECT_EQ(wrong, 0);
}

TEST(ReceiptRenderer, EachProfileHasItsWidthColumnsAndStartMode) {
    for (const PrinterProfile& p : PrinterProfiles()) {
        // A line of as many cells as the profile has columns; one more wraps.
        const int columns = p.paperDots / p.cells.a.width;
        for (const int n : {columns, columns + 1}) {
            const Recorder r = Print(Text(std::string(size_t(n), 'H') + "\n"), 0, 0, &p);
            ASSERT_EQ(r.receipts.size(), 1u) << p.name;
            EXPECT_EQ(r.receipts[0].paper.Width(), p.paperDots) << p.name;
            const Ink ink = InkOf(r.receipts[0].paper);
            EXPECT_EQ(ink.bottom < p.cells.a.height, n == columns) << p.name << " " << n;
            EXPECT_LE(ink.right, columns * p.cells.a.width) << p.name << " " << n;
        }
    }
    // Code-page characters the font lacks are still drawn, not boxed.
    const auto font = receipt::OpenFontGlyphs(receipt::DefaultFontPath()).glyphs;
    const auto boxes = receipt::MakeBoxGlyphs();
    for (const char32_t code : {U'ｱ', U'ﾟ', U'▀', U'▐', U'∙', U'─'}) {
        const receipt::Glyph& g = font->Get(code, receipt::Font::kA, false);
        EXPECT_EQ(g.width, 12);
        EXPECT_NE(g.dots, boxes->Get(code, receipt::Font::kA, false).dots) << uint32_t(code);
    }
    // Out of Chinese mode from power-on, and back there after ESC @.
    EXPECT_EQ(Print(B("\x82\x1B@\x82\n"), 0, 0, nullptr, false).lines,
              (Lines{"text: é", "ESC @ initialise", "text: é"}));
}

TEST(ReceiptRenderer, AbsurdSizesAndRandomBytesStayBounded) {
    const Recorder tall = Print(B("\x1Dv0\x03\x01\x00\xFF\xFF") + Bytes(9000, 0x81), 0, 576);
    ASSERT_EQ(tall.receipts.size(), 1u);
    EXPECT_TRUE(tall.receipts[0].capped);
    EXPECT_EQ(tall.receipts[0].paper.Height(), receipt::kMaxReceiptDots);
    EXPECT_EQ(tall.lines, (Lines{"GS v 0 raster image 8 x 65535 dots, quadruple",
                                 "receipt longer than 16384 dots: the rest of it is not drawn",
                                 "truncated: 1D 76 30 03 01 00 FF FF after 9000 of 65535 bytes"}));
    const Recorder wide = Print(B("\x1Dv0\x00\xFF\xFF\xFF\xFF") + RandomBytes(200000, 2), 0, 576);
    EXPECT_EQ(wide.receipts.at(0).paper.Height(), 3);
    for (unsigned seed = 1; seed <= 3; ++seed) {
        for (const auto& receipt : Print(RandomBytes(1 << 19, seed), 0, 576).receipts) {
            EXPECT_LE(receipt.paper.Height(), receipt::kMaxReceiptDots);
        }
    }
}

TEST(ReceiptRenderer, EachKindOfItemIsCappedPerReceiptWithOneJournalLine) {
    auto times = [](const Bytes& b, int n) {
        Bytes out;
        for (int i = 0; i < n; ++i) {
            out = out + b;
        }
        return out;
    };
    const std::tuple<Bytes, std::string, size_t> cases[] = {
        {times(B("\x1B*\x00\x00\x00"), 20000), "16384 column images", 0},
        {times(B("\x1BJ\x01\x1Bp\x00\x10\x10"), 300), "256 drawer pulses", 256},
        {Bytes(140000, 'x'), "131072 characters", 0},
        {times(B("\x1Dk\x04"
                 "A\x00"),
               1100),
         "1024 barcodes and symbols", 0},
    };
    for (const auto& [bytes, what, marks] : cases) {
        const Recorder r = Print(bytes + B("\x1DVA\x00") + bytes, 0, 576);
        const std::string note = "receipt holds " + what + ": the rest of them are not drawn";
        EXPECT_EQ(std::count(r.lines.begin(), r.lines.end(), note), 2) << what;
        if (marks > 0) {
            ASSERT_EQ(r.receipts.size(), 2u);
            EXPECT_EQ(r.receipts[0].drawerMarks.size(), marks);
        }
    }
    // Pulses where the last one was draw nothing new and are not kept.
    EXPECT_EQ(Print(times(B("\x1Bp\x00\x10\x10"), 5000), 0, 576).receipts.at(0).drawerMarks.size(),
              1u);
}

double ThreadCpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

TEST(ReceiptPng, ManyDrawerMarksCostTheirNumberNotTimesTheRows) {
    // The same receipt without marks is the yardstick, taken in this
    // process, so a slow or busy machine moves both figures alike.
    auto encodeSeconds = [](const receipt::Receipt& receipt, std::vector<uint8_t>& png) {
        const double start = ThreadCpuSeconds();
        png = receipt::EncodeReceiptPng(receipt);
        return ThreadCpuSeconds() - start;
    };
    receipt::Receipt receipt(576, receipt::kMaxReceiptDots);
    receipt.paper.Reserve(receipt::kMaxReceiptDots);
    std::vector<uint8_t> png;
    const double plain = encodeSeconds(receipt, png);
    for (int i = 0; i < 200000; ++i) {
        receipt.drawerMarks.push_back({i * 7 % receipt::kMaxReceiptDots, i % 2 ? 5 : 2});
    }
    const double marked = encodeSeconds(receipt, png);
    std::printf("[ figures  ] 16384 rows: %.3f s, with 200000 marks: %.3f s\n", plain, marked);
    // Rows times marks is 3.3e9 steps, some thousand times the plain
    // picture; rows plus marks is some twenty times.
    EXPECT_LT(marked, 150 * plain + 0.5);
    EXPECT_EQ(ReadPng(png).at(7).at(578), 3) << "a mark is still drawn";
}

// The picture is exactly as wide as the paper and its margin, also when the
// last byte of a row is only partly used.
TEST(ReceiptPng, RowsEndAtTheMargin) {
    for (const int paper : {30, 31, 384}) {
        receipt::Receipt receipt(paper, 8);
        receipt.paper.Reserve(3);
        receipt.paper.Set(paper - 1, 1);
        const auto rows = ReadPng(receipt::EncodeReceiptPng(receipt));
        ASSERT_EQ(rows.size(), 3u) << paper;
        ASSERT_EQ(rows[1].size(), size_t(paper + receipt::kMarginDots)) << paper;
        EXPECT_EQ(rows[1][paper - 1], 1) << paper;
        EXPECT_EQ(rows[1][paper], 2) << paper;
        EXPECT_EQ(rows[1].back(), 2) << paper;
    }
}

TEST(ReceiptPng, TemporaryFileNeverFollowsALinkPlantedAtItsName) {
    const std::string dir = testing::TempDir() + "planted-" + std::to_string(::getpid());
    std::filesystem::create_directories(dir);
    const std::string target = dir + "/precious";
    std::ofstream(target) << "keep me";
    const std::string path = dir + "/000001-session-1.png";
    std::filesystem::create_symlink(target, path + ".part");
    std::filesystem::create_symlink(dir + "/nowhere", path + ".1.part");  // dangling
    EXPECT_EQ(receipt::WriteFileAtomically(path, Text("picture")), "");
    std::ostringstream kept, written;
    kept << std::ifstream(target).rdbuf();
    written << std::ifstream(path).rdbuf();
    EXPECT_EQ(kept.str(), "keep me");
    EXPECT_EQ(written.str(), "picture");
    EXPECT_FALSE(std::filesystem::exists(dir + "/nowhere"));
    EXPECT_TRUE(std::filesystem::is_symlink(path + ".part"));
    std::filesystem::remove_all(dir);
}

// Counts the encodings it passes on.
struct CountingEncoder final : receipt::SymbolEncoder {
    receipt::Symbol Encode(const receipt::SymbolRequest& request) override {
        ++count;
        return inner->Encode(request);
    }
    std::unique_ptr<receipt::SymbolEncoder> inner = receipt::MakeSymbolEncoder();
    int count = 0;
};

struct NoteSink final : receipt::ReceiptEvents {
    void OnReceipt(receipt::Receipt receipt) override { receipts.push_back(std::move(receipt)); }
    void OnNote(std::string) override {}
    std::vector<receipt::Receipt> receipts;
};

TEST(ReceiptRenderer, AStoredSymbolIsEncodedOnceUntilItChanges) {
    const Bytes store = B("\x1D(k\x06\x00\x31\x50\x30qr-1");
    const Bytes print = B("\x1D(k\x03\x00\x31\x51\x30");
    const Bytes pdfStore = B("\x1D(k\x07\x00\x30\x50\x30pdf-1");
    const Bytes pdfPrint = B("\x1D(k\x03\x00\x30\x51\x30");
    const std::pair<Bytes, int> cases[] = {
        {store + print + print + print, 1},
        {store + print + B("\x1D(k\x03\x00\x31\x45\x33") + print + print, 2},  // level H
        {store + print + store + print, 2},
        {store + print + B("\x1D(k\x03\x00\x31\x45\x31") + print + B("\x1D(k\x03\x00\x31\x45\x30") +
             print + B("\x1D(k\x03\x00\x31\x45\x31") + print,
         2},  // back to a level printed before
        {store + print + B("\x1D(k\x03\x00\x31\x43\x08") + print, 1},  // module size only
        {pdfStore + pdfPrint + pdfPrint + B("\x1D(k\x03\x00\x30\x41\x04") + pdfPrint, 2},
    };
    static const auto glyphs = receipt::MakeBoxGlyphs();
    for (const auto& [bytes, encodings] : cases) {
        CountingEncoder symbols;
        NoteSink sink;
        receipt::ReceiptRenderer renderer(*glyphs, symbols, sink);
        escpos::CommandDecoder decoder(renderer, true);
        decoder.Feed(bytes.data(), bytes.size());
        decoder.Finish();
        renderer.Finish();
        EXPECT_EQ(symbols.count, encodings) << HexBytes(bytes.data(), bytes.size());
        ASSERT_EQ(sink.receipts.size(), 1u);
        EXPECT_GT(InkOf(sink.receipts[0].paper).count, 1000);
    }
}

// Inputs that redraw something large for a few bytes stop drawing at their
// receipt's or session's budget of work, which the journal says once; what
// was drawn before stays.
TEST(ReceiptRenderer, RedrawingInputsStopAtTheirWorkBudget) {
    const std::pair<const hostile::Input&, const char*> cases[] = {
        {hostile::kInputs[0], "receipt drew "},
        {hostile::kInputs[1], "receipt drew "},
        {hostile::kInputs[3], "session drew "}};
    for (const auto& [input, note] : cases) {
        const Recorder r = Print(input.make(200 * 1024) + Text("\f"), 16384, receipt::kPaper80Dots);
        EXPECT_EQ(std::count_if(r.lines.begin(), r.lines.end(),
                                [note](const std::string& l) { return l.starts_with(note); }),
                  1)
            << input.name;
        EXPECT_LE(r.work, receipt::kMaxSessionWork) << input.name;
        EXPECT_GT(r.work, receipt::kMaxReceiptWork / 2) << input.name;
        ASSERT_FALSE(r.receipts.empty()) << input.name;
        EXPECT_GT(InkOf(r.receipts[0].paper).count, 100000) << input.name;
    }
}

// The bytes an npm client script writes, printed on 80 mm paper.
Recorder PrintFromNpmClient(const std::string& script) {
    const std::string dir = NPM_CLIENT_DIR;
    EXPECT_TRUE(std::filesystem::exists(dir + "/node_modules/receiptline"))
        << "run 'npm ci' in " << dir << " (scripts/test.sh does)";
    const std::string out = testing::TempDir() + script + ".bin";
    EXPECT_EQ(std::system(("node '" + dir + "/" + script + "' '" + out + "'").c_str()), 0);
    std::ostringstream bytes;
    bytes << std::ifstream(out, std::ios::binary).rdbuf();
    return Print(Text(bytes.str()), 0, 576);
}

// Whether a row of the paper holds one run of ink from `left` to `right`.
bool HasInkRun(const Raster& paper, int left, int right) {
    for (int y = 0; y < paper.Height(); ++y) {
        const Ink row = InkOf(paper, y, y + 1);
        if (row.left == left && row.right == right && row.count == right - left + 1) {
            return true;
        }
    }
    return false;
}

TEST(ReceiptRenderer, ReceiptOfAThirdPartyClientReadsBack) {
    if (std::system("command -v node >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "node is not installed: the npm client test is skipped";
    }
    const Recorder r = PrintFromNpmClient("receipt.js");
    for (const char* line :
         {"ESC R character set 15 (China)", "text: VORPANE CAFE", "text: 欢迎光临 谢谢惠顾",
          "GS B reverse on", "GS v 0 raster image 96 x 48 dots, normal", "GS k CODE128 {BVP-1042",
          "GS ( k QR print", "GS V full cut"}) {
        EXPECT_NE(std::find(r.lines.begin(), r.lines.end(), line), r.lines.end()) << line;
    }
    ASSERT_EQ(r.receipts.size(), 1u);
    const receipt::Receipt& receipt = r.receipts[0];
    EXPECT_EQ(receipt.cut, CutKind::kFull);
    EXPECT_EQ(receipt.drawerMarks.size(), 1u);
    EXPECT_EQ(ReadBack(receipt.paper, BarcodeFormat::Code128), "VP-1042");
    EXPECT_EQ(ReadBack(receipt.paper, BarcodeFormat::QRCode), "https://vorpane.example/r/1042");
    // The Chinese line is centred, nine cells of two wide; the image's top
    // edge is one row of 96 dots in the middle of the paper.
    const Ink chinese = InkOf(receipt.paper, 30, 60);
    EXPECT_GT(chinese.Width(), 8 * 24 - 6);
    EXPECT_NEAR(chinese.left + chinese.right, 576, 24);
    EXPECT_TRUE(HasInkRun(receipt.paper, 240, 335));
}

// receiptline draws its rule with code page 1's box character 0x95 and sends
// its QR code and image as GS 8 L graphics printed with GS ( L.
TEST(ReceiptRenderer, ReceiptlineDocumentReadsBack) {
    if (std::system("command -v node >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "node is not installed: the npm client test is skipped";
    }
    const Recorder r = PrintFromNpmClient("receiptline.js");
    ASSERT_FALSE(r.receipts.empty()) << testing::PrintToString(r.lines);
    const receipt::Receipt& receipt = r.receipts[0];
    EXPECT_EQ(receipt.cut, CutKind::kPartial);
    EXPECT_EQ(ReadBack(receipt.paper, BarcodeFormat::QRCode), "https://vorpane.example/rl/7");
    EXPECT_TRUE(HasInkRun(receipt.paper, 0, 575)) << "the rule is one line across the paper";
    EXPECT_TRUE(HasInkRun(receipt.paper, 240, 335)) << "the image's top edge";
    // The title, double height, stands above the rule in the middle.
    const Ink title = InkOf(receipt.paper, 0, 44);
    EXPECT_GT(title.Width(), 19 * 12 - 12);
    EXPECT_NEAR(title.left + title.right, 576, 24);
    for (const char* line :
         {"text: VORPANE RECEIPTLINE", "text: Coffee", "GS ( L print graphics"}) {
        EXPECT_NE(std::find(r.lines.begin(), r.lines.end(), line), r.lines.end()) << line;
    }
}

}  // namespace
}  // namespace vorpane
