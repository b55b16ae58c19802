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

// The message box that reports a whole-file send.
struct SendOutcome {
    std::string text;
    uint32_t style;
    // The file was empty, so the send had no bytes; the box still says
    // "Send finished!", a front end without one may say more.
    bool empty = false;
};

// Reads the whole file into one locked buffer and hands it to the link in a
// single send. The buffer is gone before the outcome is returned.
SendOutcome SendWholeFile(PrinterLink& link, const std::string& address, const std::string& path);

}  // namespace vorpane
