#pragma once
// Command line and standard-input control lines of vorpane-printer, kept in
// the library so that they can be tested without starting a process.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "virtual_printer/virtual_printer.h"

namespace vorpane {

struct PrinterArguments {
    VirtualPrinterConfig config;
    std::string journalPath;  // empty: standard output
    std::string rawPath;      // empty: no raw journal
    std::string renderFile;   // --render-file: draw this capture and stop
    std::string outPath;      // its picture; empty: the capture's name with .png
    bool help = false;
    bool window = false;  // --window: the program with the live window runs instead
};

struct ParsedPrinterArguments {
    std::optional<PrinterArguments> arguments;  // empty on error
    std::string error;
};

// Arguments without the program name, as PrinterUsage lists them; a mistake
// is one line naming it ("bad port: 65536"), never an exception.
ParsedPrinterArguments ParsePrinterArguments(const std::vector<std::string>& args);

// The --help text: the options, made from the parser's own list, the status
// replies and the journal's lines.
std::string PrinterUsage();

// --render-file: decodes and draws a capture (standard input for "-", which
// the caller has put in binary mode) without the network, journals
// it through `journal` (with "receipt 1: OUT.png (576 x 812 dots)" for each
// picture) and returns an error text, empty on success.
std::string RenderCaptureFile(const PrinterArguments& args, const Journal::Writer& journal);

struct ControlOutcome {
    bool quit = false;
    std::string reply;  // for standard output
    std::string error;  // for standard error
};

// One control line: set NAME..., clear NAME..., restart, show, quit.
// Names may be separated by spaces or commas.
ControlOutcome ApplyControlLine(VirtualPrinter& printer, std::string_view line);

}  // namespace vorpane
