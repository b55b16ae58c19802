#include "receipt/receipt_renderer.h"

#include <algorithm>
#include <cctype>

#include "escpos/command_journal.h"
#include "receipt/code128.h"

namespace vorpane::receipt {

using escpos::Command;

namespace {

constexpr int kDefaultTabStep = 8;  // characters between default tab stops
constexpr int kDefaultTabStops = 32;
// A line holds at most this many items; relative moves cannot make it grow
// without end.
constexpr size_t kMaxLineItems = 4096;
// Column images waiting in a line hold at most this many bytes of dots; moves
// back along the line cannot pile up bands without end.
constexpr size_t kMaxLineBandBytes = 1 << 20;
constexpr const char* kItemNames[] = {"characters", "column images", "barcodes and symbols",
                                      "drawer pulses", "stored image prints"};
constexpr int kBandHeight = 24;  // ESC * prints 24 dots high in every mode

// Each run of dots in a row of n cells, scaled: cell i of the row covers
// [x + i * sx, +sx) and rows [y, +sy); `extra` widens every run (bold).
template <typename Dot>
void DrawRuns(Raster& r, int n, Dot dot, int x, int y, int sx, int sy, int extra, bool ink) {
    for (int i = 0; i < n;) {
        if (!dot(i)) {
            ++i;
            continue;
        }
        const int start = i;
        while (i < n && dot(i)) {
            ++i;
        }
        r.Fill(x + start * sx, y, (i - start) * sx + extra, sy, ink);
    }
}

void DrawGlyph(Raster& r, const Glyph& g, int x, int y, int sx, int sy, bool bold, bool ink) {
    for (int gy = 0; gy < g.height; ++gy) {
        const uint8_t* row = g.dots.data() + static_cast<size_t>(gy) * g.width;
        // Bold strikes each dot again one dot to the right.
        DrawRuns(
            r, g.width, [row](int i) { return row[i] != 0; }, x, y + gy * sy, sx, sy, bold ? 1 : 0,
            ink);
    }
}

bool AllDigits(const std::string& s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

// GS1 element strings written without parentheses ("0109501101530003", with
// "{1" closing a field of variable length), each AI put in parentheses for
// the encoder. The first two digits of an AI give its length and, for some,
// the element string's whole length; empty when the data reads as no AIs.
std::string ParenthesizedAis(const std::string& data) {
    static constexpr std::pair<int, size_t> kFixed[] = {
        {0, 20},  {1, 16},  {2, 16},  {3, 16},  {4, 18},  {11, 8}, {12, 8}, {13, 8},
        {14, 8},  {15, 8},  {16, 8},  {17, 8},  {18, 8},  {19, 8}, {20, 4}, {31, 10},
        {32, 10}, {33, 10}, {34, 10}, {35, 10}, {36, 10}, {41, 16}};
    std::string out;
    for (size_t i = 0; i < data.size();) {
        if (data.size() - i < 2 || !AllDigits(data.substr(i, 2))) {
            return {};
        }
        const int head = (data[i] - '0') * 10 + (data[i + 1] - '0');
        const size_t aiLength =
            (head >= 23 && head <= 29) || (head >= 40 && head <= 49)                 ? 3
            : (head >= 31 && head <= 36) || head == 39 || (head >= 70 && head <= 89) ? 4
                                                                                     : 2;
        const auto* fixed = std::find_if(std::begin(kFixed), std::end(kFixed),
                                         [head](const auto& f) { return f.first == head; });
        const size_t end = fixed != std::end(kFixed) ? i + fixed->second
                                                     : std::min(data.find("{1", i), data.size());
        if (end > data.size() || end - i <= aiLength || !AllDigits(data.substr(i, aiLength))) {
            return {};
        }
        out.append(1, '(').append(data, i, aiLength).append(1, ')');
        out.append(data, i + aiLength, end - i - aiLength);
        i = data.compare(end, 2, "{1") == 0 ? end + 2 : end;
    }
    return out;
}

}  // namespace

struct ReceiptRenderer::Style {
    Font font = Font::kA;
    bool bold = false;
    bool doubleStrike = false;
    int underline = 0;
    bool reverse = false;
    int widthScale = 1;
    int heightScale = 1;
    bool chineseDoubleWidth = false;
    bool chineseDoubleHeight = false;
    int chineseUnderline = 0;
    int rightSpacing = 0;
    int lineSpacing = kDefaultLineSpacing;
    escpos::Alignment align = escpos::Alignment::kLeft;
    bool upsideDown = false;
    bool rotate90 = false;
    int leftMargin = 0;
    int printWidth = -1;        // -1: to the paper's edge
    std::vector<int> tabStops;  // in characters
    // ESC W and ESC T: the page area, on the page, and the direction in it.
    int pageX = 0;
    int pageY = 0;
    int pageWidth = -1;  // -1: to the paper's edge
    int pageHeight = kPageMaxDots;
    int pageDirection = 0;
    int barcodeHeight = 162;
    int barcodeModule = 3;
    escpos::HriPosition hri;
    Font hriFont = Font::kA;
    int qrModel = 50;
    int qrModule = 3;
    int qrCorrection = 48;
    std::vector<uint8_t> qrData;
    int pdfColumns = 0;
    int pdfRows = 0;
    int pdfModule = 3;
    int pdfRowHeight = 3;
    int pdfCorrection = -1;
    bool pdfTruncated = false;
    std::vector<uint8_t> pdfData;
    // The last encoding of the stored data, with what it was encoded as.
    struct Encoded {
        bool valid = false;
        Symbology symbology = Symbology::kQr;
        int errorCorrection = 0;
        int columns = 0;
        int rows = 0;
        Symbol symbol;
    };
    // A few, so that switching between error levels does not encode again.
    static constexpr size_t kEncodings = 4;
    Encoded qrEncoded[kEncodings];
    Encoded pdfEncoded[kEncodings];
    size_t qrNext = 0;
    size_t pdfNext = 0;

