#pragma once
// Base of every dialog of the system: the dialog framework's behaviour on top
// of the window-system seam (modal run, OK/Cancel, data exchange with
// notification suppression, message boxes).

#include <cstdint>
#include <memory>
#include <string>

#include "ui/dialog_template.h"
#include "ui/window_system.h"

namespace vorpane::ui {

class CDialog;

// One run of a dialog's data exchange. A failed field ends the exchange:
// every later call does nothing, so members after it keep their values.
class DataExchange {
public:
    DataExchange(CDialog& dialog, bool saveAndValidate)
        : m_dialog(dialog), m_save(saveAndValidate) {}
    bool Saving() const { return m_save; }
    bool Failed() const { return m_failed; }

    // Signed decimal integer. Reading text that is not one shows the
    // framework's "Please enter an integer." and fails the exchange.
    void Int(int controlId, int32_t& value);
    // Text as UTF-8, unchanged.
    void Text(int controlId, std::string& value);

private:
    CDialog& m_dialog;
    bool m_save;
    bool m_failed = false;
};

// Parses what the framework accepts as a signed 32-bit decimal integer:
// optional blanks, an optional sign, digits, optional blanks.
bool ParseDecimalInt32(const std::string& text, int32_t& out);

class CDialog : public DialogEvents {
public:
    CDialog(const DialogTemplate& tmpl, WindowSystem& ws, CDialog* parent = nullptr);
    ~CDialog() override;
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Builds the window and initialises the dialog without running it, for
    // callers that drive the window themselves (tests).
    bool Create();
    // Create, run modally until EndDialog, destroy; the EndDialog result.
    int DoModal();
    void EndDialog(int result);
    // Destroys the window (runs OnDestroy). Harmless when there is none.
    void DestroyWindow();

    // Runs the data exchange; true when every field was read or written.
    bool UpdateData(bool saveAndValidate = true);
    // True while a data exchange runs: notifications are then ignored.
    bool InDataExchange() const { return m_inExchange; }

    int MessageBox(const std::string& utf8, uint32_t style = kMbOk);

    Window* GetWindow() const { return m_window.get(); }
    WindowSystem& GetWindowSystem() const { return m_ws; }
    const DialogTemplate& GetTemplate() const { return m_template; }
    std::optional<int> EndResult() const { return m_endResult; }

    // DialogEvents with the framework's defaults.
    bool OnInitDialog() override;
    void OnCommand(int controlId, Notify code) override;
    int OnDeltaPos(int controlId, int delta) override;
    void OnTimer(int timerId) override;
    void OnSysCommand(uint32_t commandId) override;
    bool PreTranslateMessage(const KeyMessage& msg) override;
    void OnDestroy() override;

protected:
    virtual void DoDataExchange(DataExchange& dx);
    // Command 1 (Exit/OK, Enter where no control takes it): refresh the
    // members and close with 1 only when that worked.
    virtual void OnOK();
    // Command 2 (Esc, the close box): close with 2 without reading controls.
    virtual void OnCancel();
    // A command from one of the dialog's own controls, outside a data
    // exchange. Return true when handled.
    virtual bool OnControlCommand(int controlId, Notify code);

private:
    const DialogTemplate& m_template;
    WindowSystem& m_ws;
    CDialog* m_parent;
    std::unique_ptr<Window> m_window;
    bool m_inExchange = false;
    std::optional<int> m_endResult;
};

}  // namespace vorpane::ui
