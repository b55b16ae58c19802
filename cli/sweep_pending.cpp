#include "cli/system_environment.h"

namespace vorpane {

// The port sweep and the local interfaces are not part of this build yet.
SweepFunction SystemSweep() {
    return nullptr;
}

decltype(CliEnvironment::localPrefixes) SystemLocalPrefixes() {
    return nullptr;
}

}  // namespace vorpane
