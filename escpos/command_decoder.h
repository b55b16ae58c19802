#pragma once
// Incremental ESC/POS decoder: the bytes of one session go in, in pieces of
// any size, and whole commands come out to a sink, the same ones whatever
// the pieces. It never fails, buffers at most one bounded payload (a
// symbol's data, a column image, one raster row, graphics up to
// kMaxGraphicsData) and passes over long
// commands of known length without keeping them.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "escpos/command.h"

namespace vorpane::escpos {

class CommandDecoder {
public:
    // GS k form A data ends at NUL or after this many bytes.
    static constexpr size_t kMaxBarcodeData = 255;
    static constexpr size_t kMaxTabStops = 32;
    // GS 8 L graphics larger than this are passed over undrawn.
    static constexpr uint64_t kMaxGraphicsData = uint64_t{1} << 20;

    // Without `text`, printable text is passed over unseen (a sink that only
    // needs the commands' effects goes faster). `start` is the text mode at
    // power-on, to which ESC @ returns.
    explicit CommandDecoder(CommandSink& sink, bool text = true, TextMode start = {});

    // Returns the bytes taken: all of them, unless the sink called Pause().
    size_t Feed(const uint8_t* data, size_t size);
    // From the sink while it takes a command: Feed returns soon after it,
    // between commands, and the rest of the piece is the caller's to feed
    // again later.
    void Pause() { m_paused = true; }
    // Bytes of a command still arriving, kept until it is whole.
    size_t HeldBytes() const { return m_data.capacity(); }
    // Lets go of them: the rest of the command is passed over, as one too
    // large is. False when nothing was held.
    bool DropHeld();
    // End of the session: reports a command cut off and hands on held text.
    void Finish();

    const TextMode& Mode() const { return m_mode; }

private:
    struct Commands;  // the table of commands, in the source

    enum class State : uint8_t {
        kText,
        kHeader,      // collecting a command's fixed part
        kPayload,     // collecting its data into m_data
        kSkip,        // passing over m_skipLeft bytes
        kRows,        // raster rows, one at a time
        kTabStops,    // ESC D values up to NUL
        kUntilNul,    // GS k form A data
        kPartHeader,  // the header of the next part of ESC & or FS q
    };
    enum class Payload : uint8_t {
        kColumnImage,
        kSymbol,
        kGraphics,
        kNvImage,
        kBarcode,
        kRow,
        kResponse
    };

    const uint8_t* FeedText(const uint8_t* p, const uint8_t* end);
    const uint8_t* FeedCommand(const uint8_t* p, const uint8_t* end);
    void Text(const uint8_t* p, const uint8_t* q, bool atEnd);
    void EmitText(const uint8_t* p, size_t n);
    size_t HeaderLength() const;
    void HeaderDone();
    void Dispatch();
    void EmitNamed();
    void EmitUnknown();
    void PayloadDone(const uint8_t* data, size_t size);
    void PartHeaderDone();
    void BeginPayload(Payload kind, size_t size);
    void BeginSkip(uint64_t size);
    void BeginParts(int count, size_t headerSize);
    void EndCommand();
    void Emit(const Command& command);
    void EmitSimple(CommandBody body);
    void EmitSkipped(int64_t bytes);
    void EmitFrame(ConfigFrame::Kind kind, const uint8_t* head, size_t size);

    CommandSink& m_sink;
    const bool m_text;
    const TextMode m_start;
    TextMode m_mode;
    State m_state = State::kText;
    std::array<uint8_t, 16> m_head{};
    size_t m_headSize = 0;
    std::vector<uint8_t> m_data;
    size_t m_expected = 0;  // payload bytes, or one raster row
    Payload m_payload = Payload::kSymbol;
    uint64_t m_skipLeft = 0;
    uint64_t m_commandBytes = 0;  // consumed so far by a skipped command
    int64_t m_rowsLeft = 0;
    int m_partsLeft = 0;
    size_t m_partHeaderSize = 0;
    int m_imageWidth = 0;  // of the FS q image being read
    int m_imageHeight = 0;
    std::array<uint8_t, 8> m_carry{};  // a character cut by the end of a piece
    size_t m_carrySize = 0;
    bool m_paused = false;
};

}  // namespace vorpane::escpos