    Style() {
        for (int i = 1; i <= kDefaultTabStops; ++i) {
            tabStops.push_back(i * kDefaultTabStep);
        }
    }
};

// One character cell, or one band of a column image, waiting in the line.
struct ReceiptRenderer::Item {
    int x = 0;
    int width = 0;   // with the spacing after it
    int height = 0;  // dots, standing on the line's bottom
    const Glyph* glyph = nullptr;
    int scaleX = 1;
    int scaleY = 1;
    bool bold = false;
    int underline = 0;
    bool reverse = false;
    std::vector<uint8_t> band;  // a column image: width x kBandHeight dots, column by column
};

// The page of page mode: areas are drawn upright on a canvas, lines along its
// rows, and turned onto the sheet when done, so that text, images and
// symbols turn alike.
struct ReceiptRenderer::Page {
    explicit Page(int paperDots) : sheet(paperDots, kPageMaxDots), canvas(0, 0) {}

    Raster sheet;
    Raster canvas;
    int x = 0;  // the canvas's area on the sheet
    int y = 0;
    int width = 0;
    int height = 0;
    int direction = 0;
    int bottom = 0;     // the lowest edge of the areas used and the last: the page prints that far
    int paperY = 0;     // where the page goes on the receipt
    bool paid = false;  // the canvas holds drawing counted in the work budget
};

ReceiptRenderer::ReceiptRenderer(GlyphSource& glyphs, SymbolEncoder& symbols, ReceiptEvents& events,
                                 RenderOptions options)
    : m_glyphs(glyphs), m_symbols(symbols), m_events(events), m_options(options) {
    Reset();
    m_receipt = std::make_unique<Receipt>(m_options.paperDots, m_options.maxReceiptDots);
}

ReceiptRenderer::~ReceiptRenderer() = default;

void ReceiptRenderer::Reset() {
    if (m_page) {
        m_y = m_page->paperY;
        m_page.reset();
    }
    m_style = std::make_unique<Style>();
    m_line.clear();
    m_lineBandBytes = 0;
    m_x = 0;
    m_lineUpsideDown = false;
}

bool ReceiptRenderer::Take(ItemKind kind) {
    const auto k = static_cast<size_t>(kind);
    if (m_taken[k] < kMaxReceiptItems[k]) {
        ++m_taken[k];
        return true;
    }
    if (m_taken[k] == kMaxReceiptItems[k]) {
        ++m_taken[k];  // noted once a receipt
        m_receipt->capped = true;
        m_events.OnNote("receipt holds " + std::to_string(kMaxReceiptItems[k]) + " " +
                        kItemNames[k] + ": the rest of them are not drawn");
    }
    return false;
}

bool ReceiptRenderer::Spend(uint64_t dots, bool force) {
    if (force) {
        m_receiptWork += dots;
        m_sessionWork += dots;
        return true;
    }
    if (m_sessionWork + dots > kMaxSessionWork) {
        if (!m_sessionWorkNoted) {
            m_sessionWorkNoted = true;
            m_events.OnNote("session drew " + std::to_string(m_sessionWork) +
                            " dots of images, symbols, page areas and turned lines: the rest of "
                            "them are not drawn");
        }
        m_receipt->capped = true;
        return false;
    }
    if (m_receiptWork + dots > kMaxReceiptWork) {
        if (!m_receiptWorkNoted) {
            m_receiptWorkNoted = true;
            m_events.OnNote("receipt drew " + std::to_string(m_receiptWork) +
                            " dots of images, symbols, page areas and turned lines: the rest of "
                            "them are not drawn");
        }
        m_receipt->capped = true;
        return false;
    }
    m_receiptWork += dots;
    m_sessionWork += dots;
    if (m_page) {
        m_page->paid = true;
    }
    return true;
}

void ReceiptRenderer::OnCommand(const Command& command) {
    namespace e = escpos;
    Style& s = *m_style;
    const bool lineStart = m_line.empty();
    std::visit(
        e::Overloaded{
            [&](const e::Text& c) { AddText(c); },
            [&](const e::LineFeed&) { PrintLine(); },
            [&](const e::Tab&) { Tab(); },
            [&](const e::Initialise&) { Reset(); },
            [&](const e::PrintMode& c) {
                s.font = c.fontB ? Font::kB : Font::kA;
                s.bold = c.bold;
                s.heightScale = c.doubleHeight ? 2 : 1;
                s.widthScale = c.doubleWidth ? 2 : 1;
                s.underline = c.underline ? 1 : 0;
            },
            [&](const e::SelectFont& c) { s.font = c.font == 0 ? Font::kA : Font::kB; },
            [&](const e::CharacterSize& c) {
                s.widthScale = c.width;
                s.heightScale = c.height;
            },
            [&](const e::Bold& c) { s.bold = c.on; },
            [&](const e::DoubleStrike& c) { s.doubleStrike = c.on; },
            [&](const e::Underline& c) { s.underline = c.dots; },
            [&](const e::ChineseUnderline& c) { s.chineseUnderline = c.dots; },
            [&](const e::ChinesePrintMode& c) {
                s.chineseDoubleWidth = c.doubleWidth;
                s.chineseDoubleHeight = c.doubleHeight;
                s.chineseUnderline = c.underline ? 1 : 0;
            },
            [&](const e::Reverse& c) { s.reverse = c.on; },
            [&](const e::Align& c) { s.align = lineStart ? c.align : s.align; },
            [&](const e::UpsideDown& c) {
                // A line already begun keeps the way it was started.
                s.upsideDown = c.on;
                m_lineUpsideDown = lineStart ? s.upsideDown : m_lineUpsideDown;
            },
            [&](const e::Rotate90& c) { s.rotate90 = c.on; },
            [&](const e::RightSpacing& c) { s.rightSpacing = c.dots; },
            [&](const e::DefaultLineSpacing&) { s.lineSpacing = kDefaultLineSpacing; },
            [&](const e::LineSpacing& c) { s.lineSpacing = c.dots; },
            [&](const e::TabStops& c) { s.tabStops.assign(c.stops.begin(), c.stops.end()); },
            [&](const e::FeedLines& c) { PrintLine(c.lines * s.lineSpacing); },
            [&](const e::FeedDots& c) { PrintLine(c.dots); },
            [&](const e::LeftMargin& c) { s.leftMargin = lineStart ? c.dots : s.leftMargin; },
            [&](const e::PrintWidth& c) { s.printWidth = lineStart ? c.dots : s.printWidth; },
            [&](const e::AbsolutePosition& c) {
                if (c.dots < AreaWidth()) {
                    m_x = c.dots;
                }
            },
            [&](const e::RelativePosition& c) {
                if (m_x + c.dots >= 0 && m_x + c.dots < AreaWidth()) {
                    m_x += c.dots;
                }
            },
            [&](const e::RasterImage& c) { BeginRaster(c, command); },
            [&](const e::RasterRow& c) { RasterRow(c); },
            [&](const e::ColumnImage& c) { AddColumnImage(c); },
            [&](const e::BarcodeHeight& c) {
                s.barcodeHeight = c.dots > 0 ? c.dots : s.barcodeHeight;
            },
            [&](const e::BarcodeWidth& c) {
                s.barcodeModule = c.dots >= 1 && c.dots <= 6 ? c.dots : s.barcodeModule;
            },
            [&](const e::HriPosition& c) { s.hri = c; },
            [&](const e::HriFont& c) { s.hriFont = c.fontB ? Font::kB : Font::kA; },
            [&](const e::Barcode& c) { Barcode(c, command); },
            [&](const e::Symbol2D& c) { Symbol2D(c); },
            [&](const e::Graphics&) { Graphics(command); },
            [&](const e::NvBitImage&) { Graphics(command); },
            [&](const e::PrintNvBitImage&) { Graphics(command); },
            [&](const e::Cut& c) { Cut(c, command); },
            [&](const e::PageMode&) {
                if (m_page) {
                    return;
                }
                if (!m_line.empty()) {
                    return m_events.OnNote("ESC L page mode: ignored within a line");
                }
                m_page = std::make_unique<Page>(m_options.paperDots);
                m_page->paperY = m_y;
                OpenArea();
            },
            [&](const e::StandardMode&) { EndPage(); },
            [&](const e::PageArea& c) {
                if (c.x < m_options.paperDots && c.y < kPageMaxDots && c.width > 0 &&
                    c.height > 0) {
                    s.pageX = c.x;
                    s.pageY = c.y;
                    s.pageWidth = std::min(c.width, m_options.paperDots - c.x);
                    s.pageHeight = std::min(c.height, kPageMaxDots - c.y);
                    NewArea();
                }
            },
            [&](const e::PageDirection& c) {
                if (c.direction >= 0 && c.direction < 4) {
                    s.pageDirection = c.direction;
                    NewArea();
                }
            },
            [&](const e::PageVertical& c) {
                const int64_t y = c.relative ? int64_t{m_y} + c.dots : c.dots;
                if (m_page && y >= 0 && y < MaxY()) {
                    PlaceLine();
                    m_y = static_cast<int>(y);
                }
            },
            [&](const e::PrintPage& c) {
                if (m_page) {
                    PrintPage(c.keepPage);
                }
            },
            [&](const e::CancelPage&) {
                if (m_page) {
                    m_line.clear();
                    m_lineBandBytes = 0;
                    m_x = 0;
                    Page& p = *m_page;
                    p.canvas = Raster(p.canvas.Width(), p.canvas.MaxHeight());
                    p.paid = false;
                    p.sheet.Fill(p.x, p.y, p.width, p.height, false);
                }
            },
            [&](const e::Drawer& c) {
                const DrawerMark mark{std::min(PaperY(), m_options.maxReceiptDots), c.pin};
                auto& marks = m_receipt->drawerMarks;
                // A pulse again where the last one was would draw the same mark.
                const bool same =
                    !marks.empty() && marks.back().y == mark.y && marks.back().pin == mark.pin;
                if (!same && Take(ItemKind::kDrawerPulse)) {
                    marks.push_back(mark);
                }
            },
            [](const auto&) {},
        },
        command.body);
}

void ReceiptRenderer::Finish() {
    if (m_page) {
        m_events.OnNote("page mode: the page was not printed (no FF), it is dropped");
        EndPage();
    }
    if (!m_line.empty()) {
        PrintLine();
    }
    EndReceipt(CutKind::kNone);
}

Raster& ReceiptRenderer::Paper() {
    return m_page ? m_page->canvas : m_receipt->paper;
}

int ReceiptRenderer::MaxY() const {
    return m_page ? m_page->canvas.MaxHeight() : m_options.maxReceiptDots;
}

int ReceiptRenderer::PaperY() const {
    return m_page ? m_page->paperY : m_y;
}

// ESC W and ESC T take effect in page mode at once: a new area.
void ReceiptRenderer::NewArea() {
    if (m_page) {
        PlaceLine();
        ComposeArea();
        OpenArea();
    }
}

void ReceiptRenderer::OpenArea() {
    Page& p = *m_page;
    const Style& s = *m_style;
    p.x = s.pageX;
    p.y = s.pageY;
    p.width =
        std::min(s.pageWidth < 0 ? m_options.paperDots : s.pageWidth, m_options.paperDots - p.x);
    p.height = s.pageHeight;
    p.direction = s.pageDirection;
    const bool across = p.direction == 1 || p.direction == 3;
    p.canvas = Raster(across ? p.height : p.width, across ? p.width : p.height);
    p.paid = false;
    const int grow = p.y + p.height - p.sheet.Height();
    if (grow <= 0 || m_events.MayGrow(static_cast<size_t>(grow) * p.sheet.BytesPerRow())) {
        p.sheet.Reserve(std::max(p.sheet.Height(), p.y + p.height));
    } else if (!m_memoryNoted) {
        m_memoryNoted = true;
        m_events.OnNote("printer memory full: the rest of this receipt is not drawn");
    }
    m_x = 0;
    m_y = 0;
}

void ReceiptRenderer::ComposeArea() {
    Page& p = *m_page;
    const Raster& canvas = p.canvas;
    const int right = p.x + p.width - 1;
    const int low = p.y + p.height - 1;
    if (canvas.Height() > 0) {
        p.bottom = std::max(p.bottom, low + 1);
    }
    const bool across = p.direction == 1 || p.direction == 3;
    // An area that holds what was counted is put on the page whatever the
    // budget says, once: what is drawn after that is not counted.
    if (!Spend(static_cast<uint64_t>(canvas.Height()) * canvas.Width(), p.paid)) {
        p.canvas = Raster(canvas.Width(), canvas.MaxHeight());
        return;
    }
    for (int v = 0; v < canvas.Height(); ++v) {
        const uint8_t* row = canvas.Row(v);
        if (!across) {
            // Along the paper's rows a canvas row is a run of the sheet's row.
            p.sheet.InkRow(p.direction == 2 ? low - v : p.y + v, p.x, canvas.Width(), row,
                           p.direction == 2);
            continue;
        }
        for (int i = 0; i < canvas.BytesPerRow(); ++i) {
            for (int bit = 0; row[i] != 0 && bit < 8; ++bit) {
                if (((row[i] >> (7 - bit)) & 1) == 0) {
                    continue;
                }
                // Lines run along the direction from its starting corner.
                const int u = i * 8 + bit;
                if (p.direction == 1) {
                    p.sheet.Set(p.x + v, low - u);
                } else {
                    p.sheet.Set(right - v, p.y + u);
                }
            }
        }
    }
    p.canvas = Raster(canvas.Width(), canvas.MaxHeight());
    p.paid = false;
}

void ReceiptRenderer::PlaceLine() {
    if (!m_line.empty()) {
        const int x = m_x;
        const int y = m_y;
        PrintLine(0);
        m_x = x;
        m_y = y;
    }
}

void ReceiptRenderer::PrintPage(bool keep) {
    PlaceLine();
    m_page->bottom = std::max(m_page->bottom, m_page->y + m_page->height);
    ComposeArea();
    // The page prints whole, blank rows and all, as far as its areas reach.
    std::unique_ptr<Page> page = std::move(m_page);
    const int x = m_x;
    const int y = m_y;
    m_y = page->paperY;
    Room(m_y + page->bottom);
    m_receipt->paper.OrRows(page->sheet, m_y, page->bottom);
    Feed(page->bottom);
    if (keep) {
        page->paperY = m_y;
        m_page = std::move(page);
        m_x = x;
        m_y = y;
    } else {
        // FF leaves the direction as it was and the area as it starts.
        m_style->pageX = m_style->pageY = 0;
        m_style->pageWidth = -1;
        m_style->pageHeight = kPageMaxDots;
        m_x = 0;
    }
}

void ReceiptRenderer::EndPage() {
    if (m_page) {
        m_line.clear();
        m_lineBandBytes = 0;
        m_x = 0;
        m_y = m_page->paperY;
        m_page.reset();
    }
}

int ReceiptRenderer::AreaLeft() const {
    if (m_page) {
        return 0;
    }
    return std::clamp(m_style->leftMargin, 0,
                      m_options.paperDots - m_glyphs.CellOf(Font::kA).width);
}

int ReceiptRenderer::AreaWidth() const {
    if (m_page) {
        return m_page->canvas.Width();
    }
    const int room = m_options.paperDots - AreaLeft();
    const int width = m_style->printWidth >= 0 ? std::min(m_style->printWidth, room) : room;
    return std::max(width, m_glyphs.CellOf(Font::kA).width);
}

int ReceiptRenderer::AlignedX(int width) const {
    const int free = std::max(AreaWidth() - width, 0);
    return AreaLeft() + (m_style->align == escpos::Alignment::kCentre  ? free / 2
                         : m_style->align == escpos::Alignment::kRight ? free
                                                                       : 0);
}

void ReceiptRenderer::AddText(const escpos::Text& c) {
    const uint8_t* p = c.bytes.data();
    const uint8_t* const end = p + c.bytes.size();
    while (p < end) {
        const escpos::Character ch = m_decoder.Next(p, static_cast<size_t>(end - p), c.mode);
        p += ch.length;
        if (ch.code == 0x7F) {
            continue;
        }
        AddCharacter(ch.valid ? ch.code : U'?', ch.wide);
    }
}

void ReceiptRenderer::AddCharacter(char32_t code, bool wide) {
    if (!Take(ItemKind::kCharacter)) {
        return;
    }
    const Style& s = *m_style;
    Item item;
    item.glyph = &m_glyphs.Get(code, s.font, wide);
    item.scaleX = wide ? std::max(s.widthScale, s.chineseDoubleWidth ? 2 : 1) : s.widthScale;
    item.scaleY = wide ? std::max(s.heightScale, s.chineseDoubleHeight ? 2 : 1) : s.heightScale;
    item.underline = wide ? std::max(s.underline, s.chineseUnderline) : s.underline;
    if (s.rotate90) {
        // A turned character grows the other way when enlarged, and printers
        // leave it without underline.
        item.glyph = &Turned(*item.glyph);
        std::swap(item.scaleX, item.scaleY);
        item.underline = 0;
    }
    item.width = item.glyph->width * item.scaleX + (wide ? 0 : s.rightSpacing * item.scaleX);
    item.height = item.glyph->height * item.scaleY;
    item.bold = s.bold || s.doubleStrike;
    item.reverse = s.reverse;
    if (!m_line.empty() && (m_x + item.width > AreaWidth() || m_line.size() >= kMaxLineItems)) {
        PrintLine();
    }
    item.x = m_x;
    m_x += item.width;
    m_line.push_back(std::move(item));
}

const Glyph& ReceiptRenderer::Turned(const Glyph& glyph) {
    const auto [at, made] = m_turned.try_emplace(&glyph);
    Glyph& turned = at->second;
    if (made) {
        // The top row becomes the right column: dot (x, y) moves to (h - 1 - y, x).
        turned.width = glyph.height;
        turned.height = glyph.width;
        turned.dots.assign(glyph.dots.size(), 0);
        for (int y = 0; y < glyph.height; ++y) {
            for (int x = 0; x < glyph.width; ++x) {
                turned.dots[static_cast<size_t>(x) * turned.width + (glyph.height - 1 - y)] =
                    glyph.dots[static_cast<size_t>(y) * glyph.width + x];
            }
        }
    }
    return turned;
}

void ReceiptRenderer::AddColumnImage(const escpos::ColumnImage& c) {
    const bool tall = c.tall;
    const int scaleX = c.doubleDensity ? 1 : 2;  // single density doubles each column
    const int scaleY = tall ? 1 : 3;             // 8-dot modes stretch each dot to three
    const int bytes = tall ? 3 : 1;
    const int columns = static_cast<int>(c.data.size()) / bytes;
    if (!Take(ItemKind::kColumnImage)) {
        return;
    }
    if (!m_events.MayGrow(static_cast<size_t>(columns) * scaleX * kBandHeight)) {
        if (!m_memoryNoted) {
            m_memoryNoted = true;
            m_events.OnNote("printer memory full: the rest of this receipt is not drawn");
        }
        return;
    }
    if (!m_line.empty() && (m_line.size() >= kMaxLineItems ||
                            m_lineBandBytes + static_cast<size_t>(columns) * scaleX * kBandHeight >
                                kMaxLineBandBytes)) {
        PrintLine();
    }
    Item item;
    item.x = m_x;
    item.width = std::min(columns * scaleX, std::max(AreaWidth() - m_x, 0));
    item.height = kBandHeight;
    item.band.assign(static_cast<size_t>(item.width) * kBandHeight, 0);
    for (int x = 0; x < item.width; ++x) {
        const uint8_t* column = c.data.data() + (x / scaleX) * bytes;
        for (int y = 0; y < kBandHeight; ++y) {
            const int bit = y / scaleY;
            item.band[static_cast<size_t>(x) * kBandHeight + y] =
                (column[bit / 8] >> (7 - bit % 8)) & 1;
        }
    }
    m_x += item.width;
    m_lineBandBytes += item.band.size();
    m_line.push_back(std::move(item));
}

void ReceiptRenderer::Tab() {
    const Style& s = *m_style;
    const int step = (m_glyphs.CellOf(s.font).width + s.rightSpacing) * s.widthScale;
    for (int stop : s.tabStops) {
        if (stop * step > m_x) {
            if (stop * step < AreaWidth()) {
                m_x = stop * step;
            } else {
                PrintLine();  // the next character starts a new line
            }
            return;
        }
    }
}

size_t ReceiptRenderer::HeldBytes() const {
    auto bytes = [](const Raster& r) {
        return static_cast<size_t>(r.Height()) * static_cast<size_t>(r.BytesPerRow());
    };
    size_t held = bytes(m_receipt->paper) + m_lineBandBytes + ImageBytes();
    if (m_page) {
        held += bytes(m_page->sheet) + bytes(m_page->canvas);
    }
    return held;
}

bool ReceiptRenderer::Room(int bottom) {
    Raster& paper = Paper();
    const int grow = std::min(bottom, paper.MaxHeight()) - paper.Height();
    if (grow > 0 && !m_events.MayGrow(static_cast<size_t>(grow) * paper.BytesPerRow())) {
        if (!m_page) {
            m_receipt->capped = true;
        }
        if (!m_memoryNoted) {
            m_memoryNoted = true;
            m_events.OnNote("printer memory full: the rest of this receipt is not drawn");
        }
        return false;
    }
    // A page area ends where it ends: what passes it is not printed.
    const bool room = paper.Reserve(bottom);
    if (room || m_page) {
        return room;
    }
    m_receipt->capped = true;
    if (!m_capNoted) {
        m_capNoted = true;
        m_events.OnNote("receipt longer than " + std::to_string(m_options.maxReceiptDots) +
                        " dots: the rest of it is not drawn");
    }
    return false;
}

void ReceiptRenderer::Feed(int dots) {
    m_y = std::min(m_y + std::max(dots, 0), MaxY() + 1);
    Room(m_y);
}

void ReceiptRenderer::PrintLine(int feed) {
    int height = 0;
    int width = 0;
    for (const Item& item : m_line) {
        height = std::max(height, item.height);
        width = std::max(width, item.x + item.width);
    }
    Raster& r = Paper();
    if (!m_line.empty()) {
        Room(m_y + height);
    }
    const int left = AlignedX(width);
    const int bottom = m_y + height;
    // An upside-down line not turned is not drawn either; rows past the
    // receipt's end cost nothing.
    const int rows = std::clamp(r.Height() - m_y, 0, height);
    const bool turned = m_lineUpsideDown && rows > 0 &&
                        Spend(static_cast<uint64_t>(AreaWidth()) * static_cast<uint64_t>(rows));
    for (const Item& item : m_line) {
        if (m_lineUpsideDown && !turned) {
            break;
        }
        const int x0 = left + item.x;
        const int y0 = bottom - item.height;
        if (!item.glyph) {
            if (!Spend(static_cast<uint64_t>(item.width) * kBandHeight)) {
                continue;
            }
            const int w = item.width;
            for (int x = 0; x < w; ++x) {
                for (int y = 0; y < kBandHeight; ++y) {
                    if (item.band[static_cast<size_t>(x) * kBandHeight + y]) {
                        r.Set(x0 + x, y0 + y);
                    }
                }
            }
            continue;
        }
        if (item.reverse) {
            r.Fill(x0, y0, item.width, item.height);
        }
        DrawGlyph(r, *item.glyph, x0, y0, item.scaleX, item.scaleY, item.bold, !item.reverse);
        // Reverse prints no underline: the block stays whole.
        if (item.underline > 0 && !item.reverse) {
            r.Fill(x0, bottom - item.underline, item.width, item.underline);
        }
    }
    // Upside down, the whole line turns about the middle of the print area.
    if (turned) {
        r.Rotate180(AreaLeft(), m_y, AreaWidth(), height);
    }
    m_line.clear();
    m_lineBandBytes = 0;
    m_x = 0;
    m_lineUpsideDown = m_style->upsideDown;
    // A line never feeds less than its height, be it text or image bands.
    feed = std::max(feed < 0 ? m_style->lineSpacing : feed, height);
    Feed(feed);
}

void ReceiptRenderer::BeginRaster(const escpos::RasterImage& c, const Command& command) {
    // Printers leave GS v 0 out in page mode.
    m_rasterSkipped = m_page != nullptr;
    if (m_rasterSkipped) {
        return m_events.OnNote(escpos::DescribeCommand(command) + ": not drawn in page mode");
    }
    if (!m_line.empty()) {
        PrintLine();
    }
    m_rasterScaleX = c.scaleX;
    m_rasterScaleY = c.scaleY;
    m_rasterX = AlignedX(c.width * m_rasterScaleX);
}

void ReceiptRenderer::RasterRow(const escpos::RasterRow& c) {
    if (m_rasterSkipped) {
        return;
    }
    Raster& r = m_receipt->paper;
    if (m_y < m_options.maxReceiptDots && Room(m_y + m_rasterScaleY)) {
        const int right = std::min(AreaLeft() + AreaWidth(), r.Width());
        const int visible =
            std::clamp<int>(static_cast<int>(c.bits.size()) * 8, 0,
                            std::max(right - m_rasterX + m_rasterScaleX - 1, 0) / m_rasterScaleX);
        const uint8_t* bits = c.bits.data();
        DrawRuns(
            r, visible, [bits](int x) { return (bits[x >> 3] >> (7 - (x & 7))) & 1; }, m_rasterX,
            m_y, m_rasterScaleX, m_rasterScaleY, 0, true);
    }
    Feed(m_rasterScaleY);
}

void ReceiptRenderer::Barcode(const escpos::Barcode& c, const Command& command) {
    using B = escpos::BarcodeSymbology;
    if (!m_line.empty()) {
        PrintLine();
    }
    if (!Take(ItemKind::kSymbol)) {
        return;
    }
    const std::string raw(c.data.begin(), c.data.end());
    std::string text = raw;
    SymbolRequest request;
    auto digits = [&](size_t keep, std::initializer_list<size_t> lengths) {
        const bool ok = AllDigits(raw) &&
                        std::find(lengths.begin(), lengths.end(), raw.size()) != lengths.end();
        text = raw.substr(0, std::min(keep, raw.size()));
        return ok;
    };
    bool ok = true;
    switch (c.symbology) {
        case B::kUpcA:
            request.symbology = Symbology::kUpcA;
            ok = digits(11, {11, 12});
            break;
        case B::kUpcE:
            request.symbology = Symbology::kUpcE;
            ok = digits(7, {6, 7, 8});
            break;
        case B::kEan13:
            request.symbology = Symbology::kEan13;
            ok = digits(12, {12, 13});
            break;
        case B::kEan8:
            request.symbology = Symbology::kEan8;
            ok = digits(7, {7, 8});
            break;
        case B::kCode39: {
            request.symbology = Symbology::kCode39;
            const size_t first = text.find_first_not_of('*');
            const size_t last = text.find_last_not_of('*');
            text = first == std::string::npos ? "" : text.substr(first, last - first + 1);
            break;
        }
        case B::kItf:
            request.symbology = Symbology::kItf;
            break;
        case B::kCodabar:
            request.symbology = Symbology::kCodabar;
            break;
        case B::kCode93:
            request.symbology = Symbology::kCode93;
            break;
        case B::kCode128:
        case B::kGs1_128:
        case B::kCode128Auto:
            request.symbology = Symbology::kCode128;
            break;
        case B::kDataBar:
        case B::kDataBarTruncated:
            request.symbology = Symbology::kDataBar;
            ok = digits(13, {13});
            break;
        case B::kDataBarLimited:
            // Limited holds GTINs whose first digit is 0 or 1 only.
            request.symbology = Symbology::kDataBarLimited;
            ok = digits(13, {13}) && raw[0] <= '1';
            break;
        case B::kDataBarExpanded: {
            request.symbology = Symbology::kDataBarExpanded;
            std::string plain;
            std::copy_if(raw.begin(), raw.end(), std::back_inserter(plain),
                         [](char ch) { return ch != ' '; });
            if (plain.starts_with('(')) {
                // The parentheses name the AIs, so an FNC1 between them is implied.
                text.clear();
                for (size_t i = 0; i < plain.size(); ++i) {
                    if (plain.compare(i, 2, "{1") == 0) {
                        ++i;
                    } else {
                        text += plain[i];
                    }
                }
            } else {
                text = ParenthesizedAis(plain);
            }
            ok = text.starts_with('(');
            break;
        }
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    request.data = {bytes, text.size()};
    Symbol symbol;
    if (request.symbology == Symbology::kCode128) {
        if (!SpendEncoding(c.data.size())) {
            return;
        }
    }
    if (c.symbology == B::kCode128) {
        symbol = EncodeCode128(c.data);
    } else if (request.symbology == Symbology::kCode128) {
        symbol = EncodeCode128Auto(c.data, c.symbology == B::kGs1_128);
    } else if (ok && !text.empty()) {
        if (!SpendEncoding(text.size())) {
            return;
        }
        symbol = m_symbols.Encode(request);
    } else {
        symbol.error = "data does not fit the symbology";
    }
    if (!symbol.error.empty()) {
        m_events.OnNote(escpos::DescribeCommand(command) + ": not drawn, " + symbol.error);
        return;
    }
    if (symbol.width * m_style->barcodeModule > AreaWidth()) {
        m_events.OnNote(escpos::DescribeCommand(command) + ": not drawn, wider than the paper");
        return;
    }
    DrawSymbol(symbol, m_style->barcodeModule, m_style->barcodeHeight, true);
}

void ReceiptRenderer::Symbol2D(const escpos::Symbol2D& c) {
    using F = escpos::SymbolFunction;
    Style& s = *m_style;
    const bool qr = c.kind == escpos::SymbolKind::kQr;
    if (!qr && c.kind != escpos::SymbolKind::kPdf417) {
        return;
    }
    const std::span<const uint8_t> d = c.params;
    const int n = d.empty() ? 0 : d.back();
    switch (c.function) {
        case F::kSelect:
            (qr ? s.qrModel : s.pdfColumns) = qr ? (d.empty() ? 50 : d[0]) : n;
            return;
        case F::kRows:
            s.pdfRows = qr ? s.pdfRows : n;
            return;
        case F::kModule:
            (qr ? s.qrModule : s.pdfModule) = std::clamp(n, 1, 16);
            return;
        case F::kRowHeight:
            s.pdfRowHeight = qr ? s.pdfRowHeight : std::clamp(n, 2, 8);
            return;
        case F::kErrorCorrection:
            if (qr) {
                s.qrCorrection = n;
            } else {
                s.pdfCorrection = d.size() >= 2 && d[0] == 48 ? std::clamp(n - 48, 0, 8) : -1;
            }
            return;
        case F::kOptions:
            s.pdfTruncated = !qr && n == 1;
            return;
        case F::kStore:
            (qr ? s.qrData : s.pdfData).assign(d.begin() + (d.empty() ? 0 : 1), d.end());
            for (Style::Encoded& e : qr ? s.qrEncoded : s.pdfEncoded) {
                e.valid = false;
            }
            return;
        case F::kPrint:
            break;
        default:
            return;
    }
    if (!m_line.empty()) {
        PrintLine();
    }
    if (!Take(ItemKind::kSymbol)) {
        return;
    }
    const std::vector<uint8_t>& data = qr ? s.qrData : s.pdfData;
    const char* name = qr ? "QR" : "PDF417";
    if (data.empty()) {
        m_events.OnNote(std::string("GS ( k ") + name + " print: not drawn, no data stored");
        return;
    }
    SymbolRequest request;
    request.data = data;
    if (qr) {
        request.symbology = s.qrModel == 51 ? Symbology::kMicroQr : Symbology::kQr;
        request.errorCorrection = std::clamp(s.qrCorrection - 48, 0, 3) + 1;
        if (s.qrModel == 49) {
            m_events.OnNote("GS ( k QR model 1 drawn as model 2");
        }
    } else {
        request.symbology = s.pdfTruncated ? Symbology::kPdf417Truncated : Symbology::kPdf417;
        request.errorCorrection = s.pdfCorrection;
        request.columns = s.pdfColumns;
        request.rows = s.pdfRows;
    }
    const Symbol* stored = StoredSymbol(request, qr);
    if (stored == nullptr) {
        return;
    }
    const Symbol& symbol = *stored;
    if (!symbol.error.empty()) {
        m_events.OnNote(std::string("GS ( k ") + name + " print: not drawn, " + symbol.error);
        return;
    }
    const int module = qr ? s.qrModule : s.pdfModule;
    // A printer leaves out a symbol it cannot print whole.
    if (symbol.width * module > AreaWidth()) {
        m_events.OnNote(std::string("GS ( k ") + name + " print: not drawn, wider than the paper");
        return;
    }
    DrawSymbol(symbol, module, qr ? module : module * s.pdfRowHeight, false);
}

const Symbol* ReceiptRenderer::StoredSymbol(const SymbolRequest& request, bool qr) {
    Style::Encoded* encodings = qr ? m_style->qrEncoded : m_style->pdfEncoded;
    const auto end = encodings + Style::kEncodings;
    const auto* known = std::find_if(encodings, end, [&request](const Style::Encoded& e) {
        return e.valid && e.symbology == request.symbology &&
               e.errorCorrection == request.errorCorrection && e.columns == request.columns &&
               e.rows == request.rows;
    });
    if (known != end) {
        return &known->symbol;
    }
    if (!SpendEncoding(request.data.size())) {
        return nullptr;
    }
    size_t& next = qr ? m_style->qrNext : m_style->pdfNext;
    Style::Encoded& e = encodings[next];
    next = (next + 1) % Style::kEncodings;
    e.symbol = m_symbols.Encode(request);
    e.symbology = request.symbology;
    e.errorCorrection = request.errorCorrection;
    e.columns = request.columns;
    e.rows = request.rows;
    e.valid = true;
    return &e.symbol;
}

void ReceiptRenderer::DrawSymbol(const Symbol& symbol, int moduleWidth, int moduleHeight,
                                 bool hri) {
    Raster& r = Paper();
    const int width = symbol.width * moduleWidth;
    const int x0 = AlignedX(width);
    const Font font = m_style->hriFont;
    const int hriHeight = m_glyphs.CellOf(font).height;
    const int hriWidth = static_cast<int>(symbol.text.size()) * m_glyphs.CellOf(font).width;
    const int hriX = x0 + (width - hriWidth) / 2;
    const bool above = hri && m_style->hri.above && !symbol.text.empty();
    const bool below = hri && m_style->hri.below && !symbol.text.empty();
    if (above) {
        Room(m_y + hriHeight);
        DrawText(symbol.text, hriX, m_y, font);
        Feed(hriHeight);
    }
    const int height = symbol.rows * moduleHeight;
    Room(m_y + height);
    const bool draw = Spend(static_cast<uint64_t>(width) * static_cast<uint64_t>(height));
    for (int row = 0; draw && row < symbol.rows; ++row) {
        const uint8_t* modules = symbol.modules.data() + static_cast<size_t>(row) * symbol.width;
        DrawRuns(
            r, symbol.width, [modules](int i) { return modules[i] != 0; }, x0,
            m_y + row * moduleHeight, moduleWidth, moduleHeight, 0, true);
    }
    Feed(height);
    if (below) {
        Room(m_y + hriHeight);
        DrawText(symbol.text, hriX, m_y, font);
        Feed(hriHeight);
    }
}

void ReceiptRenderer::DrawText(const std::string& text, int x, int y, Font font) {
    Raster& r = Paper();
    for (char ch : text) {
        const Glyph& g = m_glyphs.Get(static_cast<unsigned char>(ch), font, false);
        DrawGlyph(r, g, x, y, 1, 1, false, true);
        x += g.width;
    }
}

void ReceiptRenderer::Cut(const escpos::Cut& c, const Command& command) {
    if (m_page) {
        return m_events.OnNote(escpos::DescribeCommand(command) + ": ignored in page mode");
    }
    PrintLine(c.feedDots);
    if (c.toCutterFirst) {
        Feed(m_options.cutterOffsetDots);
    }
    EndReceipt(c.kind);
}

void ReceiptRenderer::EndReceipt(CutKind cut) {
    Receipt& receipt = *m_receipt;
    receipt.cut = cut;
    receipt.paper.Reserve(m_y);
    // The cutter sits below the head: what lies between them goes on with
    // the paper, to the top of the next receipt. A session's first receipt
    // starts at the head, so the cut never falls above its top.
    const int cutY =
        cut == CutKind::kNone ? m_y : std::clamp(m_y - m_options.cutterOffsetDots, 0, m_y);
    auto next = std::make_unique<Receipt>(m_options.paperDots, m_options.maxReceiptDots);
    if (cut != CutKind::kNone) {
        const int carried = std::min(m_y, receipt.paper.Height()) - cutY;
        if (carried > 0) {
            next->paper.Reserve(carried);
            next->paper.CopyRows(receipt.paper, cutY, carried);
            receipt.paper.Shrink(cutY);
        }
        auto& marks = receipt.drawerMarks;
        const auto past = std::stable_partition(marks.begin(), marks.end(),
                                                [cutY](const DrawerMark& m) { return m.y < cutY; });
        for (auto m = past; m != marks.end(); ++m) {
            next->drawerMarks.push_back({m->y - cutY, m->pin});
        }
        marks.erase(past, marks.end());
    }
    if (receipt.paper.AnyInk() || !receipt.drawerMarks.empty()) {
        m_events.OnReceipt(std::move(receipt));
    }
    m_receipt = std::move(next);
    m_y -= cutY;
    m_capNoted = false;
    m_memoryNoted = false;
    std::fill(std::begin(m_taken), std::end(m_taken), 0);
    m_receiptWork = 0;
    m_receiptWorkNoted = false;
}

}  // namespace vorpane::receipt
