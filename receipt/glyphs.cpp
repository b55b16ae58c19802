#include "receipt/glyphs.h"

#include <map>
#include <tuple>

namespace vorpane::receipt {
namespace {

class BoxGlyphs final : public GlyphSource {
public:
    explicit BoxGlyphs(FontCells cells) : GlyphSource(cells) {}
    const Glyph& Get(char32_t code, Font font, bool wide) override {
        const bool blank = code == U' ' || code == U'\u3000' || code == 0xA0;
        auto [it, added] = m_boxes.try_emplace(std::make_tuple(font, wide, blank));
        if (added) {
            const Cell cell = CellOf(font);
            Glyph& g = it->second;
            g.width = cell.width * (wide ? 2 : 1);
            g.height = cell.height;
            g.dots.assign(static_cast<size_t>(g.width) * g.height, 0);
            for (int y = 2; !blank && y < g.height - 3; ++y) {
                for (int x = 1; x < g.width - 2; ++x) {
                    const bool edge = y == 2 || y == g.height - 4 || x == 1 || x == g.width - 3;
                    g.dots[static_cast<size_t>(y) * g.width + x] = edge ? 1 : 0;
                }
            }
        }
        return it->second;
    }

private:
    std::map<std::tuple<Font, bool, bool>, Glyph> m_boxes;
};

}  // namespace

std::unique_ptr<GlyphSource> MakeBoxGlyphs(FontCells cells) {
    return std::make_unique<BoxGlyphs>(cells);
}

}  // namespace vorpane::receipt
