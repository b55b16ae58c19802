#pragma once
// The payload and the one-shot commands: the bytes each button hands to the
// printer link, and Print File's whole-file send.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "printer_link/printer_link.h"

namespace vorpane {

// One SendData call with the bytes and their exact count; the link's result.
int32_t SendBytes(PrinterLink& link, const std::string& address, std::span<const uint8_t> bytes);

// The payload box's bytes: the text as it stands, or in hex mode the bytes
// its digits spell (none at all is a send of length 0).
std::vector<uint8_t> PayloadBytes(const std::string& text, bool hex);

// How a whole-file send ended, with the counts its report needs.
struct SendFileOutcome {
    enum class Result {
        kOpenFailed,  // `error` says why
        kTooLarge,    // refused before reading
        kUnmeasured,  // measures 0 bytes but holds more: nothing was sent
        kReadShort,   // fewer bytes than measured were read; those went out
        kSendFailed,  // the link took other than every byte
        kEmpty,       // a send of no bytes, which the link took
        kSent,
    };
    Result result;
    int error = 0;
    uint32_t length = 0;  // bytes the file measured
    uint32_t got = 0;     // bytes read and handed to the link
    int32_t sent = 0;     // bytes the link took, 0 when it failed
    bool operator==(const SendFileOutcome&) const = default;
};

// Reads the whole file into one locked buffer and hands it to the link in a
// single send. The buffer is gone before the outcome is returned.
SendFileOutcome SendWholeFile(PrinterLink& link, const std::string& address,
                              const std::string& path);

}  // namespace vorpane
