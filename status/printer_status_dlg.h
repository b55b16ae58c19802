#pragma once
// The "Printer Status" dialog: six indicators (text and lamp) for one
// printer, refreshed from the printer's status word every two seconds while
// the monitor runs. Whether it runs is read from the monitor button's
// caption; the last status shown lives only in the controls.

#include <string>

#include "printer_link/printer_link.h"
#include "status/status_dialog_template.h"
#include "ui/control_wrappers.h"
#include "ui/dialog.h"

namespace vorpane {

// The monitor's window timer.
inline constexpr int kMonitorTimerId = 1;
inline constexpr int kMonitorPeriodMs = 2000;

// A static control: text, or an icon put into it.
class CStaticCtrl : public ui::CWndCtrl {
public:
    void SetIcon(int iconId) const { m_window->SetStaticIcon(m_id, iconId); }
};

class CPrinterStatusDlg : public ui::CDialog {
public:
    // `owner` is the window the dialog belongs to while it runs (the main
    // window); the link must outlive the dialog.
    CPrinterStatusDlg(ui::WindowSystem& ws, PrinterLink& link, ui::CDialog* owner = nullptr);
    ~CPrinterStatusDlg() override;

    bool OnInitDialog() override;
    void OnTimer(int timerId) override;
    void OnDestroy() override;
    void OnMonitor();

    // Set by the opener before the dialog runs.
    std::string m_address;

protected:
    void DoDataExchange(ui::DataExchange& dx) override;
    bool OnControlCommand(int controlId, ui::Notify code) override;

private:
    // One status reading: all six indicators from the printer's status word.
    void ShowStatus();
    // All six lamps, in the order the dialog always sets them.
    void SetAllLamps(int iconId);

    PrinterLink& m_link;

    CStaticCtrl m_textPause;
    CStaticCtrl m_textPaper;
    CStaticCtrl m_textTemp;
    CStaticCtrl m_textCover;
    CStaticCtrl m_textOnline;
    CStaticCtrl m_textBusy;
    CStaticCtrl m_lampTemp;
    CStaticCtrl m_lampPause;
    CStaticCtrl m_lampCover;
    CStaticCtrl m_lampPaper;
    CStaticCtrl m_lampOnline;
    CStaticCtrl m_lampBusy;
};

}  // namespace vorpane
