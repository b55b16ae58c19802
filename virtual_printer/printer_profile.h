#pragma once
// The printers vorpane-printer can stand in for: paper width in dots, the
// fonts' cells, the paper between head and cutter and the code page at
// power-on. Most POS code is written for one of these classes.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "escpos/command.h"
#include "receipt/glyphs.h"
#include "receipt/receipt_renderer.h"

namespace vorpane {

struct PrinterProfile {
    const char* name;
    int paperMm;
    int dpi;
    int paperDots;
    receipt::FontCells cells;
    int cutterOffsetDots;
    uint8_t codePage;  // ESC t page at power-on
};

std::span<const PrinterProfile> PrinterProfiles();
// Null when no profile has that name.
const PrinterProfile* FindPrinterProfile(std::string_view name);
// 80 mm at 203 dpi.
const PrinterProfile& DefaultPrinterProfile();

// The renderer's options and the power-on text mode of a profile.
receipt::RenderOptions RenderOptionsOf(const PrinterProfile& profile);
escpos::TextMode StartModeOf(const PrinterProfile& profile, bool chinese);

// One line per profile for --help.
std::string ProfileTable();

}  // namespace vorpane
