#include "commands/printer_commands.h"

#include "commands/hex_payload.h"
#include "platform/whole_file.h"

namespace vorpane {

int32_t SendBytes(PrinterLink& link, const std::string& address, std::span<const uint8_t> bytes) {
    return link.SendData(address.c_str(), bytes.data(), static_cast<int32_t>(bytes.size()));
}

std::vector<uint8_t> PayloadBytes(const std::string& text, bool hex) {
    if (hex) {
        return ParseHexPayload(text);
    }
    return {text.begin(), text.end()};
}

SendFileOutcome SendWholeFile(PrinterLink& link, const std::string& address,
                              const std::string& path) {
    using Result = SendFileOutcome::Result;
    WholeFile file = ReadWholeFile(path);
    switch (file.status) {
        case WholeFile::Status::kFailed:
            return {Result::kOpenFailed, file.error};
        case WholeFile::Status::kTooLarge:
            return {Result::kTooLarge};
        case WholeFile::Status::kRead:
            break;
    }
    // A /proc file measures 0 bytes and holds some: a send of its measured
    // length would send nothing and look like success.
    if (file.length == 0 && file.longer) {
        return {Result::kUnmeasured};
    }
    const int32_t result =
        link.SendData(address.c_str(), file.buffer->Data(), static_cast<int32_t>(file.got));
    file.buffer.reset();

    SendFileOutcome outcome{Result::kSent, 0, file.length, file.got, result > 0 ? result : 0};
    if (file.got < file.length) {
        outcome.result = Result::kReadShort;
    } else if (result != static_cast<int32_t>(file.length)) {
        outcome.result = Result::kSendFailed;
    } else if (file.length == 0) {
        outcome.result = Result::kEmpty;
    }
    return outcome;
}

}  // namespace vorpane
