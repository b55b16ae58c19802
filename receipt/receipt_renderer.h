#pragma once
// The printing mechanism of the virtual printer: decoded commands go in,
// pieces of paper (receipts) come out as rasters of printer dots. It follows a
// printer in standard mode: text gathers in a line until LF (or the line is
// full), ESC a, GS L and GS W take effect at the start of a line, ESC { from
// the next line begun (the whole line printed upside down), images and
// symbols print at once, a cut ends the receipt. In page mode (ESC L) all of
// that goes into a page instead, in the area of ESC W turned to the direction
// of ESC T, and the page prints whole on FF or ESC FF.

#include <iterator>
#include <memory>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "escpos/command.h"
#include "escpos/text_codec.h"
#include "receipt/glyphs.h"
#include "receipt/raster.h"
#include "receipt/symbols.h"

namespace vorpane::receipt {

// 80 mm and 58 mm paper at 203 dpi, the most common printers.
constexpr int kPaper80Dots = 576;
constexpr int kPaper58Dots = 384;
// About 2 m of paper: a receipt longer than this is cut short, so that one
// session cannot take unbounded memory.
constexpr int kMaxReceiptDots = 16384;
// The tallest page area, and the one ESC W starts with: about 21 cm.
constexpr int kPageMaxDots = 1662;
// Default line spacing (ESC 2), in dots.
constexpr int kDefaultLineSpacing = 30;

// What one receipt may hold of each kind of item, well past a real one
// (2 m of Font B text is about 60000 characters); past it further items are
// dropped, so that a flood of commands that take no paper (zero-width
// images, drawer pulses) costs neither memory nor time.
// Prints of stored and NV images count as items too: each is a whole image
// for a few bytes.
enum class ItemKind : uint8_t { kCharacter, kColumnImage, kSymbol, kDrawerPulse, kStoredPrint };
constexpr size_t kMaxReceiptItems[] = {131072, 16384, 1024, 256, 1024};

// Drawing work, in dots written where images, symbols, page areas and
// upside-down lines are drawn (an encoding counts as the dots it costs about
// as much as): what one receipt and one session may take. A few bytes can
// redraw a large image or area again and again; past either budget they are
// not drawn, so that any input renders in bounded time. A receipt as long as
// allowed and inked all over is about 9.4 million dots.
constexpr uint64_t kMaxReceiptWork = uint64_t{1} << 26;
constexpr uint64_t kMaxSessionWork = uint64_t{1} << 30;
// What encoding a symbol counts as, per byte of its data and once.
constexpr uint64_t kEncodeWorkPerByte = 4096;
constexpr uint64_t kEncodeWork = 65536;

struct RenderOptions {
    int paperDots = kPaper80Dots;
    int maxReceiptDots = kMaxReceiptDots;
    // From the print head down to the cutter, about 12 mm: what is printed
    // within this distance of a cut ends up on the next receipt.
    int cutterOffsetDots = 96;
};

class ReceiptEvents {
public:
    virtual ~ReceiptEvents() = default;
    virtual void OnReceipt(Receipt receipt) = 0;
    // A line for the journal: what was not drawn, and why.
    virtual void OnNote(std::string line) = 0;
    // Whether the receipt or page may take `bytes` more; past a printer's
    // memory it stops growing, as when it is as long as allowed.
    virtual bool MayGrow(size_t bytes) {
        (void)bytes;
        return true;
    }
};

class ReceiptRenderer final : public escpos::CommandSink {
public:
    ReceiptRenderer(GlyphSource& glyphs, SymbolEncoder& symbols, ReceiptEvents& events,
                    RenderOptions options = {});
    ~ReceiptRenderer() override;

    void OnCommand(const escpos::Command& command) override;
    // End of the session: prints the line held and hands on the receipt when
    // anything is on it.
    void Finish();
    // The receipt being printed, as far as the paper has come out; null
    // before anything was printed on it.
    const Receipt* Current() const { return m_receipt.get(); }
    // The drawing work the session has taken of its budget.
    uint64_t Work() const { return m_sessionWork; }
    // Bytes held between commands: the receipt and page, the line's image
    // bands and the stored images.
    size_t HeldBytes() const;
    // The largest stored image (the print buffer's, an NV graphic or an NV
    // bit image), dropped when `drop`: its bytes and a name for the journal,
    // 0 when none is left.
    size_t DropLargestImage(std::string& name, bool drop);

private:
    struct Style;
    struct Item;
    struct StoredImages;  // graphics_print.cpp
    struct Page;

