#pragma once
// Thin wrappers that bind a member of a dialog to one of its controls, the
// way the dialog framework's control classes do. They hold no state of the
// control; every call goes to the window.

#include <array>
#include <cstdint>
#include <string>

#include "platform/ipv4_address.h"
#include "ui/window_system.h"

namespace vorpane::ui {

class CWndCtrl {
public:
    void Attach(Window* window, int id) {
        m_window = window;
        m_id = id;
    }
    void Detach() { m_window = nullptr; }
    bool HasWindow() const { return m_window != nullptr; }
    int Id() const { return m_id; }
    std::string GetWindowText() const { return m_window->GetText(m_id); }
    void SetWindowText(const std::string& utf8) const { m_window->SetText(m_id, utf8); }
    void EnableWindow(bool enable) const { m_window->Enable(m_id, enable); }

protected:
    Window* m_window = nullptr;
    int m_id = 0;
};

class CIPAddressCtrl : public CWndCtrl {
public:
    Ipv4Address GetAddress() const { return Ipv4Address::FromOctets(m_window->GetIpOctets(m_id)); }
};

class CButtonCtrl : public CWndCtrl {
public:
    int GetCheck() const { return m_window->GetCheck(m_id); }
};

class CComboBoxCtrl : public CWndCtrl {
public:
    void ResetContent() const { m_window->ComboReset(m_id); }
    int AddString(const std::string& utf8) const { return m_window->ComboAdd(m_id, utf8); }
    int GetCount() const { return m_window->ComboCount(m_id); }
    void SetCurSel(int index) const { m_window->ComboSetCurSel(m_id, index); }
    int GetCurSel() const { return m_window->ComboGetCurSel(m_id); }
    std::string GetLBText(int index) const { return m_window->ComboItemText(m_id, index); }
};

class CRichEditCtrl : public CWndCtrl {};

}  // namespace vorpane::ui
