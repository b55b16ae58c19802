#include "app/printer_tool_app.h"

#include <unistd.h>

#include "app/printer_tool_dlg.h"
#include "ui/window_system.h"

namespace vorpane {

std::string g_startDir;

std::string ReadStartDirectory() {
    char buf[260];
    // getcwd fails with ERANGE rather than truncating a longer path.
    if (getcwd(buf, sizeof buf) == nullptr) {
        return {};
    }
    return buf;
}

int CPrinterToolApp::InitInstance() {
    g_startDir = ReadStartDirectory();
    // A missing or unusable skin only means the default look.
    m_services.ws->ApplySkin(g_startDir + "/XPCorona.ssk");
    {
        CPrinterToolDlg dlg(m_services);
        dlg.DoModal();
    }
    return 0;
}

}  // namespace vorpane
