#pragma once
// Helpers shared by the virtual printer's tests: byte strings, and one
// session's bytes run through the decoder, the journal and the renderer.

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "emulator/escpos/command_journal.h"
#include "emulator/print_session.h"
#include "emulator/render/symbols.h"

namespace vorpane {

using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;
using escpos::HexBytes;

inline Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// Bytes of a literal, embedded NULs included.
template <size_t N>
Bytes B(const char (&s)[N]) {
    return Bytes(s, s + N - 1);
}

inline Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline Bytes RandomBytes(size_t size, unsigned seed) {
    std::independent_bits_engine<std::mt19937, 8, unsigned> random(seed);
    Bytes bytes(size);
    std::generate(bytes.begin(), bytes.end(), std::ref(random));
    return bytes;
}

// Journal lines, with the session's effects as <...> lines, and receipts.
struct Recorder final : PrintSessionEvents {
    void OnJournalLine(const std::string& line) override { lines.push_back(line); }
    void OnStatusRequest(uint8_t n) override {
        lines.push_back("<status " + std::to_string(n) + ">");
    }
    void OnNewAddress(const std::array<uint8_t, 4>& a) override {
        lines.push_back("<address " + HexBytes(a.data(), a.size()) + ">");
    }
    void OnNewMac(const std::array<uint8_t, 6>& m) override {
        lines.push_back("<mac " + HexBytes(m.data(), m.size()) + ">");
    }
    void OnReceipt(render::Receipt receipt) override { receipts.push_back(std::move(receipt)); }

    Lines lines;
    std::vector<render::Receipt> receipts;
};

// Feeds `bytes` in pieces of `piece` bytes (0: at once); draws when `paper`
// is non-zero, with the app's font and libzint.
inline Recorder Print(const Bytes& bytes, size_t piece = 0, int paper = 0) {
    static const auto glyphs = render::OpenFontGlyphs(render::kDefaultFontPath).glyphs;
    static const auto symbols = render::MakeSymbolEncoder();
    EXPECT_TRUE(glyphs) << "the font of scripts/setup.sh is missing";
    DrawingTools tools{glyphs.get(), symbols.get(), {}};
    tools.options.paperDots = paper;
    Recorder recorder;
    PrintSession session(recorder, true, paper > 0 && glyphs ? &tools : nullptr);
    const size_t step = piece > 0 ? piece : std::max<size_t>(bytes.size(), 1);
    for (size_t i = 0; i < bytes.size(); i += step) {
        session.Feed(bytes.data() + i, std::min(step, bytes.size() - i));
    }
    session.Finish();
    return recorder;
}

}  // namespace vorpane
