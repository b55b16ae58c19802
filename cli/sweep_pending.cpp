#include "cli/system_environment.h"

namespace vorpane {

// The port sweep is not part of this build yet.
SweepFunction SystemSweep() {
    return nullptr;
}

}  // namespace vorpane
