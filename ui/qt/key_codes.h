#pragma once
// Qt key codes to the platform-neutral virtual-key codes the dialogs' key
// filters look at.

#include <Qt>

namespace vorpane::qt {

// 0 when no key filter cares about the key.
int VirtualKeyFromQt(int qtKey);

}  // namespace vorpane::qt
