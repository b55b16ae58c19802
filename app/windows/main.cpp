// Vorpane on Windows: the Win32 window system and the network printer link,
// then the application. The main dialog starts Winsock itself.

#include "app/dialog_services.h"
#include "app/printer_tool_app.h"
#include "printer_link/network_printer_link.h"
#include "ui/win32/win32_window_system.h"

int main() {
    vorpane::win32::Win32WindowSystem ws("Vorpane");
    vorpane::NetworkPrinterLink link(vorpane::NetworkPrinterLink::kDefaultPort);
    vorpane::CPrinterToolApp app(vorpane::MakeSystemServices(ws, link));
    return app.InitInstance();
}
