#include "escpos/graphics.h"

namespace vorpane::escpos {
namespace {

int Word(const uint8_t* p) {
    return p[0] | p[1] << 8;
}

// Scale parameters are 1 or 2, as bytes or as ASCII digits.
int Scale(uint8_t n) {
    return n == 2 || n == '2' ? 2 : 1;
}

}  // namespace

GraphicsFunction GraphicsFunctionOf(uint8_t fn) {
    switch (fn) {
        case 112:
            return GraphicsFunction::kStore;
        case 50:
            return GraphicsFunction::kPrint;
        case 67:
            return GraphicsFunction::kDefineNv;
        case 69:
            return GraphicsFunction::kPrintNv;
    }
    return GraphicsFunction::kOther;
}

std::optional<RasterGraphics> ParseGraphics(GraphicsFunction function, std::span<const uint8_t> d) {
    RasterGraphics g;
    switch (function) {
        case GraphicsFunction::kStore:
            // a bx by c xL xH yL yH, then the rows; a = 48 is monochrome.
            if (d.size() < 8 || d[0] != 48) {
                return std::nullopt;
            }
            g.scaleX = Scale(d[1]);
            g.scaleY = Scale(d[2]);
            g.colour = d[3] - 48;
            g.width = Word(&d[4]);
            g.height = Word(&d[6]);
            g.rows = d.subspan(8);
            break;
        case GraphicsFunction::kDefineNv:
            // a kc1 kc2 b xL xH yL yH, then per colour c and its rows.
            if (d.size() < 9 || d[0] != 48) {
                return std::nullopt;
            }
            g.key = static_cast<uint16_t>(d[1] << 8 | d[2]);
            g.width = Word(&d[4]);
            g.height = Word(&d[6]);
            g.colour = d[8] - 48;
            g.rows = d.subspan(9);
            break;
        case GraphicsFunction::kPrintNv:
            // kc1 kc2 x y
            if (d.size() < 4) {
                return std::nullopt;
            }
            g.key = static_cast<uint16_t>(d[0] << 8 | d[1]);
            g.scaleX = Scale(d[2]);
            g.scaleY = Scale(d[3]);
            return g;
        default:
            return std::nullopt;
    }
    if (g.rows.size() > g.Expected()) {
        g.rows = g.rows.first(g.Expected());
    }
    return g;
}

}  // namespace vorpane::escpos
