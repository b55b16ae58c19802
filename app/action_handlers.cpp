// The main window's printer actions: each handler refreshes the members,
// passes the busy guard and the on-line check, then hands the work to its
// subsystem.

#include "app/outcome_words.h"
#include "app/printer_tool_dlg.h"
#include "commands/command_frames.h"
#include "commands/network_config.h"
#include "commands/printer_commands.h"
#include "platform/directory.h"
#include "platform/ipv4_address.h"
#include "status/printer_status_dlg.h"

namespace vorpane {

void CPrinterToolDlg::OnScan() {
    // Workers of the previous scan may still be finishing their host after a
    // cancel; a new scan would reset the counters and the prefix under them.
    if (m_scan.IsRunning() == 0 && IsScanBusy()) {
        return;
    }
    if (m_scan.IsRunning() != 0) {
        // The caption stays "Cancel" until a worker has stopped.
        m_scan.Cancel();
        return;
    }
    if (MessageBox("Are you sure to scan the printers?", ui::kMbOkCancel | ui::kMbIconQuestion) !=
        ui::kIdOk) {
        return;
    }
    m_scanButton.SetWindowText("Cancel");
    EnableActionButtons(0);
    m_printerCombo.ResetContent();
    if (!m_scan.SweepNetbiosHosts()) {
        MessageBox("UDP Port 0 is conflict!", ui::kMbIconError);
    }
    UpdateData(true);
    m_scan.Start(m_ipCtrl.GetAddress());
}

void CPrinterToolDlg::OnPrint() {
    if (const auto address = GetOnlinePrinterAddress()) {
        SendBytes(*m_services.link, *address, PayloadBytes(m_editText, m_hexCheck.GetCheck() != 0));
    }
}

void CPrinterToolDlg::OnInit() {
    if (const auto address = GetOnlinePrinterAddress()) {
        SendBytes(*m_services.link, *address, kInitFrame);
    }
}

void CPrinterToolDlg::OnCashDrawer() {
    if (const auto address = GetOnlinePrinterAddress()) {
        SendBytes(*m_services.link, *address, kCashDrawerFrame);
    }
}

void CPrinterToolDlg::OnCutter() {
    if (const auto address = GetOnlinePrinterAddress()) {
        // The cut goes out whatever became of the text.
        SendBytes(*m_services.link, *address, kCutTextFrame);
        SendBytes(*m_services.link, *address, kCutFrame);
    }
}

void CPrinterToolDlg::OnPrintFile() {
    const auto address = GetOnlinePrinterAddress();
    if (!address) {
        return;
    }
    // "*.*" would hide names without a dot here, so the pattern is "*".
    const ui::OpenFileRequest request{"", "All Files (*.*)", "*"};
    const std::optional<std::string> path = GetWindowSystem().GetOpenFileName(GetWindow(), request);
    if (!path) {
        return;
    }
    const MessageWords words =
        SendFileWords(SendWholeFile(*m_services.link, *address, *path), *path);
    MessageBox(words.text, words.style);
    // The file dialog may have moved the current directory.
    ChangeCurrentDirectory(g_startDir);
}

void CPrinterToolDlg::OnPing() {
    UpdateData(true);
    // The command line is built from the address's own dotted text and
    // nothing else the control might hold.
    const std::optional<Ipv4Address> address = Ipv4Address::Parse(m_ipCtrl.GetWindowText());
    if (!address) {
        return;
    }
    // The ping repeats until the user stops it in its window.
    std::unique_ptr<TerminalProcess> ping =
        m_services.startInTerminal
            ? m_services.startInTerminal(ContinuousPingCommand(address->Text()))
            : nullptr;
    if (!ping) {
        MessageBox("Cannot start ping: no terminal emulator found!", ui::kMbIconError);
        return;
    }
    // The window keeps painting but takes no input until ping's window ends.
    GetWindowSystem().ServeUntil([&] { return ping->Finished(); });
}

void CPrinterToolDlg::OnSetIp() {
    if (const auto address = GetOnlinePrinterAddress()) {
        const Ipv4Address wanted = m_newIpCtrl.GetAddress();
        const SetIpOutcome outcome =
            SetPrinterIp(*this, *m_services.link, m_services.makeProber, *address, wanted);
        if (const auto words = SetIpWords(outcome, wanted.Text())) {
            MessageBox(words->text, words->style);
        }
    }
}

void CPrinterToolDlg::OnSetMac() {
    if (const auto address = GetOnlinePrinterAddress()) {
        const MacSource source{m_services.localTime, m_services.seedRandom, m_services.drawRandom,
                               m_services.calendarTime};
        if (const auto words =
                SetMacWords(SetPrinterMac(*this, *m_services.link, source, *address))) {
            MessageBox(words->text, words->style);
        }
    }
}

bool CPrinterToolDlg::ConfirmSetIp(const std::string& address) {
    const MessageWords question = SetIpQuestion(address);
    return MessageBox(question.text, question.style) == ui::kIdOk;
}

bool CPrinterToolDlg::ConfirmSetMac() {
    const MessageWords question = SetMacQuestion();
    return MessageBox(question.text, question.style) == ui::kIdOk;
}

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
