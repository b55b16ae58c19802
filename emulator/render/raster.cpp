#include "emulator/render/raster.h"

#include <algorithm>

namespace vorpane::render {

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

void Raster::Rotate180(int x, int y, int w, int h) {
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

bool Raster::AnyInk() const {
    return std::any_of(m_bits.begin(), m_bits.end(), [](uint8_t b) { return b != 0; });
}

}  // namespace vorpane::render
