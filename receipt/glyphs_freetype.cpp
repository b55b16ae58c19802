// Glyphs through FreeType: each character is drawn once at the cell's
// height, thresholded to dots and kept.

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "platform/file_reader.h"
#include "receipt/glyphs.h"

namespace vorpane::receipt {
namespace {

// Grey levels from this up count as ink; a little under half keeps thin
// strokes whole at 203 dpi.
constexpr int kInkLevel = 100;

// Half-width katakana (U+FF61..U+FF9F), which CJK fonts often lack, are
// drawn as their full-width forms squeezed into one cell.
constexpr std::u32string_view kFullWidthKana =
    U"。「」、・ヲァィゥェォャュョッーアイウエオカキクケコサシスセソタチツテトナニヌネノ"
    U"ハヒフヘホマミムメモヤユヨラリルレロワン゛゜";
static_assert(kFullWidthKana.size() == 0xFF9F - 0xFF61 + 1);

// FreeType reads the font through our file layer, part by part as glyphs are
// drawn: its own file code would open the path in Windows' ANSI code page,
// and reading the whole font first would slow every start.
unsigned long ReadFont(FT_Stream stream, unsigned long offset, unsigned char* buffer,
                       unsigned long count) {
    const auto* file = static_cast<const FileReader*>(stream->descriptor.pointer);
    if (count == 0) {
        return offset > stream->size ? 1 : 0;  // a seek: non-zero refuses it
    }
    return static_cast<unsigned long>(file->ReadAt(offset, buffer, count));
}

// Each face has a stream of its own, as FreeType keeps a position in it; all
// of them read the one file.
std::unique_ptr<FT_StreamRec> StreamOver(FileReader& file) {
    auto stream = std::make_unique<FT_StreamRec>();
    stream->size = static_cast<unsigned long>(file.Size());
    stream->descriptor.pointer = &file;
    stream->read = ReadFont;
    return stream;
}

FT_Face OpenFace(FT_Library library, FT_StreamRec& stream, FT_Long index) {
    FT_Open_Args args{};
    args.flags = FT_OPEN_STREAM;
    args.stream = &stream;
    FT_Face face = nullptr;
    return FT_Open_Face(library, &args, index, &face) == 0 ? face : nullptr;
}

class FreeTypeGlyphs final : public GlyphSource {
public:
    FreeTypeGlyphs(FT_Library library, std::unique_ptr<FileReader> file,
                   std::unique_ptr<FT_StreamRec> stream, FT_Face face, FontCells cells)
        : GlyphSource(cells),
          m_library(library),
          m_file(std::move(file)),
          m_stream(std::move(stream)),
          m_face(face),
          m_boxes(MakeBoxGlyphs(cells)) {}
    ~FreeTypeGlyphs() override {
        FT_Done_Face(m_face);
        FT_Done_FreeType(m_library);
    }
    FreeTypeGlyphs(const FreeTypeGlyphs&) = delete;
    FreeTypeGlyphs& operator=(const FreeTypeGlyphs&) = delete;

    const Glyph& Get(char32_t code, Font font, bool wide) override {
        const uint32_t key =
            static_cast<uint32_t>(code) | (font == Font::kB ? 1u << 22 : 0) | (wide ? 1u << 23 : 0);
        if (auto it = m_glyphs.find(key); it != m_glyphs.end()) {
            return it->second;
        }
        Glyph glyph;
        if (!Draw(code, font, wide, glyph) && !StandIn(code, font, wide, glyph)) {
            return m_boxes->Get(code, font, wide);
        }
        return m_glyphs.emplace(key, std::move(glyph)).first->second;
    }

private:
    // Characters of the code pages that the font lacks but can be made:
    // half-width katakana, and PC437's bullet operator and half blocks.
    bool StandIn(char32_t code, Font font, bool wide, Glyph& g) {
        if (code == U'∙') {
            return Draw(U'·', font, wide, g);
        }
        if (code >= 0xFF61 && code <= 0xFF9F && !wide) {
            Glyph full;
            if (!Draw(kFullWidthKana[code - 0xFF61], font, true, full)) {
                return false;
            }
            g.width = full.width / 2;
            g.height = full.height;
            g.dots.assign(static_cast<size_t>(g.width) * g.height, 0);
            for (int y = 0; y < g.height; ++y) {
                for (int x = 0; x < g.width; ++x) {
                    const size_t at = static_cast<size_t>(y) * full.width + 2 * x;
                    g.dots[static_cast<size_t>(y) * g.width + x] =
                        full.dots[at] | full.dots[at + 1];
                }
            }
            return true;
        }
        if (code != U'▀' && code != U'▐') {
            return false;
        }
        const Cell cell = CellOf(font);
        g.width = cell.width * (wide ? 2 : 1);
        g.height = cell.height;
        g.dots.assign(static_cast<size_t>(g.width) * g.height, 0);
        for (int y = 0; y < g.height; ++y) {
            for (int x = 0; x < g.width; ++x) {
                const bool ink = code == U'▀' ? y < g.height / 2 : x >= g.width / 2;
                g.dots[static_cast<size_t>(y) * g.width + x] = ink ? 1 : 0;
            }
        }
        return true;
    }

