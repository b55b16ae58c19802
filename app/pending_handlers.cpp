// Handlers whose subsystems are not in yet; each moves to its own folder.
#include "app/printer_tool_dlg.h"

namespace vorpane {

void CPrinterToolDlg::OnStatus() {}

}  // namespace vorpane
