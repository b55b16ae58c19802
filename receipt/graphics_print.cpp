// Stored images: GS ( L / GS 8 L graphics, the image in the print buffer
// (function 112, printed by 50) and NV images under a key (67, printed by
// 69); and the numbered NV bit images of FS q, printed by FS p.

#include <algorithm>
#include <map>
#include <optional>
#include <vector>

#include "escpos/command_journal.h"
#include "receipt/receipt_renderer.h"

namespace vorpane::receipt {

using escpos::Command;
using escpos::RasterGraphics;

namespace {

// NV images of one session (both kinds) take at most this many bytes: past
// it further definitions are not kept, so that a session cannot take
// unbounded memory.
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

    // FS q columns, height / 8 bytes each, as rows.
    static Image FromColumns(const escpos::NvBitImage& c) {
        Image image{c.width, c.height, 1, 1, {}};
        const size_t stride = (static_cast<size_t>(image.width) + 7) / 8;
        const size_t column = static_cast<size_t>(image.height) / 8;
        image.rows.assign(stride * static_cast<size_t>(image.height), 0);
        for (size_t x = 0; x < static_cast<size_t>(image.width); ++x) {
            for (size_t y = 0; y < static_cast<size_t>(image.height); ++y) {
                if ((c.columns[x * column + y / 8] >> (7 - y % 8)) & 1) {
                    image.rows[y * stride + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
                }
            }
        }
        return image;
    }

    std::optional<Image> buffered;
    std::map<uint16_t, Image> nv;
    std::vector<Image> bitImages;  // FS q, numbered from 1
    size_t nvBytes = 0;
};

size_t ReceiptRenderer::ImageBytes() const {
    if (!m_images) {
        return 0;
    }
    return m_images->nvBytes + (m_images->buffered ? m_images->buffered->rows.size() : 0);
}

size_t ReceiptRenderer::DropLargestImage(std::string& name, bool drop) {
    if (!m_images) {
        return 0;
    }
    StoredImages& images = *m_images;
    size_t largest = images.buffered ? images.buffered->rows.size() : 0;
    name = "the stored graphics";
    auto nv = images.nv.end();
    for (auto it = images.nv.begin(); it != images.nv.end(); ++it) {
        if (it->second.rows.size() > largest) {
            largest = it->second.rows.size();
            nv = it;
        }
    }
    auto bit = images.bitImages.end();
    for (auto it = images.bitImages.begin(); it != images.bitImages.end(); ++it) {
        if (it->rows.size() > largest) {
            largest = it->rows.size();
            bit = it;
            nv = images.nv.end();
        }
    }
    if (largest == 0 || !drop) {
        return largest;
    }
    if (bit != images.bitImages.end()) {
        // Numbers stay: the image is emptied, not taken out.
        name = "NV bit image " + std::to_string(bit - images.bitImages.begin() + 1);
        *bit = {};
        images.nvBytes -= largest;
    } else if (nv != images.nv.end()) {
        const uint8_t key[] = {static_cast<uint8_t>(nv->first >> 8),
                               static_cast<uint8_t>(nv->first & 0xFF)};
        name = "NV graphics key " + escpos::HexBytes(key, 2);
        images.nv.erase(nv);
        images.nvBytes -= largest;
    } else {
        images.buffered.reset();
    }
    return largest;
}

void ReceiptRenderer::Graphics(const Command& c) {
    if (!m_images) {
        m_images = std::make_shared<StoredImages>();
    }
    StoredImages& images = *m_images;
    const std::string name = escpos::DescribeCommand(c);
    if (const auto* bits = c.Get<escpos::NvBitImage>()) {
        // FS q replaces every NV bit image defined before.
        if (bits->number == 1) {
            for (const auto& old : images.bitImages) {
                images.nvBytes -= old.rows.size();
            }
            images.bitImages.clear();
        }
        if (images.nvBytes + bits->columns.size() > kMaxNvGraphicsBytes) {
            return m_events.OnNote(name + ": not stored, NV graphics memory full");
        }
        images.bitImages.push_back(StoredImages::FromColumns(*bits));
        images.nvBytes += images.bitImages.back().rows.size();
        return;
    }
    if (const auto* print = c.Get<escpos::PrintNvBitImage>()) {
        if (print->number < 1 || print->number > static_cast<int>(images.bitImages.size())) {
            return m_events.OnNote(name + ": not drawn, no such NV bit image (FS q defines them)");
        }
        if (!Take(ItemKind::kStoredPrint)) {
            return;
        }
        const StoredImages::Image& image = images.bitImages[static_cast<size_t>(print->number - 1)];
        return PrintImage(image.width, image.height, image.rows, print->scaleX, print->scaleY);
    }
    using F = escpos::GraphicsFunction;
    const escpos::Graphics& graphics = *c.Get<escpos::Graphics>();
    if (graphics.function == F::kPrint) {
        if (!images.buffered) {
            return m_events.OnNote(name + ": not drawn, no graphics stored");
        }
        const StoredImages::Image image = std::move(*images.buffered);
        // Printing empties the print buffer.
        images.buffered.reset();
        return PrintImage(image.width, image.height, image.rows, image.scaleX, image.scaleY);
    }
    const auto& g = graphics.image;
    // A one-colour printer prints the first colour and passes over the others.
    if (!g || g->colour != 1) {
        return;
    }
    switch (graphics.function) {
        case F::kStore:
            images.buffered = StoredImages::From(*g);
            return;
        case F::kDefineNv: {
            const auto old = images.nv.find(g->key);
            const size_t freed = old == images.nv.end() ? 0 : old->second.rows.size();
            if (images.nvBytes - freed + g->rows.size() > kMaxNvGraphicsBytes) {
                return m_events.OnNote(name + ": not stored, NV graphics memory full");
            }
            images.nvBytes = images.nvBytes - freed + g->rows.size();
            images.nv[g->key] = StoredImages::From(*g);
            return;
        }
        case F::kPrintNv: {
            const auto it = images.nv.find(g->key);
            if (it == images.nv.end()) {
                return m_events.OnNote(name + ": not drawn, no such NV graphics");
            }
            if (!Take(ItemKind::kStoredPrint)) {
                return;
            }
            const StoredImages::Image& image = it->second;
            return PrintImage(image.width, image.height, image.rows, g->scaleX, g->scaleY);
        }
        default:
            return;
    }
}

void ReceiptRenderer::PrintImage(int width, int height, std::span<const uint8_t> rows, int scaleX,
                                 int scaleY) {
    if (!m_line.empty()) {
        PrintLine();
    }
    Raster& r = Paper();
    const size_t stride = (static_cast<size_t>(width) + 7) / 8;
    const int x0 = AlignedX(width * scaleX);
    // Dots past the print area's right edge are not printed, as with GS v 0.
    const int right = std::min(AreaLeft() + AreaWidth(), r.Width());
    const int visible = std::clamp(width, 0, std::max(right - x0 + scaleX - 1, 0) / scaleX);
    const int64_t tall = std::clamp<int64_t>(int64_t{height} * scaleY, 0, MaxY() - m_y);
    if (!Spend(static_cast<uint64_t>(tall) * static_cast<uint64_t>(visible * scaleX))) {
        // The paper moves on as if it had been drawn.
        return Feed(std::max(height, 0) * scaleY);
    }
    for (int y = 0; y < height && m_y < MaxY(); ++y) {
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

}  // namespace vorpane::receipt
