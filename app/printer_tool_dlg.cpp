#include "app/printer_tool_dlg.h"

#include <cstdio>

#include "platform/codepage.h"

namespace vorpane {

std::string LoadStringResource(int id) {
    switch (id) {
        case IDS_TITLE:
            return "Vorpane V2.1";
        default:
            return {};
    }
}

std::string BuildTestPage(const std::tm& t) {
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "Date Time:%02d-%02d-%02d %02d:%02d:%02d\n\n",
                  (t.tm_year + 1900) % 100, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    std::string page = stamp;
    page += "0123456789\n";
    page += "abcdefghijklmnopqrstuvwxyz\n";
    page += "ABCDEFGHIJKLMNOPQRSTUVWXYZ\n";
    page += "~!@#$%^&*()_+-={}[]|,./?';:\\\"\n";
    // The maker's name goes out byte for byte in the printer's code page.
    page += "\nQuillory\n";
    page += "\n";
    return page;
}

CPrinterToolDlg::CPrinterToolDlg(const DialogServices& services)
    : ui::CDialog(MainDialogTemplate(), *services.ws),
      m_services(services),
      m_sockets(services.startSockets ? services.startSockets() : nullptr),
      m_scan(*this, ScanServices{services.link, services.makeProber, services.startThread,
                                 services.netbios}),
      m_progress(*services.ws),
      m_hIcon(IDR_MAINFRAME) {
    // The program runs on; the network actions then fail in their own ways.
    if (!m_sockets || m_sockets->Error() != 0) {
        MessageBox("WSAStartup Failed", ui::kMbOk);
    }
}

CPrinterToolDlg::~CPrinterToolDlg() {
    // The base destructor can no longer reach our OnDestroy.
    DestroyWindow();
    m_scan.WaitForWorkers();
}

void CPrinterToolDlg::DoDataExchange(ui::DataExchange& dx) {
    ui::Window* w = GetWindow();
    m_newIpCtrl.Attach(w, IDC_NEW_IP);
    m_richEdit.Attach(w, IDC_PAYLOAD);
    m_hexCheck.Attach(w, IDC_HEX);
    m_scanButton.Attach(w, IDC_SCAN);
    m_progress.Attach(w, IDC_PROGRESS);
    m_printerCombo.Attach(w, IDC_PRINTER_LIST);
    m_ipCtrl.Attach(w, IDC_IP);
    dx.Int(IDC_TIMEOUT, m_timeoutMs);
    if (m_exchangeTimeoutOnly) {
        return;
    }
    if (dx.Saving()) {
        std::string utf8;
        dx.Text(IDC_PAYLOAD, utf8);
        m_payloadAheadOfMember = dx.Failed();
        if (!dx.Failed()) {
            m_editText = Utf8ToSystem(utf8);
        }
    } else {
        std::string utf8 = SystemToUtf8(m_editText);
        dx.Text(IDC_PAYLOAD, utf8);
    }
}

bool CPrinterToolDlg::OnInitDialog() {
    ui::CDialog::OnInitDialog();
    ui::Window* w = GetWindow();
    if (w->HasSystemMenu()) {
        w->AppendSystemMenuSeparator();
        w->AppendSystemMenuItem(IDM_ABOUTBOX, "About Vorpane(&A)...");
    }
    w->SetIcon(m_hIcon);
    m_ipCtrl.SetWindowText(kDefaultPrinterAddress);
    m_newIpCtrl.SetWindowText(kDefaultPrinterAddress);
    m_progress.SetRange(0, kScanProgressUpper);
    m_progress.SetPos(0);
    w->SetTitle(LoadStringResource(IDS_TITLE));
    m_editText = BuildTestPage(m_services.localTime());
    UpdateData(false);
    return true;
}

void CPrinterToolDlg::WriteBackKeepingTypedPayload() {
    // After a refresh that failed, m_editText is older than the payload box;
    // writing it back would throw away what was typed there since.
    m_exchangeTimeoutOnly = m_payloadAheadOfMember;
    UpdateData(false);
    m_exchangeTimeoutOnly = false;
}

void CPrinterToolDlg::OnSysCommand(uint32_t commandId) {
    if ((commandId & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutBox about(GetWindowSystem(), this);
        about.DoModal();
    }
    // Every other system command is the window manager's own.
}

void CPrinterToolDlg::OnDestroy() {
    // Workers write into the window; they must all be gone first.
    m_scan.WaitForWorkers();
    m_progress.Detach();
}

bool CPrinterToolDlg::OnControlCommand(int controlId, ui::Notify code) {
    using ui::Notify;
    if (code == Notify::Changed) {
        if (controlId == IDC_TIMEOUT) {
            OnTimeoutChange();
            return true;
        }
        return false;
    }
    if (code == Notify::SelChange) {
        if (controlId == IDC_PRINTER_LIST) {
            OnPrinterSelChange();
            return true;
        }
        return false;
    }
    switch (controlId) {
        case IDC_TEST:
            OnTest();
            return true;
        case IDC_SCAN:
            OnScan();
            return true;
        case IDC_PRINT:
            OnPrint();
            return true;
        case IDC_STATUS:
            OnStatus();
            return true;
        case IDC_CASHDRAWER:
            OnCashDrawer();
            return true;
        case IDC_INIT:
            OnInit();
            return true;
        case IDC_CUTTER:
            OnCutter();
            return true;
        case IDC_PING:
            OnPing();
            return true;
        case IDC_SET_IP:
            OnSetIp();
            return true;
        case IDC_SET_MAC:
            OnSetMac();
            return true;
        case IDC_PRINT_FILE:
            OnPrintFile();
            return true;
        default:
            return false;
    }
}

int CPrinterToolDlg::OnDeltaPos(int controlId, int delta) {
    if (controlId == IDC_TIMEOUT_SPIN && !InDataExchange()) {
        return OnTimeoutSpin(delta);
    }
    return 0;
}

void CPrinterToolDlg::EnableActionButtons(int enable) {
    static constexpr int kActionButtons[] = {IDC_TEST,       IDC_PRINT,   IDC_STATUS,
                                             IDC_CASHDRAWER, IDC_INIT,    IDC_CUTTER,
                                             IDC_SET_IP,     IDC_SET_MAC, IDC_PRINT_FILE};
    RunOnUi([&] {
        for (int id : kActionButtons) {
            GetWindow()->Enable(id, enable != 0);
        }
    });
}

int CPrinterToolDlg::IsScanBusy() {
    if (m_scan.ActiveWorkers() > 0) {
        MessageBox("Scanning,Please wait...", ui::kMbIconInformation);
        return 1;
    }
    return 0;
}

void CPrinterToolDlg::OnTest() {
    UpdateData(true);
    if (IsScanBusy()) {
        return;
    }
    const std::string address = m_ipCtrl.GetWindowText();
    if (m_services.link->IsConPrinterServer(address.c_str()) != 0) {
        MessageBox("Connect success!", ui::kMbIconInformation);
    } else {
        MessageBox("Connect failed!", ui::kMbIconError);
    }
}

std::optional<std::string> CPrinterToolDlg::GetOnlinePrinterAddress() {
    UpdateData(true);
    if (IsScanBusy()) {
        return std::nullopt;
    }
    std::string address = m_ipCtrl.GetWindowText();
    if (m_services.link->IsConPrinterServer(address.c_str()) == 0) {
        MessageBox("The printer is offline!", ui::kMbIconError);
        return std::nullopt;
    }
    return address;
}

int32_t CPrinterToolDlg::PurgeArpEntry() {
    // The address control belongs to the UI thread, also when a scan worker
    // asks.
    Ipv4Address address;
    RunOnUi([&] { address = m_ipCtrl.GetAddress(); });
    return m_services.purgeArp ? m_services.purgeArp(address) : 0;
}

void CPrinterToolDlg::AddPrinter(const std::string& address) {
    m_printerCombo.AddString(address);
    m_printerCombo.SetCurSel(m_printerCombo.GetCount() - 1);
}

void CPrinterToolDlg::ShowScanEnded() {
    if (m_printerCombo.GetCount() > 0) {
        m_ipCtrl.SetWindowText(m_printerCombo.GetLBText(0));
    }
    m_progress.SetPos(0);
    m_scanButton.SetWindowText("Scan");
    EnableActionButtons(1);
}

}  // namespace vorpane
