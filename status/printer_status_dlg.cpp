#include "status/printer_status_dlg.h"

namespace vorpane {

namespace {

constexpr const char* kStartCaption = "Start &Monitor";
constexpr const char* kEndCaption = "End &Monitor";

}  // namespace

CPrinterStatusDlg::CPrinterStatusDlg(ui::WindowSystem& ws, PrinterLink& link, ui::CDialog* owner)
    : ui::CDialog(StatusDialogTemplate(), ws, owner), m_link(link) {}

CPrinterStatusDlg::~CPrinterStatusDlg() {
    // The base destructor can no longer reach our OnDestroy, which stops the
    // timer.
    DestroyWindow();
}

void CPrinterStatusDlg::DoDataExchange(ui::DataExchange& dx) {
    ui::CDialog::DoDataExchange(dx);
    ui::Window* w = GetWindow();
    m_textPause.Attach(w, IDC_PAUSE_TEXT);
    m_textPaper.Attach(w, IDC_PAPER_TEXT);
    m_textTemp.Attach(w, IDC_TEMP_TEXT);
    m_textCover.Attach(w, IDC_COVER_TEXT);
    m_textOnline.Attach(w, IDC_ONLINE_TEXT);
    m_textBusy.Attach(w, IDC_BUSY_TEXT);
    m_lampTemp.Attach(w, IDC_TEMP_LAMP);
    m_lampPause.Attach(w, IDC_PAUSE_LAMP);
    m_lampCover.Attach(w, IDC_COVER_LAMP);
    m_lampPaper.Attach(w, IDC_PAPER_LAMP);
    m_lampOnline.Attach(w, IDC_ONLINE_LAMP);
    m_lampBusy.Attach(w, IDC_BUSY_LAMP);
}

bool CPrinterStatusDlg::OnInitDialog() {
    // Nothing is read here: the dialog opens as its template shows it.
    ui::CDialog::OnInitDialog();
    return true;
}

bool CPrinterStatusDlg::OnControlCommand(int controlId, ui::Notify code) {
    if (controlId == IDC_MONITOR && code == ui::Notify::Clicked) {
        OnMonitor();
        return true;
    }
    return false;
}

void CPrinterStatusDlg::SetAllLamps(int iconId) {
    m_lampCover.SetIcon(iconId);
    m_lampPause.SetIcon(iconId);
    m_lampTemp.SetIcon(iconId);
    m_lampOnline.SetIcon(iconId);
    m_lampPaper.SetIcon(iconId);
    m_lampBusy.SetIcon(iconId);
}

void CPrinterStatusDlg::OnMonitor() {
    ui::Window* w = GetWindow();
    if (w->GetText(IDC_MONITOR) == kStartCaption) {
        w->SetText(IDC_MONITOR, kEndCaption);
        w->SetTimer(kMonitorTimerId, kMonitorPeriodMs);
        // Green until the first tick brings a real status.
        SetAllLamps(IDI_LAMP_GREEN);
    } else {
        w->SetText(IDC_MONITOR, kStartCaption);
        w->KillTimer(kMonitorTimerId);
        // The texts keep the last reading.
        SetAllLamps(IDI_LAMP_GREY);
    }
}

void CPrinterStatusDlg::ShowStatus() {
    const int32_t status = m_link.GetStatus(m_address.c_str());
    if (status < 0) {
        // Off-line is grey, never an alarm; the other five keep what the
        // last reading showed.
        m_textOnline.SetWindowText("Off-line");
        m_lampOnline.SetIcon(IDI_LAMP_GREY);
        return;
    }
    m_textOnline.SetWindowText("On-line");
    m_lampOnline.SetIcon(IDI_LAMP_GREEN);

    struct Indicator {
        int32_t (PrinterLink::*test)(int32_t);
        const CStaticCtrl& text;
        const CStaticCtrl& lamp;
        const char* alarm;
        const char* normal;
    };
    const Indicator indicators[] = {
        {&PrinterLink::IsCoverOpen, m_textCover, m_lampCover, "Cover is Open", "Cover is Close"},
        {&PrinterLink::IsBusy, m_textBusy, m_lampBusy, "Busy", "Idle"},
        {&PrinterLink::IsTempOver, m_textTemp, m_lampTemp, "Over Temp", "Temp Normal"},
        {&PrinterLink::IsPause, m_textPause, m_lampPause, "Pause", "Normal"},
        {&PrinterLink::IsPaperEnd, m_textPaper, m_lampPaper, "Paper is end", "Have paper"},
    };
    for (const auto& ind : indicators) {
        const bool alarm = (m_link.*ind.test)(status) != 0;
        ind.text.SetWindowText(alarm ? ind.alarm : ind.normal);
        ind.lamp.SetIcon(alarm ? IDI_LAMP_RED : IDI_LAMP_GREEN);
    }
}

void CPrinterStatusDlg::OnTimer(int timerId) {
    // The library call is synchronous on the UI thread, so a tick that falls
    // due meanwhile waits for this one and is not made up later.
    if (timerId == kMonitorTimerId) {
        ShowStatus();
    }
    ui::CDialog::OnTimer(timerId);
}

void CPrinterStatusDlg::OnDestroy() {
    ui::CDialog::OnDestroy();
    // Every way of closing passes here; stopping an idle timer is harmless.
    if (ui::Window* w = GetWindow()) {
        w->KillTimer(kMonitorTimerId);
    }
}

}  // namespace vorpane
