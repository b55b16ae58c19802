#pragma once
// Shared pieces of the Qt backend tests: a DialogEvents that records what
// reaches it, shown template windows, and waiting with a deadline.

#include <gtest/gtest.h>
#include <QWidget>
#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "ui/dialog_template.h"
#include "ui/qt/qt_window_system.h"
#include "ui/window_system.h"

namespace vorpane::qt::test {

// A key message as (kind, virtual key, control ID), comparable in one go.
using Key = std::tuple<ui::KeyMessage::Kind, int, int>;
constexpr auto kDown = ui::KeyMessage::Kind::KeyDown;
constexpr auto kUp = ui::KeyMessage::Kind::KeyUp;

// Templates 100, 102 and 131.
const ui::DialogTemplate& TemplateById(int id);

class RecordingEvents : public ui::DialogEvents {
public:
    bool OnInitDialog() override { return true; }
    void OnCommand(int id, ui::Notify code) override { commands.emplace_back(id, code); }
    int OnDeltaPos(int controlId, int delta) override {
        deltas.emplace_back(controlId, delta);
        return 0;
    }
    void OnTimer(int timerId) override { timers.push_back(timerId); }
    void OnSysCommand(uint32_t commandId) override { sysCommands.push_back(commandId); }
    bool PreTranslateMessage(const ui::KeyMessage& msg) override {
        keys.emplace_back(msg.kind, msg.virtualKey, msg.controlId);
        return eatKey ? eatKey(msg) : false;
    }
    void OnDestroy() override {}

    int CountCommand(int id, ui::Notify code) const {
        return static_cast<int>(std::count(commands.begin(), commands.end(), std::pair(id, code)));
    }

    std::vector<std::pair<int, ui::Notify>> commands;
    std::vector<std::pair<int, int>> deltas;
    std::vector<int> timers;
    std::vector<uint32_t> sysCommands;
    std::vector<Key> keys;
    std::function<bool(const ui::KeyMessage&)> eatKey;
};

// Pumps events until cond() holds or the deadline passes; cond()'s last value.
bool WaitFor(const std::function<bool()>& cond, int deadlineMs = 5000);

// Calls fn with the active modal widget every 10 ms until it answers true
// (the WhenModal form: runs fn once on the first visible modal T). Past the
// deadline it fails the test and rejects the modal dialog.
void WhenModalWidget(const std::function<bool(QWidget*)>& fn, int deadlineMs = 5000);
template <class T>
void WhenModal(std::function<void(T*)> fn, int deadlineMs = 5000) {
    auto once = [fn](QWidget* w) {
        T* t = qobject_cast<T*>(w);
        const bool ready = t != nullptr && t->isVisible();
        if (ready) {
            fn(t);
        }
        return ready;
    };
    WhenModalWidget(once, deadlineMs);
}

// A window from the backend with the Qt dialog shown and active.
struct ShownWindow {
    std::unique_ptr<ui::Window> window;
    QDialog* dialog = nullptr;
    QWidget* Control(int id) const { return QtWindowSystem::ControlOf(window.get(), id); }
};
ShownWindow ShowTemplate(QtWindowSystem& ws, int templateId, ui::DialogEvents& events);

// A window system and a recorder, with template windows shown on demand.
class QtWindowTest : public ::testing::Test {
protected:
    ShownWindow Show(int templateId) { return ShowTemplate(ws, templateId, events); }
    QtWindowSystem ws;
    RecordingEvents events;
};

// Shows the dialog and waits until it is the active window.
bool ShowActive(QDialog* dialog);

// Gives w the focus and waits until it has it.
void Focus(QWidget* w);

// The accessible name Qt reports for o.
QString Name(QObject* o);

// The control ID that the focus widget belongs to ("1000" for an octet of
// IP control 1000), or nullopt.
std::optional<int> FocusedControlId(QDialog* dialog);

}  // namespace vorpane::qt::test
