#pragma once
// The raster images of GS ( L and GS 8 L, as the journal and the renderer
// both read them: function 112 stores an image in the print buffer and 50
// prints it; 67 defines an NV image under a two-byte key and 69 prints it.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "escpos/command.h"

namespace vorpane::escpos {

constexpr int64_t kPrintGraphics = 50;
constexpr int64_t kDefineNvGraphics = 67;
constexpr int64_t kPrintNvGraphics = 69;
constexpr int64_t kStoreGraphics = 112;

struct RasterGraphics {
    int width = 0;  // dots
    int height = 0;
    int scaleX = 1;
    int scaleY = 1;
    int colour = 1;                 // 1..4; a one-colour printer prints colour 1
    uint16_t key = 0;               // kc1 << 8 | kc2, for 67 and 69
    std::span<const uint8_t> rows;  // (width + 7) / 8 bytes a row; short when cut off

    size_t Stride() const { return (static_cast<size_t>(width) + 7) / 8; }
    size_t Expected() const { return Stride() * static_cast<size_t>(height); }
};

// The image of a kGraphics command with function 112, 67 or 69 (69: key
// and scale only); nothing for another function, a multi-tone image or
// parameters cut short.
std::optional<RasterGraphics> ParseGraphics(const Command& command);

}  // namespace vorpane::escpos
