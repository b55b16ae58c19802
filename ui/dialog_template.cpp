#include "ui/dialog_template.h"

namespace vorpane::ui {

const ControlTemplate* DialogTemplate::Find(int controlId) const {
    for (const auto& c : controls) {
        if (c.id == controlId && controlId != kStaticId) {
            return &c;
        }
    }
    return nullptr;
}

}  // namespace vorpane::ui