    // Where drawing goes: the receipt, or in page mode the page's area.
    Raster& Paper();
    int MaxY() const;
    int PaperY() const;
    void NewArea();
    // Opens a blank area for the ESC W area and ESC T direction in force.
    void OpenArea();
    // Puts the area's ink on the page, in its direction, and blanks the area.
    void ComposeArea();
    // Draws the line held where it stands; the position stays.
    void PlaceLine();
    void PrintPage(bool keep);
    void EndPage();

    void Reset();
    void AddText(const escpos::Text& text);
    void AddCharacter(char32_t code, bool wide);
    // The glyph turned a quarter clockwise, made once per glyph.
    const Glyph& Turned(const Glyph& glyph);
    void AddColumnImage(const escpos::ColumnImage& image);
    void Tab();
    // Prints the line held; the paper then moves by `feed` dots, or by the
    // line spacing (at least the line's height) when feed is negative.
    void PrintLine(int feed = -1);
    void Feed(int dots);
    bool Room(int bottom);
    // Counts an item of the receipt; false, with one journal line the first
    // time, when the receipt holds all it may of that kind.
    bool Take(ItemKind kind);
    // Counts drawing work on the receipt and the session; false, with one
    // journal line the first time, when either has taken its budget (unless
    // `force`).
    bool Spend(uint64_t dots, bool force = false);
    bool SpendEncoding(size_t bytes) { return Spend(kEncodeWork + kEncodeWorkPerByte * bytes); }
    void BeginRaster(const escpos::RasterImage& image, const escpos::Command& command);
    void RasterRow(const escpos::RasterRow& row);
    void Barcode(const escpos::Barcode& barcode, const escpos::Command& command);
    void Symbol2D(const escpos::Symbol2D& symbol);
    // The stored QR or PDF417 symbol, encoded once for its data and
    // parameters; null when the work budget is spent.
    const Symbol* StoredSymbol(const SymbolRequest& request, bool qr);
    void DrawSymbol(const Symbol& symbol, int moduleWidth, int moduleHeight, bool hri);
    void DrawText(const std::string& text, int x, int y, Font font);
    // GS ( L, GS 8 L, FS q and FS p: images stored for a later print, and printed.
    void Graphics(const escpos::Command& command);
    size_t ImageBytes() const;
    // Prints an image of rows (width + 7) / 8 bytes each, at once like GS v 0.
    void PrintImage(int width, int height, std::span<const uint8_t> rows, int scaleX, int scaleY);
    void Cut(const escpos::Cut& cut, const escpos::Command& command);
    void EndReceipt(CutKind cut);
    int AreaLeft() const;
    int AreaWidth() const;
    int AlignedX(int width) const;

    GlyphSource& m_glyphs;
    SymbolEncoder& m_symbols;
    ReceiptEvents& m_events;
    const RenderOptions m_options;
    escpos::TextDecoder m_decoder;
    std::unique_ptr<Style> m_style;
    std::unique_ptr<Receipt> m_receipt;
    int m_y = 0;  // top of the next line on the receipt
    bool m_capNoted = false;
    bool m_memoryNoted = false;
    size_t m_taken[std::size(kMaxReceiptItems)] = {};
    uint64_t m_receiptWork = 0;
    uint64_t m_sessionWork = 0;
    bool m_receiptWorkNoted = false;
    bool m_sessionWorkNoted = false;
    std::vector<Item> m_line;
    size_t m_lineBandBytes = 0;
    int m_x = 0;                    // next position in the line, from the print area's left
    bool m_lineUpsideDown = false;  // ESC { as it stood when the line began
    std::unordered_map<const Glyph*, Glyph> m_turned;
    // GS v 0 in progress
    int m_rasterX = 0;
    int m_rasterScaleX = 1;
    int m_rasterScaleY = 1;
    // Made at the first graphics; shared only so that it can stay incomplete here.
    std::shared_ptr<StoredImages> m_images;
    std::unique_ptr<Page> m_page;  // in page mode only
    bool m_rasterSkipped = false;  // GS v 0 rows passed over in page mode
};

}  // namespace vorpane::receipt
