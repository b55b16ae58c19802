#include "app/printer_tool_app.h"

#include "app/printer_tool_dlg.h"
#include "platform/directory.h"
#include "ui/window_system.h"

namespace vorpane {

std::string g_startDir;

int CPrinterToolApp::InitInstance() {
    g_startDir = ReadCurrentDirectory();
    // A missing or unusable skin only means the default look.
    m_services.ws->ApplySkin(g_startDir + "/XPCorona.ssk");
    {
        CPrinterToolDlg dlg(m_services);
        dlg.DoModal();
    }
    return 0;
}

}  // namespace vorpane
