#pragma once
// The window-system contract: what every backend of the ui/ seam must do the
// same way, written once and run against each backend. A backend plugs in
// with a Driver (below) and a MakeDriver() of its own; see
// window_contract.cpp for the cases.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ui/dialog_template.h"
#include "ui/window_system.h"

namespace vorpane::ui::contract {

// How the test closes a message box.
enum class BoxAnswer { Ok, Cancel, Close /* Esc or the close box */ };

// A message box as it was shown.
struct SeenBox {
    std::string title;
    std::string text;
    uint32_t style;  // icon and buttons as shown, in MessageBoxStyle values
    bool owned;      // shown over a window rather than alone
    bool operator==(const SeenBox&) const = default;
};

// Drives one backend the way a user and a screen would: it acts on windows,
// answers the dialogs the system puts up and lets time pass. Every call is
// made on the UI thread.
class Driver {
public:
    virtual ~Driver() = default;
    virtual WindowSystem& System() = 0;

    // Shows a window made by CDialog::Create (not running modally) and makes
    // it the active one, so that the calls below can act on it.
    virtual void Show(Window& w) = 0;
    virtual std::string Title(Window& w) = 0;

    // The user, each action delivered through the backend's own input path.
    // Click: a mouse click on a button or check box.
    virtual void Click(Window& w, int id) = 0;
    // QueueClick: a click that still waits in the input queue; the next loop
    // that takes the user's input delivers it.
    virtual void QueueClick(Window& w, int id) = 0;
    // Type: replaces the text of an edit, rich edit or address control as
    // typing (or, for the rich edit, pasting) does.
    virtual void Type(Window& w, int id, const std::string& utf8) = 0;
    // Select: picks item `index` of a drop-down list.
    virtual void Select(Window& w, int id, int index) = 0;
    // Spin: one press of an up-down control's upper (-1) or lower (+1) arrow.
    virtual void Spin(Window& w, int id, int delta) = 0;
    // PressKey: one key press and release with the focus on control
    // `focusId` (0: the dialog itself), Control held when `control`.
    virtual void PressKey(Window& w, int focusId, int virtualKey, bool control) = 0;
    // ChooseSystemMenu: the system-menu item of that command; fails the test
    // when the window has no such item.
    virtual void ChooseSystemMenu(Window& w, uint32_t commandId) = 0;
    // CloseBox: the window's close box.
    virtual void CloseBox(Window& w) = 0;

    // Answers for the next message box, in order. With `when`, the box stays
    // up until when() holds (within ten seconds) while the backend's modal
    // loop runs. A box with no answer queued is closed (BoxAnswer::Close).
    virtual void AnswerMessageBox(BoxAnswer answer, std::function<bool()> when = nullptr) = 0;
    // Every message box shown so far, in order.
    virtual std::vector<SeenBox> SeenBoxes() = 0;
    // Answer for the next open-file dialog: a path, or nullopt for Cancel. A
    // dialog with no answer queued is cancelled.
    virtual void AnswerFileDialog(std::optional<std::string> path) = 0;
    // Runs `script` once, inside the next modal run of template
    // `templateId`, once the dialog is up. A dialog the script leaves
    // running, or one no script was queued for, is then closed by its close
    // box.
    virtual void WhenModal(int templateId, std::function<void(Window&)> script) = 0;

    // Lets up to `ms` milliseconds pass with the UI thread in its event loop:
    // timers tick, invalidated controls paint, worker requests are served.
    // Stops early once until() holds; returns its last value (true when
    // there is none).
    virtual bool LetTimePass(int ms, const std::function<bool()>& until = nullptr) = 0;
};

// Defined once per backend's test executable.
std::unique_ptr<Driver> MakeDriver();

// The suite's dialogs: one control of every class (template 900) and a
// small dialog to run inside it (template 901).
enum ContractIds : int {
    kOuterTemplate = 900,
    kInnerTemplate = 901,
    kButton = 10,
    kCheck = 11,
    kLabel = 12,
    kIp = 13,
    kCombo = 14,
    kEdit = 15,
    kProgress = 16,
    kSpin = 17,
    kRich = 18,
    kLamp = 19,
};
const DialogTemplate& OuterTemplate();
const DialogTemplate& InnerTemplate();

}  // namespace vorpane::ui::contract
