// vorpane-printer-window: vorpane-printer with its paper in a Qt window.
// vorpane-printer --window starts it with the same arguments; the printer,
// the journal and the control lines are the same code as there.

#include <QApplication>

#include "printer/printer_main.h"
#include "printer_window/qt/printer_window.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    using namespace vorpane;
    printer_window::PaperFeed feed;
    PrinterWindowHooks hooks;
    hooks.paperWatcher = [&feed](PaperUpdate update) { feed.Post(std::move(update)); };
    hooks.run = [&](VirtualPrinter& printer) {
        printer_window::PrinterWindow window(printer, feed);
        window.show();
        return QApplication::exec();
    };
    // A quit posted after the loop ended is never run: harmless.
    hooks.close = [&app] {
        QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
    };
    return PrinterMain(argc, argv, &hooks);
}
