#include "receipt/png.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "platform/whole_file.h"

namespace vorpane::receipt {
namespace {

enum Colour : uint8_t { kPaper, kInk, kMargin, kMark };
constexpr uint8_t kPalette[] = {0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00,
                                0xD8, 0xD8, 0xD8, 0xD0, 0x20, 0x20};
constexpr int kMarkHalfHeight = 8;

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<uint8_t>(v >> shift));
    }
}

void Chunk(std::vector<uint8_t>& out, const char* type, const uint8_t* data, size_t size) {
    Put32(out, static_cast<uint32_t>(size));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data, data + size);
    const uLong crc = ::crc32(0, out.data() + start, static_cast<uInt>(size + 4));
    Put32(out, static_cast<uint32_t>(crc));
}

// Two bits a dot: a byte of the raster (eight dots, ink 1) becomes two
// bytes of palette indices 0 and 1.
constexpr std::array<uint16_t, 256> kSpread = [] {
    std::array<uint16_t, 256> table{};
    for (int b = 0; b < 256; ++b) {
        for (int bit = 0; bit < 8; ++bit) {
            if ((b >> (7 - bit)) & 1) {
                table[b] |= static_cast<uint16_t>(kInk << (14 - 2 * bit));
            }
        }
    }
    return table;
}();

void Put(uint8_t* row, int x, Colour c) {
    const int shift = 6 - 2 * (x & 3);
    row[x >> 2] = static_cast<uint8_t>((row[x >> 2] & ~(3 << shift)) | c << shift);
}

// One picture row into `row`, zeroed (paper) and with room for the spread
// bytes of a paper row; `marks` are the drawer marks sorted by height.
void PictureRow(const Receipt& r, const std::vector<DrawerMark>& marks, int y, int width,
                uint8_t* row) {
    const int paper = r.paper.Width();
    if (y < r.paper.Height()) {
        const uint8_t* bits = r.paper.Row(y);
        for (int i = 0; i < r.paper.BytesPerRow(); ++i) {
            row[2 * i] = static_cast<uint8_t>(kSpread[bits[i]] >> 8);
            row[2 * i + 1] = static_cast<uint8_t>(kSpread[bits[i]]);
        }
    } else if (y == r.paper.Height() + kTearLineRows / 2) {
        // A full cut is a solid line, a partial one dashed.
        for (int x = 0; x < paper; ++x) {
            Put(row, x, r.cut == CutKind::kFull || (x % 10) < 6 ? kMark : kPaper);
        }
    }
    for (int x = paper; x < width; ++x) {
        Put(row, x, kMargin);
    }
    // A drawer pulse: a triangle pointing at the paper where it happened.
    // Only the marks near the row are looked at, so a picture costs its rows
    // plus its marks, not their product.
    auto near = std::lower_bound(marks.begin(), marks.end(), y - kMarkHalfHeight,
                                 [](const DrawerMark& m, int top) { return m.y < top; });
    for (; near != marks.end() && near->y <= y + kMarkHalfHeight; ++near) {
        const DrawerMark& mark = *near;
        const int dy = std::abs(y - mark.y);
        const int length = (kMarkHalfHeight - dy) * (kMarginDots - 4) / kMarkHalfHeight;
        for (int i = 0; i <= length; ++i) {
            // Pin 5 is hollow, so the two drawers read apart.
            const bool edge = i == 0 || i == length || dy == kMarkHalfHeight || mark.pin != 5;
            Put(row, paper + 2 + i, edge ? kMark : kMargin);
        }
    }
}

int PictureHeight(const Receipt& r) {
    int height = r.paper.Height() + (r.cut != CutKind::kNone ? kTearLineRows : 0);
    for (const DrawerMark& mark : r.drawerMarks) {
        height = std::max(height, mark.y + kMarkHalfHeight + 1);
    }
    return std::max(height, 1);
}

std::vector<DrawerMark> SortedMarks(const Receipt& r) {
    std::vector<DrawerMark> marks = r.drawerMarks;
    std::stable_sort(marks.begin(), marks.end(),
                     [](const DrawerMark& a, const DrawerMark& b) { return a.y < b.y; });
    return marks;
}

std::vector<uint8_t> Png(int width, int height, const std::vector<uint8_t>& header,
                         const std::vector<uint8_t>& raw, bool palette) {
    // Receipts are mostly white: the fastest level packs them well enough.
    uLongf packedSize = ::compressBound(static_cast<uLong>(raw.size()));
    std::vector<uint8_t> packed(packedSize);
    ::compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()),
                Z_BEST_SPEED);
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> ihdr;
    Put32(ihdr, static_cast<uint32_t>(width));
    Put32(ihdr, static_cast<uint32_t>(height));
    ihdr.insert(ihdr.end(), header.begin(), header.end());
    Chunk(png, "IHDR", ihdr.data(), ihdr.size());
    if (palette) {
        Chunk(png, "PLTE", kPalette, sizeof kPalette);
    }
    Chunk(png, "IDAT", packed.data(), packedSize);
    Chunk(png, "IEND", nullptr, 0);
    return png;
}

}  // namespace

