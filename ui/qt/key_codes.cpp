#include "ui/qt/key_codes.h"

#include "ui/window_system.h"

namespace vorpane::qt {

// Only the keys a dialog's key filter looks at get a code; every other key
// goes to its widget untouched.
int VirtualKeyFromQt(int qtKey) {
    switch (qtKey) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return ui::kVkReturn;
        case Qt::Key_Control:
            return ui::kVkControl;
        case Qt::Key_Escape:
            return ui::kVkEscape;
        case Qt::Key_Space:
            return ui::kVkSpace;
        case Qt::Key_T:
            return ui::kVkT;
        default:
            return 0;
    }
}

}  // namespace vorpane::qt
