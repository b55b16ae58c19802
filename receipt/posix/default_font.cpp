// Debian's fonts-wqy-zenhei, which the package recommends.

#include "receipt/glyphs.h"

namespace vorpane::receipt {

std::string DefaultFontPath() {
    return "/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc";
}

}  // namespace vorpane::receipt
