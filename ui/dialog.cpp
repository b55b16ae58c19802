#include "ui/dialog.h"

#include <cerrno>
#include <cstdlib>
#include <limits>

namespace vorpane::ui {

bool ParseDecimalInt32(const std::string& text, int32_t& out) {
    size_t i = 0;
    const size_t n = text.size();
    auto blank = [&](size_t k) { return text[k] == ' ' || text[k] == '\t'; };
    while (i < n && blank(i)) {
        ++i;
    }
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const size_t digitsStart = i;
    int64_t value = 0;
    while (i < n && text[i] >= '0' && text[i] <= '9') {
        value = value * 10 + (text[i] - '0');
        // A value past the 32-bit range is not an integer this field holds.
        if (value > static_cast<int64_t>(std::numeric_limits<int32_t>::max()) + 1) {
            return false;
        }
        ++i;
    }
    if (i == digitsStart) {
        return false;
    }
    while (i < n && blank(i)) {
        ++i;
    }
    if (i != n) {
        return false;
    }
    if (negative) {
        value = -value;
    }
    if (value > std::numeric_limits<int32_t>::max() ||
        value < std::numeric_limits<int32_t>::min()) {
        return false;
    }
    out = static_cast<int32_t>(value);
    return true;
}

void DataExchange::Int(int controlId, int32_t& value) {
    if (m_failed) {
        return;
    }
    Window* w = m_dialog.GetWindow();
    if (!m_save) {
        w->SetText(controlId, std::to_string(value));
        return;
    }
    int32_t parsed = 0;
    if (!ParseDecimalInt32(w->GetText(controlId), parsed)) {
        m_dialog.MessageBox("Please enter an integer.", kMbIconWarning);
        m_failed = true;
        return;
    }
    value = parsed;
}

void DataExchange::Text(int controlId, std::string& value) {
    if (m_failed) {
        return;
    }
    Window* w = m_dialog.GetWindow();
    if (m_save) {
        value = w->GetText(controlId);
    } else {
        w->SetText(controlId, value);
    }
}

CDialog::CDialog(const DialogTemplate& tmpl, WindowSystem& ws, CDialog* parent)
    : m_template(tmpl), m_ws(ws), m_parent(parent) {}

CDialog::~CDialog() {
    DestroyWindow();
}

bool CDialog::Create() {
    if (m_window) {
        return true;
    }
    m_endResult.reset();
    m_window = m_ws.CreateDialogWindow(m_template, *this,
                                       m_parent != nullptr ? m_parent->GetWindow() : nullptr);
    if (!m_window) {
        return false;
    }
    OnInitDialog();
    return true;
}

int CDialog::DoModal() {
    if (!Create()) {
        return -1;
    }
    int result = m_endResult ? *m_endResult : m_window->RunModal();
    DestroyWindow();
    return result;
}

void CDialog::EndDialog(int result) {
    m_endResult = result;
    if (m_window) {
        m_window->EndDialog(result);
    }
}

void CDialog::DestroyWindow() {
    if (m_window) {
        OnDestroy();
        m_window.reset();
    }
}

bool CDialog::UpdateData(bool saveAndValidate) {
    if (!m_window) {
        return false;
    }
    const bool outer = m_inExchange;
    m_inExchange = true;
    DataExchange dx(*this, saveAndValidate);
    DoDataExchange(dx);
    m_inExchange = outer;
    return !dx.Failed();
}

int CDialog::MessageBox(const std::string& utf8, uint32_t style) {
    if (m_window) {
        return m_window->MessageBox(utf8, style);
    }
    return m_ws.MessageBox(utf8, style);
}

bool CDialog::OnInitDialog() {
    UpdateData(false);
    return true;
}

void CDialog::OnCommand(int controlId, Notify code) {
    if (m_inExchange) {
        return;
    }
    if (OnControlCommand(controlId, code)) {
        return;
    }
    if (code != Notify::Clicked) {
        return;
    }
    if (controlId == kIdOk) {
        OnOK();
    } else if (controlId == kIdCancel) {
        OnCancel();
    }
}

int CDialog::OnDeltaPos(int, int) {
    return 0;
}
void CDialog::OnTimer(int) {}
void CDialog::OnSysCommand(uint32_t) {}
bool CDialog::PreTranslateMessage(const KeyMessage&) {
    return false;
}
void CDialog::OnDestroy() {}
void CDialog::DoDataExchange(DataExchange&) {}

void CDialog::OnOK() {
    if (!UpdateData(true)) {
        return;
    }
    EndDialog(kIdOk);
}

void CDialog::OnCancel() {
    EndDialog(kIdCancel);
}

bool CDialog::OnControlCommand(int, Notify) {
    return false;
}

}  // namespace vorpane::ui
