#pragma once
// Shared pieces of the Qt backend tests: a DialogEvents that records what
// reaches it, and waiting on conditions with a deadline.

#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ui/dialog_template.h"
#include "ui/qt/qt_window_system.h"
#include "ui/window_system.h"

namespace vorpane::qt::test {

struct Command {
    int id;
    ui::Notify code;
    bool operator==(const Command&) const = default;
};

class RecordingEvents : public ui::DialogEvents {
public:
    bool OnInitDialog() override { return true; }
    void OnCommand(int controlId, ui::Notify code) override {
        commands.push_back({controlId, code});
        if (onCommand) {
            onCommand(controlId, code);
        }
    }
    int OnDeltaPos(int controlId, int delta) override {
        deltas.emplace_back(controlId, delta);
        return 0;
    }
    void OnTimer(int timerId) override { timers.push_back(timerId); }
    void OnSysCommand(uint32_t commandId) override { sysCommands.push_back(commandId); }
    bool PreTranslateMessage(const ui::KeyMessage& msg) override {
        keys.push_back(msg);
        return eatKey ? eatKey(msg) : false;
    }
    void OnDestroy() override {}

    int CountCommand(int id, ui::Notify code) const;

    std::vector<Command> commands;
    std::vector<std::pair<int, int>> deltas;
    std::vector<int> timers;
    std::vector<uint32_t> sysCommands;
    std::vector<ui::KeyMessage> keys;
    std::function<bool(const ui::KeyMessage&)> eatKey;
    std::function<void(int, ui::Notify)> onCommand;
};

// Pumps events until cond() holds or the deadline passes; cond()'s last value.
bool WaitFor(const std::function<bool()>& cond, int deadlineMs = 5000);

// Calls fn with the active modal widget every 10 ms until it answers true
// (the WhenModal form: runs fn once on the first visible modal T). Past the
// deadline it fails the test and rejects the modal dialog.
void WhenModalWidget(const std::function<bool(QWidget*)>& fn, int deadlineMs = 5000);
template <class T>
void WhenModal(std::function<void(T*)> fn, int deadlineMs = 5000) {
    WhenModalWidget(
        [fn](QWidget* w) {
            T* t = qobject_cast<T*>(w);
            if (t == nullptr || !t->isVisible()) {
                return false;
            }
            fn(t);
            return true;
        },
        deadlineMs);
}

// A window from the backend with the Qt dialog shown and active.
struct ShownWindow {
    std::unique_ptr<ui::Window> window;
    QDialog* dialog = nullptr;
    QWidget* Control(int id) const { return QtWindowSystem::ControlOf(window.get(), id); }
};
ShownWindow ShowTemplate(QtWindowSystem& ws, int templateId, ui::DialogEvents& events);
// Shows the dialog and waits until it is the active window.
bool ShowActive(QDialog* dialog);

// The control ID that the focus widget belongs to ("1000" for an octet of
// IP control 1000), or nullopt.
std::optional<int> FocusedControlId(QDialog* dialog);

}  // namespace vorpane::qt::test
