#pragma once
// Inputs that cost the virtual printer far more work than their bytes, for
// the tests and the receipt benchmark: each repeats a few bytes that redraw
// something large until it is `size` bytes long.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vorpane::hostile {

using Bytes = std::vector<uint8_t>;

inline void Put(Bytes& out, std::initializer_list<int> bytes) {
    for (int b : bytes) {
        out.push_back(static_cast<uint8_t>(b));
    }
}

// GS 8 L defining NV graphics "AB", width x height dots, inked all over.
inline Bytes DefineNv(int width, int height, int key2 = 'B') {
    const size_t stride = (static_cast<size_t>(width) + 7) / 8;
    const size_t body = 11 + stride * static_cast<size_t>(height);
    Bytes out;
    Put(out, {0x1D, '8', 'L'});
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<uint8_t>(body >> (8 * i)));
    }
    Put(out, {0x30, 0x43, 0x30, 'A', key2, 0x01, width & 0xFF, width >> 8, height & 0xFF,
              height >> 8, 0x31});
    out.resize(out.size() + stride * static_cast<size_t>(height), 0xFF);
    return out;
}

inline void PrintNv(Bytes& out, int key2 = 'B') {
    Put(out, {0x1D, '(', 'L', 6, 0, 0x30, 0x45, 'A', key2, 1, 1});
}

// Repeats `unit` until `size` bytes, after `head`.
inline Bytes Repeat(Bytes head, const Bytes& unit, size_t size) {
    while (head.size() + unit.size() <= size) {
        head.insert(head.end(), unit.begin(), unit.end());
    }
    return head;
}

// Page mode: GS $ 0 0 and a print of a 576 x 1662 NV graphic, again and again.
inline Bytes PageRedraw(size_t size) {
    Bytes head = DefineNv(576, 1662);
    Put(head, {0x1B, 'L'});
    Bytes unit;
    Put(unit, {0x1D, '$', 0, 0});
    PrintNv(unit);
    return Repeat(std::move(head), unit, size);
}

// Page mode: an area inked all over and recomposed by ESC T, along the
// paper's rows and across them, again and again.
inline Bytes TurnArea(size_t size) {
    Bytes head = DefineNv(576, 1662);
    Put(head, {0x1B, 'L'});
    Bytes unit;
    for (int direction : {0, 3}) {
        Put(unit, {0x1B, 'T', direction});
        PrintNv(unit);
    }
    return Repeat(std::move(head), unit, size);
}

// A QR code printed again and again, its error level changed before each
// print, with a cut every 1024 prints.
inline Bytes QrLevels(size_t size) {
    Bytes head;
    const std::string data(300, '7');
    Put(head, {0x1D, '(', 'k', static_cast<int>(data.size() + 3), 0, 0x31, 0x50, 0x30});
    head.insert(head.end(), data.begin(), data.end());
    Bytes unit;
    for (int i = 0; i < 1024; ++i) {
        Put(unit, {0x1D, '(', 'k', 3, 0, 0x31, 0x45, 0x30 + i % 4});
        Put(unit, {0x1D, '(', 'k', 3, 0, 0x31, 0x51, 0x30});
    }
    Put(unit, {0x1D, 'V', 0});
    return Repeat(std::move(head), unit, size);
}

// Upside-down lines of one large character each, with a cut every 500 lines.
inline Bytes UpsideDown(size_t size) {
    Bytes head;
    Put(head, {0x1B, '{', 1, 0x1D, '!', 0x77});
    Bytes unit;
    for (int i = 0; i < 500; ++i) {
        Put(unit, {'W', '\n'});
    }
    Put(unit, {0x1D, 'V', 0});
    return Repeat(std::move(head), unit, size);
}

// What one session can hold at once: four NV graphics and a stored graphic
// of `image` bytes each, a receipt as long as allowed, a page, and, in
// `arriving`, half of a GS 8 L of `image` bytes; `held` ends with DLE EOT 1,
// whose answer tells that the printer has read that far.
struct Holdings {
    Bytes held;
    Bytes arriving;
};
inline Holdings Hold(size_t image) {
    const int height = static_cast<int>(image / 256);
    Holdings h;
    for (int key = '1'; key <= '4'; ++key) {
        const Bytes nv = DefineNv(2048, height, key);
        h.held.insert(h.held.end(), nv.begin(), nv.end());
    }
    const size_t body = 10 + image;
    Put(h.held, {0x1D, '8', 'L'});
    for (int i = 0; i < 4; ++i) {
        h.held.push_back(static_cast<uint8_t>(body >> (8 * i)));
    }
    Put(h.held, {0x30, 0x70, 0x30, 1, 1, 0x31, 0x00, 0x08, height & 0xFF, height >> 8});
    h.held.resize(h.held.size() + image, 0xFF);
    Put(h.held, {'x', '\n'});
    for (int i = 0; i < 70; ++i) {
        Put(h.held, {0x1B, 'J', 255});
    }
    Put(h.held, {0x1B, 'L', 'p', 'a', 'g', 'e', '\n', 0x10, 0x04, 0x01});
    h.arriving = DefineNv(2048, height, '5');
    h.arriving.resize(h.arriving.size() / 2);
    return h;
}

struct Input {
    const char* name;
    Bytes (*make)(size_t size);
};

inline const Input kInputs[] = {{"page redraw", PageRedraw},
                                {"ESC T over ink", TurnArea},
                                {"QR levels", QrLevels},
                                {"upside-down lines", UpsideDown}};

}  // namespace vorpane::hostile
