#pragma once
// Barcodes and 2D symbols as module matrices. The renderer sees only this
// interface; the encoding library behind it (libzint) is one file, so a
// build without it can still compile the rest.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace vorpane::receipt {

enum class Symbology : uint8_t {
    kUpcA,
    kUpcE,
    kEan13,
    kEan8,
    kCode39,
    kItf,
    kCodabar,
    kCode93,
    kCode128,
    kQr,
    kMicroQr,
    kPdf417,
    kPdf417Truncated,
    kDataBar,  // Omnidirectional; Truncated has the same modules, only lower
    kDataBarLimited,
    kDataBarExpanded,
};

struct SymbolRequest {
    Symbology symbology = Symbology::kCode128;
    std::span<const uint8_t> data;
    int errorCorrection = 0;  // QR 1..4 (L M Q H); PDF417 level 0..8, or -1 automatic
    int columns = 0;          // PDF417 data columns, 0 automatic
    int rows = 0;             // PDF417 rows, 0 automatic
};

struct Symbol {
    int width = 0;                 // modules
    int rows = 0;                  // rows of modules: 1 for a linear barcode
    std::vector<uint8_t> modules;  // width * rows, 1 is a bar or dark module
    std::string text;              // human-readable text of a linear barcode
    std::string error;             // why there is no symbol, empty when there is
};

class SymbolEncoder {
public:
    virtual ~SymbolEncoder() = default;
    virtual Symbol Encode(const SymbolRequest& request) = 0;
};

// libzint, or an encoder that refuses every symbol in a build without it.
std::unique_ptr<SymbolEncoder> MakeSymbolEncoder();

}  // namespace vorpane::receipt
