// Handlers whose subsystems are not in yet; each moves to its own folder.
#include "app/printer_tool_dlg.h"

namespace vorpane {

void CPrinterToolDlg::OnPrint() {}
void CPrinterToolDlg::OnStatus() {}
void CPrinterToolDlg::OnCashDrawer() {}
void CPrinterToolDlg::OnInit() {}
void CPrinterToolDlg::OnCutter() {}
void CPrinterToolDlg::OnPing() {}
void CPrinterToolDlg::OnSetIp() {}
void CPrinterToolDlg::OnSetMac() {}
void CPrinterToolDlg::OnPrintFile() {}
int CPrinterToolDlg::HexPairToByte(const std::string&) {
    return 0;
}
int CPrinterToolDlg::HexDigitValue(unsigned char) {
    return 0;
}
std::string CPrinterToolDlg::MakeRandomMac() {
    return {};
}
void* CPrinterToolDlg::AllocLockedBuffer(uint32_t) {
    return nullptr;
}
int CPrinterToolDlg::FreeLockedBuffer(void*, uint32_t) {
    return 1;
}

}  // namespace vorpane
