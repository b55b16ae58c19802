#pragma once
// One decoded ESC/POS command, as the decoder hands it to its sinks (the
// journal, the renderer, the virtual printer's session): a struct per kind
// of command, holding what it means, built once by the decoder's table.
// Spans point into the decoder's buffers and are valid only during the call.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <variant>

namespace vorpane::escpos {

// How the printer turns text bytes into characters at the moment.
struct TextMode {
    bool chinese = true;   // GB18030 multi-byte characters (FS & on, FS . off)
    uint8_t codePage = 0;  // ESC t: table for bytes 0x80..0xFF outside Chinese mode
    uint8_t charset = 0;   // ESC R: international variant of a few ASCII positions
    bool operator==(const TextMode&) const = default;
};

// The raster images of GS ( L and GS 8 L (graphics.h reads them).
struct RasterGraphics {
    int width = 0;  // dots
    int height = 0;
    int scaleX = 1;
    int scaleY = 1;
    int colour = 1;                 // 1..4; a one-colour printer prints colour 1
    uint16_t key = 0;               // of an NV image
    std::span<const uint8_t> rows;  // (width + 7) / 8 bytes a row; short when cut off

    size_t Stride() const { return (static_cast<size_t>(width) + 7) / 8; }
    size_t Expected() const { return Stride() * static_cast<size_t>(height); }
};

enum class Alignment : uint8_t { kLeft, kCentre, kRight };
enum class CutKind : uint8_t { kNone, kFull, kPartial };
enum class BarcodeSymbology : uint8_t {
    kUpcA,
    kUpcE,
    kEan13,
    kEan8,
    kCode39,
    kItf,
    kCodabar,
    kCode93,
    kCode128,  // data with its own code set changes
    kGs1_128,  // code sets chosen here, FNC1 first
    kDataBar,  // omnidirectional
    kDataBarTruncated,
    kDataBarLimited,
    kDataBarExpanded,
    kCode128Auto,  // code sets chosen here
};
enum class SymbolKind : uint8_t { kPdf417, kQr, kOther };
// GS ( k functions; kSelect is the QR model or the PDF417 columns.
enum class SymbolFunction : uint8_t {
    kSelect,
    kRows,
    kModule,
    kRowHeight,
    kErrorCorrection,
    kOptions,
    kStore,
    kPrint,
    kSizeRequest,
    kOther,
};
// GS ( L / GS 8 L: store an image in the print buffer, print it; define an
// NV image under a two-byte key, print it.
enum class GraphicsFunction : uint8_t { kStore, kPrint, kDefineNv, kPrintNv, kOther };

struct Text {
    std::span<const uint8_t> bytes;  // printable bytes, whole characters
    TextMode mode;
};
struct LineFeed {};
struct CarriageReturn {};
struct Tab {};
struct Control {
    uint8_t byte = 0;  // any other control byte outside a command
};
struct Initialise {};
struct PrintMode {  // ESC !
    bool fontB = false;
    bool bold = false;
    bool doubleHeight = false;
    bool doubleWidth = false;
    bool underline = false;
};
struct SelectFont {
    int font = 0;  // 0 A, 1 B, 2 C
};
struct CharacterSize {
    int width = 1;  // 1..8
    int height = 1;
};
struct Bold {
    bool on = false;
};
struct DoubleStrike {
    bool on = false;
};
struct Underline {
    int dots = 0;  // 0..2
};
struct Reverse {
    bool on = false;
};
struct Align {
    Alignment align = Alignment::kLeft;
};
struct UpsideDown {
    bool on = false;
};
struct Rotate90 {
    bool on = false;
};
struct RightSpacing {
    int dots = 0;
};
struct DefaultLineSpacing {};
struct LineSpacing {
    int dots = 0;
};
struct TabStops {
    std::span<const uint8_t> stops;  // in characters, ascending
};
struct FeedLines {
    int lines = 0;
};
struct FeedDots {
    int dots = 0;
};
struct LeftMargin {
    int dots = 0;
};
struct PrintWidth {
    int dots = 0;
};
struct AbsolutePosition {
    int dots = 0;
};
struct RelativePosition {
    int dots = 0;  // signed
};
struct CodePage {
    int page = 0;
};
struct CharacterSet {
    int set = 0;
};
struct ChineseMode {
    bool on = false;
};
struct ChinesePrintMode {  // FS !
    bool doubleWidth = false;
    bool doubleHeight = false;
    bool underline = false;
};
struct ChineseUnderline {
    int dots = 0;
};
struct RasterImage {  // GS v 0; its rows follow as RasterRow
    int width = 0;    // dots, a multiple of 8
    int height = 0;   // rows
    int scaleX = 1;
    int scaleY = 1;
};
struct RasterRow {
    std::span<const uint8_t> bits;
};
struct ColumnImage {             // ESC *
    bool tall = false;           // 24 dots a column, else 8
    bool doubleDensity = false;  // else each column prints twice
    bool knownMode = false;      // one of the four modes the printer names
    int mode = 0;                // as sent, for the journal
    int columns = 0;
    std::span<const uint8_t> data;
};
struct BarcodeHeight {
    int dots = 0;
};
struct BarcodeWidth {
    int dots = 0;
};
struct HriPosition {
    bool above = false;
    bool below = false;
};
struct HriFont {
    bool fontB = false;
};
struct Barcode {
    BarcodeSymbology symbology = BarcodeSymbology::kCode128;
    std::span<const uint8_t> data;
};
struct Symbol2D {  // GS ( k
    SymbolKind kind = SymbolKind::kOther;
    SymbolFunction function = SymbolFunction::kOther;
    int cn = 0;  // as sent, for a symbol or function not drawn
    int fn = 0;
    std::span<const uint8_t> params;  // the bytes after fn
};
struct Graphics {  // GS ( L, GS 8 L
    GraphicsFunction function = GraphicsFunction::kOther;
    int fn = 0;                           // as sent, for a function not drawn
    size_t bytes = 0;                     // after the length
    std::optional<RasterGraphics> image;  // for kStore, kDefineNv and kPrintNv (key and scale)
};
struct NvBitImage {  // one image of FS q
    int number = 0;  // 1..count
    int count = 0;
    int width = 0;  // dots
    int height = 0;
    std::span<const uint8_t> columns;  // height / 8 bytes each, top first
};
struct PrintNvBitImage {  // FS p
    int number = 0;
    int scaleX = 1;
    int scaleY = 1;
};
struct PageMode {};
struct StandardMode {};
struct PageArea {  // ESC W, in dots
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};
struct PageDirection {
    int direction =
        0;  // 0..3 left to right, bottom to top, right to left, top to bottom; others ignored
};
struct PageVertical {  // GS $ from the start, GS \ from here
    int dots = 0;
    bool relative = false;
};
struct PrintPage {
    bool keepPage = false;  // ESC FF; FF returns to standard mode
};
struct CancelPage {};
struct Cut {
    CutKind kind = CutKind::kFull;
    int feedDots = 0;            // fed first
    bool toCutterFirst = false;  // what was printed is brought to the cutter first
};
struct Drawer {
    int pin = 2;  // 2 or 5
    int onMs = 0;
    int offMs = 0;
    bool realTime = false;  // DLE DC4: one pulse of onMs
};
// The requests a session answers from the printer's state.
struct StatusRequest {
    // DLE EOT n, GS r n, GS I n, GS a n; kProcessId: GS ( H fn 48, answered
    // once everything before it printed.
    enum class Kind : uint8_t { kRealTime, kTransmit, kPrinterId, kAutomatic, kProcessId };
    Kind kind = Kind::kRealTime;
    uint8_t n = 0;
    std::array<uint8_t, 4> id{};  // kProcessId: its four digits
};
// GS D sets the address, GS E the MAC; they carry the sum of their payload.
struct ConfigFrame {
    enum class Kind : uint8_t { kAddress, kMac };
    Kind kind = Kind::kAddress;
    std::array<uint8_t, 6> value{};  // the address in the first four
    uint8_t checksum = 0;
    uint8_t expected = 0;
    bool checksumOk = false;
};
struct Named {  // a known command nothing here acts on
    const char* name = nullptr;
};
struct Skipped {  // passed over by its length
    int64_t bytes = 0;
    bool threePartName = false;  // GS ( x, FS ( x, ...
};
struct Unknown {};          // an unknown ESC/GS/FS/DLE pair (or triple)
struct Truncated {          // cut off by the end
    int64_t received = -1;  // -1 unknown
    int64_t expected = -1;
};

using CommandBody =
    std::variant<Text, LineFeed, CarriageReturn, Tab, Control, Initialise, PrintMode, SelectFont,
                 CharacterSize, Bold, DoubleStrike, Underline, Reverse, Align, UpsideDown, Rotate90,
                 RightSpacing, DefaultLineSpacing, LineSpacing, TabStops, FeedLines, FeedDots,
                 LeftMargin, PrintWidth, AbsolutePosition, RelativePosition, CodePage, CharacterSet,
                 ChineseMode, ChinesePrintMode, ChineseUnderline, RasterImage, RasterRow,
                 ColumnImage, BarcodeHeight, BarcodeWidth, HriPosition, HriFont, Barcode, Symbol2D,
                 Graphics, NvBitImage, PrintNvBitImage, PageMode, StandardMode, PageArea,
                 PageDirection, PageVertical, PrintPage, CancelPage, Cut, Drawer, StatusRequest,
                 ConfigFrame, Named, Skipped, Unknown, Truncated>;

struct Command {
    CommandBody body;
    // The command's bytes as sent: its own, and its payload. The journal
    // names a command by them and knows one sent again.
    std::span<const uint8_t> head;
    std::span<const uint8_t> data;

    template <typename T>
    const T* Get() const {
        return std::get_if<T>(&body);
    }
};

// For std::visit: one lambda per kind of command.
template <typename... Fs>
struct Overloaded : Fs... {
    using Fs::operator()...;
};
template <typename... Fs>
Overloaded(Fs...) -> Overloaded<Fs...>;

class CommandSink {
public:
    virtual ~CommandSink() = default;
    virtual void OnCommand(const Command& command) = 0;
};

}  // namespace vorpane::escpos
