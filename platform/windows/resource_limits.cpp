#include "platform/resource_limits.h"

namespace vorpane {

// Windows has no per-process count of sockets to raise, and no neighbour
// limit a program can read; the sweep keeps its fixed window there.
OpenFileLimit CurrentOpenFileLimit() {
    return {};
}

OpenFileLimit RaiseOpenFileLimit() {
    return {};
}

int32_t NeighbourTableSize() {
    return 0;
}

}  // namespace vorpane
