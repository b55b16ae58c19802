#pragma once
// The body of vorpane-printer, shared with vorpane-printer-window: options,
// the journal and raw files, the printer, and control lines on standard
// input until a stop. The window program adds its window on the main thread;
// the control lines are then read on a thread of their own.

#include <functional>

#include "virtual_printer/virtual_printer.h"

namespace vorpane {

struct PrinterWindowHooks {
    // Set before the printer starts: where the paper goes.
    PaperWatcher paperWatcher;
    // Runs the window on the calling (main) thread once the printer serves,
    // until the user closes it; returns the program's exit status (not 0
    // when the window could not be made).
    std::function<int(VirtualPrinter&)> run;
    // Any thread: closes the window, after a quit line or a stop request.
    // It may come just after the window closed by itself, and must be
    // harmless then.
    std::function<void()> close;
};

// Without hooks, `--window` hands over to the window program.
int PrinterMain(int argc, char** argv, PrinterWindowHooks* window);

}  // namespace vorpane
