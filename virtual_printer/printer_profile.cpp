#include "virtual_printer/printer_profile.h"

#include "escpos/text_codec.h"

namespace vorpane {
namespace {

// Head-to-cutter distances are about 14 mm on 80 mm printers and 12 mm on
// 58 mm ones: lines printed just before a cut end up past it.
constexpr PrinterProfile kProfiles[] = {
    {"80mm-203dpi", 80, 203, receipt::kPaper80Dots, {{12, 24}, {9, 17}}, 112, 0},
    {"80mm-180dpi", 80, 180, 512, {{12, 24}, {9, 17}}, 99, 0},
    {"58mm-203dpi", 58, 203, receipt::kPaper58Dots, {{12, 24}, {9, 17}}, 96, 0},
};

std::string CellText(receipt::Cell cell, int paperDots) {
    return std::to_string(cell.width) + "x" + std::to_string(cell.height) + " (" +
           std::to_string(paperDots / cell.width) + " columns)";
}

}  // namespace

std::span<const PrinterProfile> PrinterProfiles() {
    return kProfiles;
}

const PrinterProfile* FindPrinterProfile(std::string_view name) {
    for (const PrinterProfile& profile : kProfiles) {
        if (name == profile.name) {
            return &profile;
        }
    }
    return nullptr;
}

const PrinterProfile& DefaultPrinterProfile() {
    return kProfiles[0];
}

receipt::RenderOptions RenderOptionsOf(const PrinterProfile& profile) {
    receipt::RenderOptions options;
    options.paperDots = profile.paperDots;
    options.cutterOffsetDots = profile.cutterOffsetDots;
    return options;
}

escpos::TextMode StartModeOf(const PrinterProfile& profile, bool chinese) {
    escpos::TextMode mode;
    mode.chinese = chinese;
    mode.codePage = profile.codePage;
    return mode;
}

std::string ProfileTable() {
    std::string out;
    for (const PrinterProfile& p : kProfiles) {
        const char* page = escpos::CodePageName(p.codePage);
        out += "  " + std::string(p.name) + std::string(14 - std::string_view(p.name).size(), ' ') +
               std::to_string(p.paperMm) + " mm at " + std::to_string(p.dpi) +
               " dpi: " + std::to_string(p.paperDots) + " dots, Font A " +
               CellText(p.cells.a, p.paperDots) + ",\n" + std::string(16, ' ') + "Font B " +
               CellText(p.cells.b, p.paperDots) + ", cutter " + std::to_string(p.cutterOffsetDots) +
               " dots past the head,\n" + std::string(16, ' ') + "code page " +
               std::to_string(p.codePage) + " (" + (page ? page : "?") + ")" +
               (&p == &DefaultPrinterProfile() ? ", the default" : "") + "\n";
    }
    return out;
}

}  // namespace vorpane
