#pragma once
// The environment of the program itself: the system's streams, sockets,
// neighbour table, privileged helper and clock.

#include <iosfwd>

#include "cli/cli_run.h"

namespace vorpane {

CliEnvironment MakeSystemEnvironment(std::ostream& out, std::ostream& err);

// The port sweep over prefixes (none: the local networks).
using SweepFunction = decltype(CliEnvironment::sweep);
SweepFunction SystemSweep();
// The networks of the local interfaces worth a sweep.
decltype(CliEnvironment::localPrefixes) SystemLocalPrefixes();

}  // namespace vorpane
