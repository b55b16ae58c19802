// Builds without a font library: the caller falls back to boxes.

#include "receipt/glyphs.h"

namespace vorpane::receipt {

OpenedGlyphs OpenFontGlyphs(const std::string& path, FontCells) {
    return {nullptr, "built without FreeType, cannot read " + path};
}

}  // namespace vorpane::receipt
