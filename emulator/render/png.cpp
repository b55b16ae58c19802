#include "emulator/render/png.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace vorpane::render {
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

// Palette indices of one picture row.
void PictureRow(const Receipt& r, int y, std::vector<uint8_t>& row) {
    const int paper = r.paper.Width();
    std::fill(row.begin(), row.begin() + paper, kPaper);
    std::fill(row.begin() + paper, row.end(), kMargin);
    if (y < r.paper.Height()) {
        const uint8_t* bits = r.paper.Row(y);
        for (int x = 0; x < paper; ++x) {
            row[x] = (bits[x >> 3] >> (7 - (x & 7))) & 1;
        }
    } else if (y == r.paper.Height() + kTearLineRows / 2) {
        for (int x = 0; x < paper; ++x) {
            row[x] = (x % 10) < 6 ? kMark : kPaper;
        }
    }
    // A drawer pulse: a triangle pointing at the paper where it happened.
    for (const DrawerMark& mark : r.drawerMarks) {
        const int dy = std::abs(y - mark.y);
        if (dy <= kMarkHalfHeight) {
            const int length = (kMarkHalfHeight - dy) * (kMarginDots - 4) / kMarkHalfHeight;
            const int tip = paper + 2;
            std::fill(row.begin() + tip, row.begin() + tip + length + 1, kMark);
            if (mark.pin == 5) {
                // Pin 5 is hollow, so the two drawers read apart.
                std::fill(row.begin() + tip + 1, row.begin() + tip + std::max(length - 1, 1),
                          kMargin);
            }
        }
    }
}

}  // namespace

std::vector<uint8_t> EncodeReceiptPng(const Receipt& r) {
    const int width = r.paper.Width() + kMarginDots;
    int height = r.paper.Height() + (r.cut == CutKind::kPartial ? kTearLineRows : 0);
    for (const DrawerMark& mark : r.drawerMarks) {
        height = std::max(height, mark.y + kMarkHalfHeight + 1);
    }
    height = std::max(height, 1);
    const size_t stride = 1 + (static_cast<size_t>(width) + 3) / 4;  // filter byte, 2 bits a dot

    std::vector<uint8_t> raw(stride * static_cast<size_t>(height), 0);
    std::vector<uint8_t> row(static_cast<size_t>(width));
    for (int y = 0; y < height; ++y) {
        PictureRow(r, y, row);
        uint8_t* out = raw.data() + stride * static_cast<size_t>(y) + 1;
        for (int x = 0; x < width; ++x) {
            out[x >> 2] |= static_cast<uint8_t>(row[x] << (6 - 2 * (x & 3)));
        }
    }
    uLongf packedSize = ::compressBound(static_cast<uLong>(raw.size()));
    std::vector<uint8_t> packed(packedSize);
    ::compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), 6);

    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    Put32(header, static_cast<uint32_t>(width));
    Put32(header, static_cast<uint32_t>(height));
    header.insert(header.end(), {2, 3, 0, 0, 0});  // 2 bits, palette
    Chunk(png, "IHDR", header.data(), header.size());
    Chunk(png, "PLTE", kPalette, sizeof kPalette);
    Chunk(png, "IDAT", packed.data(), packedSize);
    Chunk(png, "IEND", nullptr, 0);
    return png;
}

std::string WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes) {
    const std::string part = path + ".part";
    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, Closer> file(std::fopen(part.c_str(), "wb"));
    if (!file) {
        return path + ": " + std::strerror(errno);
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
    if (std::fclose(file.release()) != 0 || !written) {
        std::remove(part.c_str());
        return path + ": write failed";
    }
    if (std::rename(part.c_str(), path.c_str()) != 0) {
        const std::string error = path + ": " + std::strerror(errno);
        std::remove(part.c_str());
        return error;
    }
    return {};
}

}  // namespace vorpane::render
