#pragma once
// The environment of the program itself: the system's streams, sockets,
// neighbour table, probes and clock. What differs between systems comes
// from posix/ or windows/.

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "cli/cli_run.h"

namespace vorpane {

CliEnvironment MakeSystemEnvironment(std::ostream& out, std::ostream& err);

// The port sweep over prefixes (none: the local networks).
using SweepFunction = decltype(CliEnvironment::sweep);
SweepFunction SystemSweep();
// The networks of the local interfaces worth a sweep.
decltype(CliEnvironment::localPrefixes) SystemLocalPrefixes();

// The parts of the environment each system makes its own way.
struct SystemSide {
    ProberFactory makeProber;
    std::function<int32_t(Ipv4Address)> purgeArp;
    // The OUI registry; empty where the system has none, and makers stay
    // unnamed.
    std::string ouiPath;
};
SystemSide MakeSystemSide();

// While it lives, a terminal shows the program's UTF-8 output as text; a
// pipe or a file gets the bytes unchanged.
class Utf8Terminal {
public:
    Utf8Terminal();
    ~Utf8Terminal();
    Utf8Terminal(const Utf8Terminal&) = delete;
    Utf8Terminal& operator=(const Utf8Terminal&) = delete;

private:
    unsigned m_saved = 0;
};

}  // namespace vorpane