Picture DrawReceiptPicture(const Receipt& r) {
    Picture picture;
    picture.width = r.paper.Width() + kMarginDots;
    picture.height = PictureHeight(r);
    picture.pixels.resize(static_cast<size_t>(picture.width) * picture.height);
    std::vector<uint8_t> row(std::max<size_t>((static_cast<size_t>(picture.width) + 3) / 4,
                                              2 * static_cast<size_t>(r.paper.BytesPerRow())));
    const std::vector<DrawerMark> marks = SortedMarks(r);
    uint32_t* out = picture.pixels.data();
    for (int y = 0; y < picture.height; ++y) {
        std::fill(row.begin(), row.end(), 0);
        PictureRow(r, marks, y, picture.width, row.data());
        for (int x = 0; x < picture.width; ++x, ++out) {
            const int c = row[x >> 2] >> (6 - 2 * (x & 3)) & 3;
            *out = 0xFF000000u | uint32_t{kPalette[3 * c]} << 16 |
                   uint32_t{kPalette[3 * c + 1]} << 8 | kPalette[3 * c + 2];
        }
    }
    return picture;
}

std::vector<uint8_t> EncodePicturePng(const Picture& picture) {
    const size_t stride = 1 + 3 * static_cast<size_t>(picture.width);
    std::vector<uint8_t> raw(stride * static_cast<size_t>(picture.height), 0);
    for (int y = 0; y < picture.height; ++y) {
        uint8_t* out = raw.data() + stride * y + 1;
        const uint32_t* in = picture.pixels.data() + static_cast<size_t>(y) * picture.width;
        for (int x = 0; x < picture.width; ++x) {
            *out++ = static_cast<uint8_t>(in[x] >> 16);
            *out++ = static_cast<uint8_t>(in[x] >> 8);
            *out++ = static_cast<uint8_t>(in[x]);
        }
    }
    return Png(picture.width, picture.height, {8, 2, 0, 0, 0}, raw, false);
}

std::vector<uint8_t> EncodeReceiptPng(const Receipt& r, int scale) {
    scale = std::clamp(scale, 1, kMaxPngScale);
    const int width = r.paper.Width() + kMarginDots;
    const int height = PictureHeight(r);
    // A filter byte (none), then the row at two bits a pixel.
    const size_t rowBytes = (static_cast<size_t>(width) + 3) / 4;
    const size_t stride = 1 + (static_cast<size_t>(width) * scale + 3) / 4;
    std::vector<uint8_t> raw(stride * static_cast<size_t>(height) * scale, 0);
    std::vector<uint8_t> row(std::max(rowBytes, 2 * static_cast<size_t>(r.paper.BytesPerRow())));
    const std::vector<DrawerMark> marks = SortedMarks(r);
    for (int y = 0; y < height; ++y) {
        std::fill(row.begin(), row.end(), 0);
        PictureRow(r, marks, y, width, row.data());
        uint8_t* first = raw.data() + stride * y * scale + 1;
        if (scale == 1) {
            std::copy_n(row.begin(), rowBytes, first);
            continue;
        }
        for (int x = 0; x < width; ++x) {
            const auto colour = static_cast<Colour>(row[x >> 2] >> (6 - 2 * (x & 3)) & 3);
            for (int i = 0; i < scale; ++i) {
                Put(first, x * scale + i, colour);
            }
        }
        for (int i = 1; i < scale; ++i) {
            std::copy_n(first, stride - 1, first + stride * i);
        }
    }
    return Png(width * scale, height * scale, {2, 3, 0, 0, 0}, raw, true);  // 2 bits, palette
}

std::string WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes) {
    // The temporary name is created new, never opened where it stands: in a
    // folder others may write to, a link planted there must not make us
    // overwrite the file it points at. Taken names are passed over.
    constexpr int kTries = 8;
    for (int i = 0; i < kTries; ++i) {
        // Appended piece by piece: GCC 12 at -O3 warns falsely about the
        // temporaries of "." + std::to_string(i).
        std::string part = path;
        if (i > 0) {
            part += '.';
            part += std::to_string(i);
        }
        part += ".part";
        const NewFile written = WriteNewFile(part, bytes.data(), bytes.size());
        if (written.status == NewFileStatus::kExists) {
            continue;
        }
        if (written.status == NewFileStatus::kFailed) {
            return path + ": " + FileErrorText(written.error);
        }
        if (const int error = RenameFile(part, path); error != 0) {
            RemoveFile(part);
            return path + ": " + FileErrorText(error);
        }
        return {};
    }
    return path + ": temporary names " + path + ".part and others are taken";
}

}  // namespace vorpane::receipt
