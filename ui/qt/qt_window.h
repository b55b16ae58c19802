#pragma once
// One dialog window built from a template with Qt widgets. Internal to the
// backend; reach it through QtWindowSystem.

#include <QDialog>
#include <QObject>
#include <QPointer>
#include <map>
#include <memory>
#include <vector>

#include "ui/dialog_template.h"
#include "ui/qt/dialog_units.h"
#include "ui/window_system.h"

class QEventLoop;
class QMenu;
class QTimer;

namespace vorpane::qt {

class QtWindow;
class QtWindowSystem;

class VorpaneDialog : public QDialog {
    Q_OBJECT

public:
    VorpaneDialog(QtWindow* owner, QWidget* parent);
    void detach() { m_owner = nullptr; }
    QtWindow* owner() const { return m_owner; }

    // Esc: the logic decides whether the dialog closes.
    void reject() override;
    void accept() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    QtWindow* m_owner;
};

class QtWindow : public QObject, public ui::Window {
    Q_OBJECT

public:
    QtWindow(QtWindowSystem& system, const ui::DialogTemplate& tmpl, ui::DialogEvents& events,
             QWidget* parent);
    ~QtWindow() override;

    VorpaneDialog* dialog() const { return m_dialog; }
    QWidget* control(int id) const;
    // Every control's widget, statics included, in template order.
    const std::vector<QWidget*>& widgets() const { return m_widgets; }
    DialogBaseUnits baseUnits() const { return m_units; }

    int RunModal() override;
    void EndDialog(int result) override;
    void SetTitle(const std::string& utf8) override;
    void SetIcon(int iconId) override;
    bool HasSystemMenu() override { return m_template.hasSystemMenu; }
    void AppendSystemMenuSeparator() override;
    void AppendSystemMenuItem(uint32_t commandId, const std::string& utf8) override;
    std::string GetText(int id) override;
    void SetText(int id, const std::string& utf8) override;
    void Enable(int id, bool enable) override;
    bool IsEnabled(int id) override;
    std::array<uint8_t, 4> GetIpOctets(int id) override;
    void ComboReset(int id) override;
    int ComboAdd(int id, const std::string& utf8) override;
    int ComboCount(int id) override;
    void ComboSetCurSel(int id, int index) override;
    int ComboGetCurSel(int id) override;
    std::string ComboItemText(int id, int index) override;
    int GetCheck(int id) override;
    void SetCheck(int id, int state) override;
    void SetStaticIcon(int id, int iconId) override;
    int GetStaticIcon(int id) override;
    void AttachCustomControl(int id, ui::CustomControl* control) override;
    ui::Rect ControlClientRect(int id) override;
    void RedrawControlNow(int id) override;
    void InvalidateControl(int id) override;
    void SetTimer(int timerId, int periodMs) override;
    void KillTimer(int timerId) override;
    int MessageBox(const std::string& utf8, uint32_t style) override;
    void SetAccessibleValue(int id, int value, int minimum, int maximum,
                            const std::string& text) override;

    // Called by the dialog widget.
    void RequestCancel();
    void ShowSystemMenu(const QPoint& globalPos);
    // The system-menu items as a menu (separators included); the caller owns it.
    QMenu* BuildSystemMenu(QWidget* parent);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Control {
        const ui::ControlTemplate* tmpl;
        QWidget* widget;
    };
    struct MenuItem {
        bool separator;
        uint32_t commandId;
        QString text;
    };
    // What outlives the window object while one of its callbacks or its
    // modal loop is still on the stack.
    struct Life {
        bool alive = true;
        int depth = 0;
        bool ended = false;
        int result = 0;
        QEventLoop* loop = nullptr;
    };

    void Build(const ui::DialogTemplate& tmpl);
    QWidget* CreateControl(const ui::ControlTemplate& c, size_t index);
    const Control* Find(int id) const;
    template <class F>
    void Dispatch(F&& f);
    void DispatchCommand(int id, ui::Notify code);
    void SetLabelText(QWidget* label, const ui::ControlTemplate& c, const QString& text);
    int ControlIdOf(QObject* object) const;
    void FocusFirstTabStop();

    QtWindowSystem& m_system;
    const ui::DialogTemplate& m_template;
    ui::DialogEvents* m_events;
    QPointer<VorpaneDialog> m_dialog;
    DialogBaseUnits m_units;
    std::map<int, Control> m_controls;
    std::vector<QWidget*> m_widgets;
    std::vector<QWidget*> m_tabOrder;
    std::vector<MenuItem> m_menu;
    std::map<int, QTimer*> m_timers;
    std::shared_ptr<Life> m_life = std::make_shared<Life>();
    int m_comboGuard = 0;
    const QEvent* m_lastKeyEvent = nullptr;
};

}  // namespace vorpane::qt
