#pragma once
// The system's services on POSIX: what the program may not do itself (the
// probe without a raw or ping socket, the ARP row's deletion) goes through
// the privileged helper.

#include <string>

#include "app/dialog_services.h"

namespace vorpane {

// Where the package installs the helper that probes and deletes ARP rows
// for a program without privileges. Fixed at build time: the program never
// takes it from its environment.
extern const char kInstalledHelperPath[];

// MakeSystemServices with the helper at `helperPath`.
DialogServices MakeSystemServices(ui::WindowSystem& ws, PrinterLink& link,
                                  const std::string& helperPath);

}  // namespace vorpane
