// Symbols through libzint: its module matrix, not its picture, so that the
// renderer scales modules to printer dots itself.

#include <zint.h>

#include <algorithm>
#include <string>

#include "receipt/symbols.h"

namespace vorpane::receipt {
namespace {

int ZintSymbology(Symbology s) {
    switch (s) {
        case Symbology::kUpcA:
            return BARCODE_UPCA;
        case Symbology::kUpcE:
            return BARCODE_UPCE;
        case Symbology::kEan13:
        case Symbology::kEan8:
            return BARCODE_EANX;
        case Symbology::kCode39:
            return BARCODE_CODE39;
        case Symbology::kItf:
            return BARCODE_C25INTER;
        case Symbology::kCodabar:
            return BARCODE_CODABAR;
        case Symbology::kCode93:
            return BARCODE_CODE93;
        case Symbology::kCode128:
            return BARCODE_CODE128;
        case Symbology::kQr:
            return BARCODE_QRCODE;
        case Symbology::kMicroQr:
            return BARCODE_MICROQR;
        case Symbology::kPdf417:
            return BARCODE_PDF417;
        case Symbology::kPdf417Truncated:
            return BARCODE_PDF417COMP;
        case Symbology::kDataBar:
            return BARCODE_DBAR_OMN;
        case Symbology::kDataBarLimited:
            return BARCODE_DBAR_LTD;
        case Symbology::kDataBarExpanded:
            return BARCODE_DBAR_EXP;
    }
    return BARCODE_CODE128;
}

class ZintEncoder final : public SymbolEncoder {
public:
    Symbol Encode(const SymbolRequest& request) override {
        struct Deleter {
            void operator()(zint_symbol* s) const { ZBarcode_Delete(s); }
        };
        std::unique_ptr<zint_symbol, Deleter> z(ZBarcode_Create());
        Symbol out;
        if (!z) {
            out.error = "out of memory";
            return out;
        }
        z->symbology = ZintSymbology(request.symbology);
        z->input_mode = DATA_MODE;
        const bool qr =
            request.symbology == Symbology::kQr || request.symbology == Symbology::kMicroQr;
        if (qr) {
            z->option_1 = std::clamp(request.errorCorrection, 1, 4);
        } else if (request.symbology == Symbology::kPdf417 ||
                   request.symbology == Symbology::kPdf417Truncated) {
            z->option_1 = request.errorCorrection;
            z->option_2 = request.columns;
            z->option_3 = request.rows;
        } else if (request.symbology == Symbology::kDataBarExpanded) {
            // Printers check the characters, not what each AI means.
            z->input_mode = GS1_MODE | GS1PARENS_MODE | GS1NOCHECK_MODE;
        }
        const int rc =
            ZBarcode_Encode(z.get(), request.data.data(), static_cast<int>(request.data.size()));
        if (rc >= ZINT_ERROR) {
            out.error = z->errtxt;
            return out;
        }
        out.width = z->width;
        out.rows = z->rows;
        out.modules.resize(static_cast<size_t>(out.width) * out.rows);
        for (int y = 0; y < out.rows; ++y) {
            for (int x = 0; x < out.width; ++x) {
                out.modules[static_cast<size_t>(y) * out.width + x] =
                    (z->encoded_data[y][x >> 3] >> (x & 7)) & 1;
            }
        }
        out.text = reinterpret_cast<const char*>(z->text);
        return out;
    }
};

}  // namespace

std::unique_ptr<SymbolEncoder> MakeSymbolEncoder() {
    return std::make_unique<ZintEncoder>();
}

}  // namespace vorpane::receipt
