// vorpane-printer: a virtual ESC/POS network printer for trying the tool and
// its tests without hardware. It loads no window system: --window hands over
// to vorpane-printer-window.

#include "printer/printer_main.h"

int main(int argc, char** argv) {
    return vorpane::PrinterMain(argc, argv, nullptr);
}
