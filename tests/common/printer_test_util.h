#pragma once
// Helpers shared by the virtual printer's tests: byte strings, one
// session's bytes run through the decoder, the journal and the renderer, and
// pictures read back (PNG files with zlib, symbols with ZXing).

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#define ZX_USE_UTF8
#include <ZXing/ReadBarcode.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include "escpos/command_journal.h"
#include "receipt/symbols.h"
#include "virtual_printer/print_session.h"
#include "virtual_printer/printer_profile.h"

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
    void OnStatusRequest(StatusRequest r) override {
        lines.push_back("<" + StatusRequestName(r) + ">");
    }
    void OnNewAddress(const std::array<uint8_t, 4>& a) override {
        lines.push_back("<address " + HexBytes(a.data(), a.size()) + ">");
    }
    void OnNewMac(const std::array<uint8_t, 6>& m) override {
        lines.push_back("<mac " + HexBytes(m.data(), m.size()) + ">");
    }
    void OnReceipt(receipt::Receipt receipt) override { receipts.push_back(std::move(receipt)); }

    Lines lines;
    std::vector<receipt::Receipt> receipts;
    uint64_t work = 0;  // drawing work the session took
};

// Feeds `bytes` in pieces of `piece` bytes (0: at once); draws when `paper`
// is non-zero, with the app's font and libzint, or with a profile's boxes.
inline Recorder Print(const Bytes& bytes, size_t piece = 0, int paper = 0,
                      const PrinterProfile* profile = nullptr, bool chinese = true) {
    static const auto glyphs = receipt::OpenFontGlyphs(receipt::DefaultFontPath()).glyphs;
    static const auto symbols = receipt::MakeSymbolEncoder();
    EXPECT_TRUE(glyphs) << "the font of scripts/setup.sh is missing";
    const auto boxes = receipt::MakeBoxGlyphs(profile ? profile->cells : receipt::FontCells{});
    DrawingTools tools{profile ? boxes.get() : glyphs.get(), symbols.get(), {}};
    tools.options = profile ? RenderOptionsOf(*profile) : tools.options;
    tools.options.paperDots = profile ? profile->paperDots : paper;
    Recorder recorder;
    const escpos::TextMode start =
        StartModeOf(profile ? *profile : DefaultPrinterProfile(), chinese);
    PrintSession session(recorder, true, tools.options.paperDots > 0 && glyphs ? &tools : nullptr,
                         start);
    const size_t step = piece > 0 ? piece : std::max<size_t>(bytes.size(), 1);
    for (size_t i = 0; i < bytes.size(); i += step) {
        session.Feed(bytes.data() + i, std::min(step, bytes.size() - i));
    }
    session.Finish();
    recorder.work = session.DrawingWork();
    return recorder;
}

using ZXing::BarcodeFormat;

// ZXing's reading of a picture, on white paper with a quiet zone around.
inline std::string ReadBack(int width, int height, const std::function<bool(int, int)>& ink,
                            BarcodeFormat format) {
    constexpr int kPad = 40;
    const int w = width + 2 * kPad;
    const int h = height + 2 * kPad;
    std::vector<uint8_t> lum(static_cast<size_t>(w) * h, 255);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            lum[static_cast<size_t>(y + kPad) * w + x + kPad] = ink(x, y) ? 0 : 255;
        }
    }
    ZXing::DecodeHints hints;
    hints.setFormats(format);
    hints.setTryHarder(true);
    const auto result = ZXing::ReadBarcode({lum.data(), w, h, ZXing::ImageFormat::Lum}, hints);
    return result.isValid() ? result.text() : "<not read>";
}

inline std::string ReadBack(const receipt::Raster& r, BarcodeFormat format) {
    return ReadBack(
        r.Width(), r.Height(), [&r](int x, int y) { return r.Get(x, y); }, format);
}

inline uint32_t Be32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

// The picture rows of a PNG written by EncodeReceiptPng: palette indices.
inline std::vector<std::vector<int>> ReadPng(const std::vector<uint8_t>& png) {
    size_t at = 8;
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> packed;
    while (at + 12 <= png.size()) {
        const uint32_t size = Be32(&png[at]);
        const std::string type(png.begin() + at + 4, png.begin() + at + 8);
        const uint8_t* data = png.data() + at + 8;
        if (type == "IHDR") {
            width = Be32(data);
            height = Be32(data + 4);
        } else if (type == "IDAT") {
            packed.insert(packed.end(), data, data + size);
        }
        EXPECT_EQ(crc32(0, png.data() + at + 4, size + 4), Be32(data + size)) << type;
        at += 12 + size;
    }
    const size_t stride = 1 + (width + 3) / 4;
    // Room for one byte more: a picture that is longer than its header says shows.
    std::vector<uint8_t> raw(stride * height + 1);
    uLongf rawSize = raw.size();
    EXPECT_EQ(uncompress(raw.data(), &rawSize, packed.data(), packed.size()), Z_OK);
    EXPECT_EQ(rawSize, stride * height);
    std::vector<std::vector<int>> rows(height, std::vector<int>(width));
    // Each row: filter none, and the bits past the last dot zero.
    size_t badRows = 0;
    for (uint32_t y = 0; y < height; ++y) {
        const unsigned padding = 2 * (4 * (stride - 1) - width);
        badRows +=
            raw[y * stride] != 0 || (raw[y * stride + stride - 1] & ((1u << padding) - 1)) != 0;
    }
    EXPECT_EQ(badRows, 0u);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            rows[y][x] = raw[y * stride + 1 + x / 4] >> (6 - 2 * (x % 4)) & 3;
        }
    }
    return rows;
}

}  // namespace vorpane
