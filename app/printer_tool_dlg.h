#pragma once
// The main window: owns every piece of state of a run (addresses, payload,
// time-out, the scan and its host lists). Each handler is a short
// composition of the subsystems' calls; the scan and the configuration
// flows reach the window back through the sites it implements.

#include <cstdint>
#include <optional>
#include <string>

#include "app/dialog_services.h"
#include "app/main_dialog_template.h"
#include "commands/network_config.h"
#include "controls/percent_progress_ctrl.h"
#include "discovery/scan.h"
#include "printer_link/printer_link.h"
#include "ui/control_wrappers.h"
#include "ui/dialog.h"

namespace vorpane {

// The address both IP controls show at start.
inline constexpr const char* kDefaultPrinterAddress = "192.168.1.10";
// The connect time-out at start, and what the arrows fall back to at 0 or below.
inline constexpr int32_t kDefaultTimeoutMs = 1000;
// One press of an up-down arrow.
inline constexpr int32_t kTimeoutStepMs = 500;

// Process-wide start directory; empty when it did not fit.
extern std::string g_startDir;

// Text of string resource `id` (102 is the window title).
std::string LoadStringResource(int id);

// The page the payload box holds at start, in the system code page.
std::string BuildTestPage(const std::tm& localTime);

class CAboutBox : public ui::CDialog {
public:
    CAboutBox(ui::WindowSystem& ws, ui::CDialog* parent)
        : ui::CDialog(AboutDialogTemplate(), ws, parent) {}
};

class CPrinterToolDlg : public ui::CDialog, private ScanSite, private CommandSite {
public:
    explicit CPrinterToolDlg(const DialogServices& services);
    // Cancels a running scan and waits for its workers, serving their
    // requests meanwhile, so none of them touches a destroyed dialog.
    ~CPrinterToolDlg() override;

    // ui::DialogEvents / CDialog
    bool OnInitDialog() override;
    void OnSysCommand(uint32_t commandId) override;
    bool PreTranslateMessage(const ui::KeyMessage& msg) override;
    int OnDeltaPos(int controlId, int delta) override;
    void OnDestroy() override;

    void EnableActionButtons(int enable);
    int IsScanBusy();

    // Handlers.
    void OnTest();
    void OnTimeoutChange();
    int OnTimeoutSpin(int delta);
    void OnPrinterSelChange();
    void OnScan();
    void OnPrint();
    void OnStatus();
    void OnCashDrawer();
    void OnInit();
    void OnCutter();
    void OnPing();
    void OnSetIp();
    void OnSetMac();
    void OnPrintFile();
    void RunEchoDiagnostic();

    // Shared helpers.
    std::optional<std::string> GetOnlinePrinterAddress();
    int32_t PurgeArpEntry() override;
    // UpdateData(false) that leaves alone a payload box still ahead of
    // m_editText.
    void WriteBackKeepingTypedPayload();

    // State for tests.
    int32_t TimeoutMs() const { return m_timeoutMs; }
    const std::string& EditText() const { return m_editText; }
    SubnetScan& Scan() { return m_scan; }
    CPercentProgressCtrl& Progress() { return m_progress; }

protected:
    void DoDataExchange(ui::DataExchange& dx) override;
    bool OnControlCommand(int controlId, ui::Notify code) override;

private:
    // ScanSite
    void RunOnUi(const std::function<void()>& fn) override { m_services.ws->Invoke(fn); }
    void ServeUntil(const std::function<bool()>& done) override {
        GetWindowSystem().ServeUntil(done);
    }
    void AddPrinter(const std::string& address) override;
    void SetProgress(int32_t position) override { m_progress.SetPos(position); }
    void ShowScanEnded() override;
    // CommandSite
    bool ConfirmSetIp(const std::string& address) override;
    bool ConfirmSetMac() override;
    void WriteBackControls() override { WriteBackKeepingTypedPayload(); }

    DialogServices m_services;
    // Started first and ended last: every socket of the dialog's lifetime
    // (the scan's workers included) is inside it.
    std::unique_ptr<SocketLibrary> m_sockets;
    SubnetScan m_scan;

    ui::CIPAddressCtrl m_newIpCtrl;
    ui::CRichEditCtrl m_richEdit;
    ui::CButtonCtrl m_hexCheck;
    ui::CButtonCtrl m_scanButton;
    CPercentProgressCtrl m_progress;
    ui::CComboBoxCtrl m_printerCombo;
    ui::CIPAddressCtrl m_ipCtrl;
    int32_t m_timeoutMs = kDefaultTimeoutMs;
    std::string m_editText;  // system code page
    int m_hIcon = 0;

    // Set when the last refresh stopped at a bad time-out, so the payload
    // box holds text m_editText has not taken yet.
    bool m_payloadAheadOfMember = false;
    // Set while a write-back must touch only the time-out box.
    bool m_exchangeTimeoutOnly = false;
};

}  // namespace vorpane
