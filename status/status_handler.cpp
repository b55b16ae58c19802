// The main window's Status button.

#include "app/printer_tool_dlg.h"
#include "status/printer_status_dlg.h"

namespace vorpane {

void CPrinterToolDlg::OnStatus() {
    const std::optional<std::string> address = GetOnlinePrinterAddress();
    if (!address) {
        return;
    }
    // A fresh dialog per click: nothing carries over from an earlier one.
    CPrinterStatusDlg dlg(GetWindowSystem(), *m_services.link, this);
    dlg.m_address = *address;
    dlg.DoModal();
}

}  // namespace vorpane
