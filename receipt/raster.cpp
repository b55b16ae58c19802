#include "receipt/raster.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace vorpane::receipt {

Raster::Raster(int width, int maxHeight)
    : m_width(std::max(width, 0)),
      m_maxHeight(std::max(maxHeight, 0)),
      m_stride((m_width + 7) / 8) {}

bool Raster::Reserve(int height) {
    const int rows = std::min(height, m_maxHeight);
    if (rows > m_height) {
        m_bits.resize(static_cast<size_t>(rows) * m_stride);
        m_height = rows;
    }
    return height <= m_maxHeight;
}

void Raster::Shrink(int height) {
    m_height = std::clamp(height, 0, m_height);
    m_bits.resize(static_cast<size_t>(m_height) * m_stride);
}

void Raster::CopyRows(const Raster& from, int y, int rows) {
    rows = std::min({rows, from.m_height - y, m_height});
    if (from.m_stride != m_stride || y < 0 || rows <= 0) {
        return;
    }
    std::copy_n(from.Row(y), static_cast<size_t>(rows) * m_stride, m_bits.begin());
}

void Raster::OrRows(const Raster& from, int y, int rows) {
    rows = std::min({rows, from.m_height, m_height - y});
    if (from.m_stride != m_stride || y < 0 || rows <= 0) {
        return;
    }
    const size_t n = static_cast<size_t>(rows) * m_stride;
    uint8_t* to = m_bits.data() + static_cast<size_t>(y) * m_stride;
    for (size_t i = 0; i < n; ++i) {
        to[i] |= from.m_bits[i];
    }
}

bool Raster::Get(int x, int y) const {
    if (x < 0 || y < 0 || x >= m_width || y >= m_height) {
        return false;
    }
    return (Row(y)[x >> 3] >> (7 - (x & 7))) & 1;
}

void Raster::Set(int x, int y) {
    if (x < 0 || y < 0 || x >= m_width || y >= m_height) {
        return;
    }
    m_bits[static_cast<size_t>(y) * m_stride + (x >> 3)] |= static_cast<uint8_t>(0x80 >> (x & 7));
}

void Raster::Clear(int x, int y) {
    if (x < 0 || y < 0 || x >= m_width || y >= m_height) {
        return;
    }
    m_bits[static_cast<size_t>(y) * m_stride + (x >> 3)] &=
        static_cast<uint8_t>(~(0x80 >> (x & 7)));
}

void Raster::Fill(int x, int y, int w, int h, bool ink) {
    const int x0 = std::max(x, 0);
    const int x1 = std::min(x + w, m_width);
    const int y0 = std::max(y, 0);
    const int y1 = std::min(y + h, m_height);
    if (x0 >= x1 || y0 >= y1) {
        return;
    }
    const int first = x0 >> 3;
    const int last = (x1 - 1) >> 3;
    const auto head = static_cast<uint8_t>(0xFF >> (x0 & 7));
    const auto tail = static_cast<uint8_t>(0xFF << (7 - ((x1 - 1) & 7)));
    for (int row = y0; row < y1; ++row) {
        uint8_t* bits = m_bits.data() + static_cast<size_t>(row) * m_stride;
        for (int i = first; i <= last; ++i) {
            uint8_t mask = 0xFF;
            if (i == first) {
                mask &= head;
            }
            if (i == last) {
                mask &= tail;
            }
            bits[i] = ink ? bits[i] | mask : bits[i] & static_cast<uint8_t>(~mask);
        }
    }
}

namespace {

constexpr std::array<uint8_t, 256> kReversed = [] {
    std::array<uint8_t, 256> table{};
    for (int b = 0; b < 256; ++b) {
        for (int bit = 0; bit < 8; ++bit) {
            table[b] |= static_cast<uint8_t>(((b >> bit) & 1) << (7 - bit));
        }
    }
    return table;
}();

// Bits [x, x + w) of a row of `stride` bytes, from the first bit of `out` on.
void TakeBits(const uint8_t* row, int stride, int x, int w, uint8_t* out) {
    const int n = (w + 7) / 8;
    const int shift = x & 7;
    const int first = x >> 3;
    for (int j = 0; j < n; ++j) {
        const unsigned hi = row[first + j];
        const unsigned lo = shift != 0 && first + j + 1 < stride ? row[first + j + 1] : 0;
        out[j] = static_cast<uint8_t>(hi << shift | lo >> (8 - shift));
    }
    if (w % 8 != 0) {
        out[n - 1] &= static_cast<uint8_t>(0xFF << (8 - w % 8));
    }
}

// The first w bits of `bits` in the opposite order, in place.
void ReverseBits(uint8_t* bits, int w) {
    const int n = (w + 7) / 8;
    std::reverse(bits, bits + n);
    std::transform(bits, bits + n, bits, [](uint8_t b) { return kReversed[b]; });
    const int shift = n * 8 - w;
    if (shift == 0) {
        return;
    }
    for (int j = 0; j < n; ++j) {
        const unsigned next = j + 1 < n ? bits[j + 1] : 0;
        bits[j] = static_cast<uint8_t>(bits[j] << shift | next >> (8 - shift));
    }
}

// Writes (or, with `add`, inks) the first w bits of `bits` into a row from x.
void PutBits(uint8_t* row, int x, int w, const uint8_t* bits, bool add) {
    const int shift = x & 7;
    const int first = x >> 3;
    const int last = (x + w - 1) >> 3;
    const int n = (w + 7) / 8;
    for (int i = first; i <= last; ++i) {
        const int j = i - first;
        const unsigned hi = j > 0 && j - 1 < n ? bits[j - 1] : 0;
        const unsigned lo = j < n ? bits[j] : 0;
        const auto b = static_cast<uint8_t>(hi << (8 - shift) | lo >> shift);
        uint8_t mask = 0xFF;
        if (i == first) {
            mask &= static_cast<uint8_t>(0xFF >> shift);
        }
        if (i == last) {
            mask &= static_cast<uint8_t>(0xFF << (7 - ((x + w - 1) & 7)));
        }
        row[i] = add ? row[i] | (b & mask) : (row[i] & static_cast<uint8_t>(~mask)) | (b & mask);
    }
}

}  // namespace

