// The main window's small handlers: the connect time-out, the printer list,
// the key filter and the hidden echo diagnostic.

#include <limits>
#include <string>

#include "app/printer_tool_dlg.h"

namespace vorpane {

void CPrinterToolDlg::OnTimeoutChange() {
    UpdateData(true);
    if (m_timeoutMs > 0) {
        m_services.link->SetTimeOut(m_timeoutMs / 1000, m_timeoutMs % 1000);
    }
}

int CPrinterToolDlg::OnTimeoutSpin(int delta) {
    UpdateData(true);
    // Computed wide: a held arrow can push the value past 32 bits either way.
    int64_t next = static_cast<int64_t>(m_timeoutMs) - kTimeoutStepMs * static_cast<int64_t>(delta);
    if (next <= 0) {
        next = kDefaultTimeoutMs;
    } else if (next > std::numeric_limits<int32_t>::max()) {
        next = std::numeric_limits<int32_t>::max();
    }
    m_timeoutMs = static_cast<int32_t>(next);
    WriteBackKeepingTypedPayload();
    return 0;
}

void CPrinterToolDlg::OnPrinterSelChange() {
    m_ipCtrl.SetWindowText(m_printerCombo.GetWindowText());
}

bool CPrinterToolDlg::PreTranslateMessage(const ui::KeyMessage& msg) {
    if (msg.kind == ui::KeyMessage::Kind::KeyUp && msg.virtualKey == ui::kVkT &&
        GetWindowSystem().IsControlKeyDown()) {
        RunEchoDiagnostic();
    }
    if (msg.kind == ui::KeyMessage::Kind::KeyDown && msg.virtualKey == ui::kVkSpace) {
        return true;
    }
    return ui::CDialog::PreTranslateMessage(msg);
}

void CPrinterToolDlg::RunEchoDiagnostic() {
    // A copy taken under the workers' lock: a scan may be appending now.
    const std::vector<std::string> hosts = m_scan.AliveHostsCopy();
    auto prober = m_services.makeProber ? m_services.makeProber() : nullptr;
    for (const auto& address : hosts) {
        // A probe object that could not be made is a probe whose set-up failed.
        const int32_t result = prober ? prober->Probe(address, kProbeTimeoutMs) : -1;
        m_editText += std::to_string(result) + ":" + address + "\n";
    }
    UpdateData(false);
}

}  // namespace vorpane
