// Vorpane: start the Qt window system and the network printer link, then run
// the application.

#include <QApplication>
#include <csignal>
#include <cstdio>

#include "app/dialog_services.h"
#include "app/main_dialog_template.h"
#include "app/printer_tool_app.h"
#include "printer_link/network_printer_link.h"
#include "ui/qt/icons.h"
#include "ui/qt/qt_window_system.h"

int main(int argc, char** argv) {
    if (!vorpane::qt::DisplayAvailable()) {
        std::fprintf(stderr,
                     "vorpane: no display (DISPLAY and WAYLAND_DISPLAY are not set); "
                     "run it under xvfb-run -a, or set QT_QPA_PLATFORM=offscreen\n");
        return 1;
    }
    // A printer that drops the connection must not end the program.
    std::signal(SIGPIPE, SIG_IGN);

    QApplication qapp(argc, argv);
    QApplication::setApplicationName("Vorpane");
    QApplication::setWindowIcon(vorpane::qt::LoadIcon(vorpane::IDR_MAINFRAME));

    vorpane::qt::QtWindowSystem ws("Vorpane");
    vorpane::NetworkPrinterLink link(vorpane::NetworkPrinterLink::kDefaultPort);
    vorpane::CPrinterToolApp app(vorpane::MakeSystemServices(ws, link));
    return app.InitInstance();
}
