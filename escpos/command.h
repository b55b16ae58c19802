#pragma once
// One decoded ESC/POS command, as the decoder hands it to its sinks (the
// journal, the renderer, the virtual printer's session). Spans point into
// the decoder's buffers and are valid only during the call.

#include <cstddef>
#include <cstdint>
#include <span>

namespace vorpane::escpos {

// How the printer turns text bytes into characters at the moment.
struct TextMode {
    bool chinese = true;   // GB18030 multi-byte characters (FS & on, FS . off)
    uint8_t codePage = 0;  // ESC t: table for bytes 0x80..0xFF outside Chinese mode
    uint8_t charset = 0;   // ESC R: international variant of a few ASCII positions
    bool operator==(const TextMode&) const = default;
};

enum class Op : uint8_t {
    kText,                // data: printable bytes, whole characters; mode
    kLineFeed,            // LF
    kCarriageReturn,      // CR
    kTab,                 // HT
    kControl,             // any other control byte outside a command; data: the byte
    kInitialise,          // ESC @
    kPrintMode,           // ESC ! a
    kFont,                // ESC M a (0 A, 1 B)
    kCharacterSize,       // GS ! : a width, b height (1..8)
    kBold,                // ESC E a
    kDoubleStrike,        // ESC G a
    kUnderline,           // ESC - a (0..2 dots)
    kReverse,             // GS B a
    kAlign,               // ESC a a (0 left, 1 centre, 2 right)
    kUpsideDown,          // ESC { a (0 off, 1 on)
    kRotate90,            // ESC V a (0 off, 1 clockwise)
    kRightSpacing,        // ESC SP a dots
    kDefaultLineSpacing,  // ESC 2
    kLineSpacing,         // ESC 3 a dots
    kTabStops,            // ESC D: data the stops, in characters
    kFeedLines,           // ESC d a
    kFeedDots,            // ESC J a
    kLeftMargin,          // GS L a dots
    kPrintWidth,          // GS W a dots
    kAbsolutePosition,    // ESC $ a dots
    kRelativePosition,    // ESC \ a dots, signed
    kCodePage,            // ESC t a
    kCharacterSet,        // ESC R a
    kChineseMode,         // FS & (a = 1), FS . (a = 0)
    kChinesePrintMode,    // FS ! a
    kChineseUnderline,    // FS - a
    kRasterImage,         // GS v 0: a width in bytes, b height in rows, c scale mode 0..3
    kRasterRow,           // one row of the raster image before it; data: the row
    kColumnImage,         // ESC *: a mode (0, 1, 32, 33), b columns; data
    kBarcodeHeight,       // GS h a
    kBarcodeWidth,        // GS w a
    kHriPosition,         // GS H a (0 none, 1 above, 2 below, 3 both)
    kHriFont,             // GS f a
    kBarcode,             // GS k: a symbology (65..79, form A numbers moved up); data
    kSymbol,              // GS ( k: a cn, b fn; data: the bytes after fn
    kGraphics,            // GS ( L, GS 8 L: a m, b fn; data: the bytes after fn (graphics.h)
    kNvBitImage,          // one image of FS q: a its number, b width, c height in dots;
                          // data: its columns, height / 8 bytes each, top first
    kPrintNvBitImage,     // FS p: a number, b scale mode 0..3
    kPageMode,            // ESC L
    kStandardMode,        // ESC S
    kPageArea,            // ESC W: a x, b y, c width, d height, in dots
    kPageDirection,       // ESC T a (0..3 the directions, others ignored)
    kPageVertical,        // GS $ (b 0) a dots from the start; GS \ (b 1) a dots, signed
    kPrintPage,           // FF (a 0: back to standard mode), ESC FF (a 1: page kept)
    kCancelPage,          // CAN
    kCut,                 // GS V, ESC i, ESC m: a 1 partial / 0 full, b feed dots, c GS V's m
    kDrawer,              // ESC p / DLE DC4 1: a pin (2 or 5), b on ms, c off ms
    kStatusRequest,       // a n; b 0 DLE EOT (n 1..4), 1 GS r, 2 GS I, 3 GS a,
                          // 4 GS ( H fn 48 (c its four digits, first highest)
    kAddressFrame,        // GS D a b c d sum; head holds it
    kMacFrame,            // GS E b0..b5 sum; head holds it
    kNamed,               // a known command nothing here acts on; name
    kSkipped,             // a command passed over by its length; name, a total bytes
    kUnknown,             // an unknown ESC/GS/FS/DLE pair (or triple); head
    kTruncated,           // a command cut off by the end; head, a bytes received, b expected
};

struct Command {
    explicit Command(Op o = Op::kControl) : op(o) {}

    Op op;
    int64_t a = 0;
    int64_t b = 0;
    int64_t c = 0;
    int64_t d = 0;
    std::span<const uint8_t> head;  // the command's own bytes, without a long payload
    std::span<const uint8_t> data;  // its payload, see Op
    TextMode mode;                  // for kText
    const char* name = nullptr;     // for kNamed and kSkipped
};

class CommandSink {
public:
    virtual ~CommandSink() = default;
    virtual void OnCommand(const Command& command) = 0;
};

// Configuration frames carry the sum of their payload bytes, modulo 256.
inline bool FrameChecksumOk(std::span<const uint8_t> frame) {
    unsigned sum = 0;
    for (size_t i = 2; i + 1 < frame.size(); ++i) {
        sum += frame[i];
    }
    return frame.size() > 2 && static_cast<uint8_t>(sum) == frame.back();
}

}  // namespace vorpane::escpos
