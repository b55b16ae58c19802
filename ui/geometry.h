#pragma once
#include <cstdint>

namespace vorpane::ui {

// Pixel rectangle, right and bottom exclusive.
struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool operator==(const Rect&) const = default;
};

// 0x00RRGGBB.
using Color = uint32_t;

}  // namespace vorpane::ui
