// vorpane-printer-window on Windows: vorpane-printer with its paper roll in a
// window. A console program like vorpane-printer, so that the journal and
// the control lines on standard input work as they do there.

#include <cstdio>

#include "printer/printer_main.h"
#include "printer_window/win32/printer_window.h"

int main(int argc, char** argv) {
    using vorpane::printer_window::win32::PrinterWindow;
    vorpane::printer_window::win32::WindowMailbox mailbox;
    vorpane::PrinterWindowHooks hooks;
    hooks.paperWatcher = [&mailbox](vorpane::PaperUpdate update) {
        mailbox.Post(std::move(update));
    };
    hooks.run = [&mailbox](vorpane::VirtualPrinter& printer) {
        auto created = PrinterWindow::Create(printer, mailbox, true);
        if (!created.window) {
            std::fprintf(stderr, "vorpane-printer-window: %s\n", created.error.c_str());
            return 1;
        }
        created.window->Run();
        return 0;
    };
    hooks.close = [&mailbox] { mailbox.Close(); };
    return vorpane::PrinterMain(argc, argv, &hooks);
}
