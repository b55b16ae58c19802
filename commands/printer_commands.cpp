#include "commands/printer_commands.h"

#include <cstdio>

#include "commands/hex_payload.h"
#include "platform/whole_file.h"
#include "ui/window_system.h"

namespace vorpane {

namespace {

std::string Format(const char* format, auto... args) {
    const int n = std::snprintf(nullptr, 0, format, args...);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    std::snprintf(out.data(), out.size() + 1, format, args...);
    return out;
}

}  // namespace

int32_t SendBytes(PrinterLink& link, const std::string& address, std::span<const uint8_t> bytes) {
    return link.SendData(address.c_str(), bytes.data(), static_cast<int32_t>(bytes.size()));
}

std::vector<uint8_t> PayloadBytes(const std::string& text, bool hex) {
    if (hex) {
        return ParseHexPayload(text);
    }
    return {text.begin(), text.end()};
}

SendOutcome SendWholeFile(PrinterLink& link, const std::string& address, const std::string& path) {
    WholeFile file = ReadWholeFile(path);
    switch (file.status) {
        case WholeFile::Status::kFailed:
            return {Format("Open File Failed!Err=%d\n%s", file.error, path.c_str()), ui::kMbOk};
        case WholeFile::Status::kTooLarge:
            return {Format("The file is too large to send!\n%s", path.c_str()), ui::kMbIconError};
        case WholeFile::Status::kRead:
            break;
    }
    // A /proc file measures 0 bytes and holds some: a send of its measured
    // length would send nothing and look like success.
    if (file.length == 0 && file.longer) {
        return {Format("Read File Failed!The file measures 0 bytes but holds more, nothing was "
                       "sent\n%s",
                       path.c_str()),
                ui::kMbIconError};
    }
    const int32_t result =
        link.SendData(address.c_str(), file.buffer->Data(), static_cast<int32_t>(file.got));
    file.buffer.reset();

    const int32_t sent = result > 0 ? result : 0;
    if (file.got < file.length) {
        return {Format("Read File Failed!Read %u of %u bytes, sent %d of %u bytes\n%s", file.got,
                       file.length, sent, file.got, path.c_str()),
                ui::kMbIconError};
    }
    if (result != static_cast<int32_t>(file.length)) {
        return {Format("Send Failed!Sent %d of %u bytes\n%s", sent, file.length, path.c_str()),
                ui::kMbIconError};
    }
    return {"Send finished!", ui::kMbOk, file.length == 0};
}

}  // namespace vorpane
