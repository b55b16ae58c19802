#pragma once

#include "app/dialog_services.h"

namespace vorpane {

// The application: remembers the start directory, applies the skin, runs the
// main window once and ends.
class CPrinterToolApp {
public:
    explicit CPrinterToolApp(const DialogServices& services) : m_services(services) {}
    // Always 0: the process ends when the main window closes.
    int InitInstance();

private:
    DialogServices m_services;
};

}  // namespace vorpane
