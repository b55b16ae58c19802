// Debian's fonts-wqy-zenhei, which the package recommends.

#include "emulator/render/glyphs.h"

namespace vorpane::render {

std::string DefaultFontPath() {
    return "/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc";
}

}  // namespace vorpane::render
