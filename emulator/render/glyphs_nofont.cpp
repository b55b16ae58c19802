// Builds without a font library: the caller falls back to boxes.

#include "emulator/render/glyphs.h"

namespace vorpane::render {

OpenedGlyphs OpenFontGlyphs(const std::string& path, FontCells) {
    return {nullptr, "built without FreeType, cannot read " + path};
}

}  // namespace vorpane::render
