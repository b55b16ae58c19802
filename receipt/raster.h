#pragma once
// A 1-bit raster at printer dots, one bit per dot, most significant bit
// leftmost. It grows downwards as the paper feeds, up to a fixed height.

#include <cstddef>
#include <cstdint>
#include <vector>
#include "escpos/command.h"

namespace vorpane::receipt {

class Raster {
public:
    Raster(int width, int maxHeight);

    int Width() const { return m_width; }
    int Height() const { return m_height; }
    int MaxHeight() const { return m_maxHeight; }
    int BytesPerRow() const { return m_stride; }

    // Makes rows [0, height) exist; false when that passes the cap, in which
    // case the rows up to the cap exist.
    bool Reserve(int height);
    // Drops the rows from `height` down.
    void Shrink(int height);
    // Rows [y, y + rows) of `from`, as wide as this, become this one's first
    // rows, as far as both have them.
    void CopyRows(const Raster& from, int y, int rows);
    // Inks where `from`, as wide as this, has ink in its rows [0, rows),
    // onto this one's rows from y, as far as both have them.
    void OrRows(const Raster& from, int y, int rows);
    bool Get(int x, int y) const;
    // Dots outside the raster's rows are dropped.
    void Set(int x, int y);
    void Clear(int x, int y);
    // Inks (or clears) a rectangle, clipped to the rows that exist.
    void Fill(int x, int y, int w, int h, bool ink = true);
    // Turns the rectangle half a turn about its centre, clipped to the rows that exist.
    void Rotate180(int x, int y, int w, int h);
    // Inks row y from x where the first w bits of `bits` (most significant
    // first), or the same bits from the last, have ink.
    void InkRow(int y, int x, int w, const uint8_t* bits, bool reversed);
    const uint8_t* Row(int y) const { return m_bits.data() + static_cast<size_t>(y) * m_stride; }
    bool AnyInk() const;

private:
    // Rotate180 a dot at a time, for a rectangle past the raster's sides.
    void RotateDots(int x, int y, int w, int h);

    int m_width;
    int m_maxHeight;
    int m_stride;
    int m_height = 0;
    std::vector<uint8_t> m_bits;
};

struct DrawerMark {
    int y = 0;
    int pin = 2;
};

using escpos::CutKind;

// One piece of paper as it leaves the printer.
struct Receipt {
    explicit Receipt(int width, int maxHeight) : paper(width, maxHeight) {}

    Raster paper;
    std::vector<DrawerMark> drawerMarks;
    CutKind cut = CutKind::kNone;
    bool capped = false;  // more was sent than its height could take
};

}  // namespace vorpane::receipt
