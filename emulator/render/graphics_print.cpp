// GS ( L / GS 8 L graphics: the image in the print buffer (function 112,
// printed by 50) and NV images under a key (67, printed by 69).

#include <algorithm>
#include <map>
#include <optional>
#include <vector>

#include "emulator/escpos/command_journal.h"
#include "emulator/escpos/graphics.h"
#include "emulator/render/receipt_renderer.h"

namespace vorpane::render {

using escpos::Command;
using escpos::RasterGraphics;

namespace {

// NV images of one session take at most this many bytes: past it further
// definitions are not kept, so that a session cannot take unbounded memory.
constexpr size_t kMaxNvGraphicsBytes = size_t{4} << 20;

}  // namespace

struct ReceiptRenderer::StoredImages {
    struct Image {
        int width = 0;
        int height = 0;
        int scaleX = 1;
        int scaleY = 1;
        std::vector<uint8_t> rows;
    };

    static Image From(const RasterGraphics& g) {
        return {g.width, g.height, g.scaleX, g.scaleY, {g.rows.begin(), g.rows.end()}};
    }

    std::optional<Image> buffered;
    std::map<uint16_t, Image> nv;
    size_t nvBytes = 0;
};

void ReceiptRenderer::Graphics(const Command& c) {
    if (!m_images) {
        m_images = std::make_shared<StoredImages>();
    }
    StoredImages& images = *m_images;
    const std::string name = escpos::DescribeCommand(c);
    if (c.b == escpos::kPrintGraphics) {
        if (!images.buffered) {
            return m_events.OnNote(name + ": not drawn, no graphics stored");
        }
        const StoredImages::Image image = std::move(*images.buffered);
        // Printing empties the print buffer.
        images.buffered.reset();
        return PrintImage(image.width, image.height, image.rows, image.scaleX, image.scaleY);
    }
    const auto g = escpos::ParseGraphics(c);
    // A one-colour printer prints the first colour and passes over the others.
    if (!g || g->colour != 1) {
        return;
    }
    switch (c.b) {
        case escpos::kStoreGraphics:
            images.buffered = StoredImages::From(*g);
            return;
        case escpos::kDefineNvGraphics: {
            const auto old = images.nv.find(g->key);
            const size_t freed = old == images.nv.end() ? 0 : old->second.rows.size();
            if (images.nvBytes - freed + g->rows.size() > kMaxNvGraphicsBytes) {
                return m_events.OnNote(name + ": not stored, NV graphics memory full");
            }
            images.nvBytes = images.nvBytes - freed + g->rows.size();
            images.nv[g->key] = StoredImages::From(*g);
            return;
        }
        case escpos::kPrintNvGraphics: {
            const auto it = images.nv.find(g->key);
            if (it == images.nv.end()) {
                return m_events.OnNote(name + ": not drawn, no such NV graphics");
            }
            const StoredImages::Image& image = it->second;
            return PrintImage(image.width, image.height, image.rows, g->scaleX, g->scaleY);
        }
    }
}

void ReceiptRenderer::PrintImage(int width, int height, std::span<const uint8_t> rows, int scaleX,
                                 int scaleY) {
    if (!m_line.empty()) {
        PrintLine();
    }
    Raster& r = m_receipt->paper;
    const size_t stride = (static_cast<size_t>(width) + 7) / 8;
    const int x0 = AlignedX(width * scaleX);
    // Dots past the paper's edge are not printed.
    const int visible = std::min(width, (r.Width() - x0) / scaleX);
    for (int y = 0; y < height && m_y < m_options.maxReceiptDots; ++y) {
        const size_t at = static_cast<size_t>(y) * stride;
        if (Room(m_y + scaleY) && at + stride <= rows.size()) {
            const uint8_t* row = rows.data() + at;
            for (int x = 0; x < visible;) {
                if (((row[x >> 3] >> (7 - (x & 7))) & 1) == 0) {
                    ++x;
                    continue;
                }
                const int start = x;
                while (x < visible && ((row[x >> 3] >> (7 - (x & 7))) & 1) != 0) {
                    ++x;
                }
                r.Fill(x0 + start * scaleX, m_y, (x - start) * scaleX, scaleY);
            }
        }
        Feed(scaleY);
    }
}

}  // namespace vorpane::render
