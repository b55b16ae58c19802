#pragma once
// Qt key codes to the platform-neutral virtual-key codes the dialogs' key
// filters look at (letters and digits are their upper-case ASCII codes).

#include <Qt>

namespace vorpane::qt {

// 0 when the key has no virtual-key code.
int VirtualKeyFromQt(int qtKey, Qt::KeyboardModifiers modifiers);

}  // namespace vorpane::qt