void Raster::Rotate180(int x, int y, int w, int h) {
    // Dots left and right of the raster are dropped, as are rows it does not have.
    const int x0 = std::max(x, 0);
    const int x1 = std::min(x + w, m_width);
    if (x0 >= x1 || h <= 0 || x0 != x || x1 != x + w) {
        return RotateDots(x, y, w, h);
    }
    const auto n = static_cast<size_t>((w + 7) / 8);
    std::vector<uint8_t> top(n);
    std::vector<uint8_t> bottom(n);
    for (int dy = 0; dy < (h + 1) / 2; ++dy) {
        const int a = y + dy;
        const int b = y + h - 1 - dy;
        const bool hasA = a >= 0 && a < m_height;
        const bool hasB = b >= 0 && b < m_height;
        if (!hasA && !hasB) {
            continue;
        }
        std::fill(top.begin(), top.end(), 0);
        std::fill(bottom.begin(), bottom.end(), 0);
        if (hasA) {
            TakeBits(Row(a), m_stride, x, w, top.data());
        }
        if (hasB) {
            TakeBits(Row(b), m_stride, x, w, bottom.data());
        }
        ReverseBits(top.data(), w);
        ReverseBits(bottom.data(), w);
        uint8_t* bits = m_bits.data();
        if (hasB) {
            PutBits(bits + static_cast<size_t>(b) * m_stride, x, w, top.data(), false);
        }
        if (hasA && a != b) {
            PutBits(bits + static_cast<size_t>(a) * m_stride, x, w, bottom.data(), false);
        }
    }
}

void Raster::RotateDots(int x, int y, int w, int h) {
    std::vector<uint8_t> dots(static_cast<size_t>(std::max(w, 0)) * std::max(h, 0));
    for (int dy = 0; dy < h; ++dy) {
        for (int dx = 0; dx < w; ++dx) {
            dots[static_cast<size_t>(dy) * w + dx] = Get(x + dx, y + dy);
        }
    }
    Fill(x, y, w, h, false);
    for (int dy = 0; dy < h; ++dy) {
        for (int dx = 0; dx < w; ++dx) {
            if (dots[static_cast<size_t>(dy) * w + dx]) {
                Set(x + w - 1 - dx, y + h - 1 - dy);
            }
        }
    }
}

void Raster::InkRow(int y, int x, int w, const uint8_t* bits, bool reversed) {
    const int x0 = std::max(x, 0);
    const int x1 = std::min(x + w, m_width);
    if (y < 0 || y >= m_height || x0 >= x1) {
        return;
    }
    std::vector<uint8_t> run((static_cast<size_t>(w) + 7) / 8);
    std::copy_n(bits, run.size(), run.begin());
    if (w % 8 != 0) {
        run.back() &= static_cast<uint8_t>(0xFF << (8 - w % 8));
    }
    if (reversed) {
        ReverseBits(run.data(), w);
    }
    if (x0 != x || x1 != x + w) {
        // Cut to the raster's columns a dot at a time: only a page area past
        // the paper's edge comes here.
        for (int i = x0; i < x1; ++i) {
            const int k = i - x;
            if ((run[static_cast<size_t>(k >> 3)] >> (7 - (k & 7))) & 1) {
                Set(i, y);
            }
        }
        return;
    }
    PutBits(m_bits.data() + static_cast<size_t>(y) * m_stride, x, w, run.data(), true);
}

bool Raster::AnyInk() const {
    // Eight bytes at a time: a receipt as long as allowed is over a megabyte.
    const uint8_t* p = m_bits.data();
    const size_t n = m_bits.size();
    size_t i = 0;
    for (; i + 64 <= n; i += 64) {
        uint64_t words[8];
        std::memcpy(words, p + i, sizeof words);
        if ((words[0] | words[1] | words[2] | words[3] | words[4] | words[5] | words[6] |
             words[7]) != 0) {
            return true;
        }
    }
    return std::any_of(p + i, p + n, [](uint8_t b) { return b != 0; });
}

}  // namespace vorpane::receipt
