#pragma once
// The main window: owns every piece of state of a run (addresses, payload,
// time-out, scan state, both host lists) and every printer action is one of
// its operations.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/dialog_services.h"
#include "app/host_list.h"
#include "app/main_dialog_template.h"
#include "controls/percent_progress_ctrl.h"
#include "printer_link/printer_link.h"
#include "ui/control_wrappers.h"
#include "ui/dialog.h"

namespace vorpane {

// Process-wide start directory; empty when it did not fit in 260 bytes.
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

class CPrinterToolDlg : public ui::CDialog {
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

    int OnQueryDragIcon() const { return m_hIcon; }
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
    static int HexPairToByte(const std::string& text);
    static int HexDigitValue(unsigned char ch);
    int32_t PurgeArpEntry();
    std::string MakeRandomMac();
    void SweepNetbiosHosts();
    int IsNetbiosHost(std::string address);
    static void* AllocLockedBuffer(uint32_t size);
    static int FreeLockedBuffer(void* pointer, uint32_t size);
    // UpdateData(false) that leaves alone a payload box still ahead of
    // m_editText.
    void WriteBackKeepingTypedPayload();

    // State for tests and for the scan's workers.
    int32_t TimeoutMs() const { return m_timeoutMs; }
    const std::string& EditText() const { return m_editText; }
    int32_t ActiveWorkers() const { return m_activeWorkers.load(); }
    int ScanRunning() const { return m_scanRunning.load(); }
    std::vector<std::string> AliveHostsCopy();
    const HostList& NetbiosHosts() const { return m_netbiosHosts; }
    CPercentProgressCtrl& Progress() { return m_progress; }

protected:
    void DoDataExchange(ui::DataExchange& dx) override;
    bool OnControlCommand(int controlId, ui::Notify code) override;

private:
    friend struct MainDialogTestAccess;
    struct ScanJob {
        CPrinterToolDlg* dialog;
        int32_t firstHost;
    };
    static void ScanWorker(ScanJob* job);
    // Item 0 into control 1000, bar to 0, caption "Scan", buttons on; UI
    // thread only. Running it again gives the same window state.
    void CompleteScan();
    void RunOnUi(const std::function<void()>& fn) { m_services.ws->Invoke(fn); }
    void WaitForScanWorkers();

    DialogServices m_services;

    // Members in the order the dialog declares them.
    std::atomic<int> m_cancelScan{0};
    std::atomic<int> m_scanRunning{0};
    std::string m_subnetPrefix;
    std::atomic<int32_t> m_hostsDone{0};
    std::atomic<int32_t> m_activeWorkers{0};
    HostList m_netbiosHosts;
    HostList m_aliveHosts;  // guarded by m_aliveHostsLock
    ui::CIPAddressCtrl m_newIpCtrl;
    ui::CRichEditCtrl m_richEdit;
    ui::CButtonCtrl m_hexCheck;
    ui::CButtonCtrl m_scanButton;
    CPercentProgressCtrl m_progress;
    ui::CComboBoxCtrl m_printerCombo;
    ui::CIPAddressCtrl m_ipCtrl;
    int32_t m_timeoutMs = 1000;
    std::string m_editText;  // system code page
    int m_hIcon = 0;

    // Appends by scan workers and the echo diagnostic's copy take this.
    std::mutex m_aliveHostsLock;
    // Set when the last refresh stopped at a bad time-out, so the payload
    // box holds text m_editText has not taken yet.
    bool m_payloadAheadOfMember = false;
    // Set while a write-back must touch only the time-out box.
    bool m_exchangeTimeoutOnly = false;
    // Threads of the current and earlier scans, joined once they have ended.
    std::vector<std::thread> m_workerThreads;
};

}  // namespace vorpane