    bool Draw(char32_t code, Font font, bool wide, Glyph& g) {
        const Cell cell = CellOf(font);
        g.width = cell.width * (wide ? 2 : 1);
        g.height = cell.height;
        g.dots.assign(static_cast<size_t>(g.width) * g.height, 0);
        const FT_UInt index = FT_Get_Char_Index(m_face, code);
        if (index == 0 || FT_Set_Pixel_Sizes(m_face, 0, static_cast<FT_UInt>(cell.height)) != 0 ||
            FT_Load_Glyph(m_face, index, FT_LOAD_RENDER | FT_LOAD_NO_BITMAP) != 0) {
            return index == 0 && (code == U' ' || code == 0x3000);
        }
        const FT_GlyphSlot slot = m_face->glyph;
        const FT_Bitmap& bitmap = slot->bitmap;
        const int ascender = static_cast<int>(m_face->size->metrics.ascender >> 6);
        const int descender = static_cast<int>(m_face->size->metrics.descender >> 6);
        const int baseline = (cell.height - (ascender - descender)) / 2 + ascender;
        const int advance = static_cast<int>(slot->advance.x >> 6);
        const int left = (g.width - advance) / 2 + slot->bitmap_left;
        const int top = baseline - slot->bitmap_top;
        for (unsigned row = 0; row < bitmap.rows; ++row) {
            const uint8_t* src = bitmap.buffer + static_cast<ptrdiff_t>(row) * bitmap.pitch;
            for (unsigned col = 0; col < bitmap.width; ++col) {
                const bool ink = bitmap.pixel_mode == FT_PIXEL_MODE_MONO
                                     ? (src[col >> 3] >> (7 - (col & 7))) & 1
                                     : src[col] >= kInkLevel;
                const int x = left + static_cast<int>(col);
                const int y = top + static_cast<int>(row);
                if (ink && x >= 0 && y >= 0 && x < g.width && y < g.height) {
                    g.dots[static_cast<size_t>(y) * g.width + x] = 1;
                }
            }
        }
        return true;
    }

    FT_Library m_library;
    std::unique_ptr<FileReader> m_file;
    std::unique_ptr<FT_StreamRec> m_stream;  // the face's, over m_file
    FT_Face m_face;
    std::unique_ptr<GlyphSource> m_boxes;
    std::unordered_map<uint32_t, Glyph> m_glyphs;
};

}  // namespace

OpenedGlyphs OpenFontGlyphs(const std::string& path, FontCells cells) {
    FileReader::Opened opened = FileReader::Open(path);
    if (!opened.file) {
        return {nullptr, "cannot read font " + path};
    }
    auto file = std::make_unique<FileReader>(std::move(*opened.file));
    FT_Library library = nullptr;
    if (FT_Init_FreeType(&library) != 0) {
        return {nullptr, "FreeType did not start"};
    }
    auto stream = StreamOver(*file);
    FT_Face face = OpenFace(library, *stream, 0);
    if (face == nullptr) {
        FT_Done_FreeType(library);
        return {nullptr, "cannot read font " + path};
    }
    // A collection may hold a monospaced face: its Latin letters fill a cell.
    for (FT_Long i = 1; i < face->num_faces; ++i) {
        auto otherStream = StreamOver(*file);
        FT_Face other = OpenFace(library, *otherStream, i);
        if (other == nullptr) {
            continue;
        }
        if (other->family_name != nullptr && std::strstr(other->family_name, "Mono") != nullptr) {
            FT_Done_Face(face);
            face = other;
            stream = std::move(otherStream);
            break;
        }
        FT_Done_Face(other);
    }
    return {
        std::make_unique<FreeTypeGlyphs>(library, std::move(file), std::move(stream), face, cells),
        {}};
}

}  // namespace vorpane::receipt
