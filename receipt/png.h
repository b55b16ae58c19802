#pragma once
// PNG pictures of receipts, written with zlib alone: the paper in black and
// white, a grey margin on its right where drawer pulses show as red marks,
// and a red line under a cut: solid for a full cut, dashed for a partial one.

#include <cstdint>
#include <string>
#include <vector>

#include "receipt/raster.h"

namespace vorpane::receipt {

constexpr int kMarginDots = 32;
constexpr int kTearLineRows = 9;

constexpr int kMaxPngScale = 8;

// Each dot becomes `scale` x `scale` pixels (1..kMaxPngScale).
std::vector<uint8_t> EncodeReceiptPng(const Receipt& receipt, int scale = 1);

// The same picture as pixels, 0xFFRRGGBB each, row after row: what a window
// shows of a receipt.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;
};
Picture DrawReceiptPicture(const Receipt& receipt);

// A picture as a PNG file (8-bit RGB).
std::vector<uint8_t> EncodePicturePng(const Picture& picture);

// Writes through a temporary name and renames, so that nobody sees half a
// file; returns an error text, empty on success.
std::string WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace vorpane::receipt
