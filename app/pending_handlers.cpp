// Handlers whose subsystems are not in yet; each moves to its own folder.
#include "app/printer_tool_dlg.h"

namespace vorpane {

void CPrinterToolDlg::OnScan() {}
void CPrinterToolDlg::ScanWorker(ScanJob*) {}
void CPrinterToolDlg::SweepNetbiosHosts() {}
int CPrinterToolDlg::IsNetbiosHost(std::string) {
    return 0;
}

}  // namespace vorpane
