// libFuzzer target over the virtual printer's command decoder, its journal
// and its renderer. Besides surviving any input, a session must give the
// same journal and the same receipts whether its bytes arrive at once or in
// pieces, every line must stay one printable line, receipts stay within
// their height, and without a journal the effects must be the same.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "receipt/symbols.h"
#include "virtual_printer/print_session.h"

namespace {

using namespace vorpane;

// Short receipts keep the runs fast; the cap is what is checked.
constexpr int kMaxDots = 600;

// Symbols made from the data alone: the fuzzer explores the renderer's
// drawing of them, not an encoding library.
class FakeSymbols final : public receipt::SymbolEncoder {
public:
    receipt::Symbol Encode(const receipt::SymbolRequest& request) override {
        receipt::Symbol s;
        if (request.data.size() > 300) {
            s.error = "too long";
            return s;
        }
        const bool square = request.symbology >= receipt::Symbology::kQr;
        s.width = static_cast<int>(request.data.size()) + 1;
        s.rows = square ? s.width : 1;
        for (int i = 0; i < s.width * s.rows; ++i) {
            s.modules.push_back(static_cast<uint8_t>((i * 7 + request.data.size()) % 3 == 0));
        }
        s.text.assign(request.data.begin(), request.data.end());
        return s;
    }
};

class Recorder final : public PrintSessionEvents {
public:
    void OnJournalLine(const std::string& line) override { lines.push_back(line); }
    void OnStatusRequest(StatusRequest r) override {
        if (r.kind == StatusRequest::Kind::kRealTime && (r.n < 1 || r.n > 4)) {
            __builtin_trap();
        }
        effects.push_back(StatusRequestName(r));
    }
    void OnNewAddress(const std::array<uint8_t, 4>&) override { effects.push_back("address"); }
    void OnNewMac(const std::array<uint8_t, 6>&) override { effects.push_back("mac"); }
    void OnReceipt(receipt::Receipt receipt) override {
        const receipt::Raster& r = receipt.paper;
        if (r.Height() > kMaxDots || r.Width() != receipt::kPaper58Dots) {
            __builtin_trap();
        }
        std::string summary =
            std::to_string(r.Height()) + "/" + std::to_string(receipt.drawerMarks.size()) + "/";
        uint32_t hash = 2166136261u;
        for (int y = 0; y < r.Height(); ++y) {
            for (int i = 0; i < r.BytesPerRow(); ++i) {
                hash = (hash ^ r.Row(y)[i]) * 16777619u;
            }
        }
        receipts.push_back(summary + std::to_string(hash));
    }

    std::vector<std::string> lines;
    std::vector<std::string> effects;
    std::vector<std::string> receipts;
};

Recorder Play(const uint8_t* data, size_t size, size_t piece, bool journal, bool draw) {
    static const auto glyphs = receipt::MakeBoxGlyphs();
    static FakeSymbols symbols;
    DrawingTools tools{glyphs.get(), &symbols, {}};
    tools.options.paperDots = receipt::kPaper58Dots;
    tools.options.maxReceiptDots = kMaxDots;
    Recorder recorder;
    PrintSession session(recorder, journal, draw ? &tools : nullptr);
    for (size_t i = 0; i < size; i += piece) {
        session.Feed(data + i, size - i < piece ? size - i : piece);
    }
    session.Finish();
    return recorder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    // The first byte picks the piece size of the second pass.
    const size_t piece = 1 + data[0] % 37;
    ++data;
    --size;

    const Recorder whole = Play(data, size, size == 0 ? 1 : size, true, true);
    const Recorder pieces = Play(data, size, piece, true, true);
    if (whole.lines != pieces.lines || whole.effects != pieces.effects ||
        whole.receipts != pieces.receipts) {
        __builtin_trap();
    }
    for (const std::string& line : whole.lines) {
        if (line.empty()) {
            __builtin_trap();
        }
        for (char c : line) {
            const auto b = static_cast<unsigned char>(c);
            if (b < 0x20 || b == 0x7F) {
                __builtin_trap();
            }
        }
    }
    if (Play(data, size, piece, false, false).effects != whole.effects) {
        __builtin_trap();
    }
    return 0;
}
