// libFuzzer target over the virtual printer's command decoder. Besides
// surviving any input, the decoder must give the same journal whether a
// session's bytes arrive at once or in pieces, and every line must stay one
// printable line.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "emulator/command_decoder.h"

namespace {

class Recorder final : public vorpane::CommandDecoderEvents {
public:
    void OnJournalLine(std::string line) override { lines.push_back(std::move(line)); }
    void OnStatusRequest(uint8_t n) override {
        if (n < 1 || n > 4) {
            __builtin_trap();
        }
        lines.push_back("status " + std::to_string(n));
    }
    void OnNewAddress(const std::array<uint8_t, 4>&) override { lines.push_back("address"); }
    void OnNewMac(const std::array<uint8_t, 6>&) override { lines.push_back("mac"); }

    std::vector<std::string> lines;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    // The first byte picks the piece size of the second pass.
    const size_t piece = 1 + data[0] % 37;
    ++data;
    --size;

    Recorder whole;
    {
        vorpane::CommandDecoder decoder(whole);
        decoder.Feed(data, size);
        decoder.Finish();
    }
    Recorder pieces;
    {
        vorpane::CommandDecoder decoder(pieces);
        for (size_t i = 0; i < size; i += piece) {
            decoder.Feed(data + i, size - i < piece ? size - i : piece);
        }
        decoder.Finish();
    }
    if (whole.lines != pieces.lines) {
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
    // Without a journal only the effects remain, and they must be the same.
    Recorder quiet;
    {
        vorpane::CommandDecoder decoder(quiet, false);
        decoder.Feed(data, size);
        decoder.Finish();
    }
    std::vector<std::string> effects;
    for (const std::string& line : whole.lines) {
        if (line.starts_with("status ") || line == "address" || line == "mac") {
            effects.push_back(line);
        }
    }
    if (effects != quiet.lines) {
        __builtin_trap();
    }
    return 0;
}
