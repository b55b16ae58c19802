#pragma once
// Character glyphs at printer dots, filling the cell of Font A or Font B
// (12 x 24 and 9 x 17 on most printers), or two cells for a wide (Chinese)
// character. The renderer
// sees only this interface; the font library behind it is one file, so a
// build without FreeType can draw boxes instead.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vorpane::receipt {

enum class Font : uint8_t { kA, kB };

struct Cell {
    int width;
    int height;
};
struct FontCells {
    Cell a{12, 24};
    Cell b{9, 17};
    constexpr Cell Of(Font font) const { return font == Font::kA ? a : b; }
};

// One dot per byte (0 or 1), row by row, the size of the cell or two.
struct Glyph {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> dots;
};

class GlyphSource {
public:
    explicit GlyphSource(FontCells cells) : m_cells(cells) {}
    virtual ~GlyphSource() = default;
    Cell CellOf(Font font) const { return m_cells.Of(font); }
    // Stays valid as long as the source; not thread-safe.
    virtual const Glyph& Get(char32_t code, Font font, bool wide) = 0;

private:
    const FontCells m_cells;
};

// Hollow boxes for every character but the space.
std::unique_ptr<GlyphSource> MakeBoxGlyphs(FontCells cells = {});

struct OpenedGlyphs {
    std::unique_ptr<GlyphSource> glyphs;  // null on failure
    std::string error;
};
// Glyphs from a font file (its monospaced face when it has one); characters
// it lacks are boxes.
OpenedGlyphs OpenFontGlyphs(const std::string& path, FontCells cells = {});

// The CJK font the app installs (WenQuanYi Zen Hei): the system's copy on
// Linux; on Windows the one in the fonts folder beside the program, else the
// system's SimSun. A path that may not exist: opening it says so.
std::string DefaultFontPath();

}  // namespace vorpane::receipt
