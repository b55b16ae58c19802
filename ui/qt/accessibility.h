#pragma once
// Accessibility of the backend's own widgets: the progress bar's value, the
// roles of the address and up-down controls.

namespace vorpane::qt {

// Registers the factory for the backend's widgets with Qt (once).
void InstallAccessibility();

}  // namespace vorpane::qt
