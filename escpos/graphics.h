#pragma once
// The raster images of GS ( L and GS 8 L, as the decoder reads them once
// for the journal and the renderer: function 112 stores an image in the
// print buffer and 50 prints it; 67 defines an NV image under a two-byte
// key and 69 prints it.

#include <cstdint>
#include <optional>
#include <span>

#include "escpos/command.h"

namespace vorpane::escpos {

GraphicsFunction GraphicsFunctionOf(uint8_t fn);

// The image of kStore, kDefineNv or kPrintNv (key and scale only) from the
// bytes after fn; nothing for another function, a multi-tone image or
// parameters cut short.
std::optional<RasterGraphics> ParseGraphics(GraphicsFunction function,
                                            std::span<const uint8_t> params);

}  // namespace vorpane::escpos
