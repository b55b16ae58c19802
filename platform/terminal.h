#pragma once
// Runs a console command (ping) in a terminal window of its own, the way a
// desktop user expects to see and interrupt it. The POSIX launcher's parts
// are in posix/spawned_process.h.

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vorpane {

// A command running in its terminal window.
class TerminalProcess {
public:
    virtual ~TerminalProcess() = default;
    // True once the terminal has ended. Never blocks.
    virtual bool Finished() = 0;
};

// Starts `command` (program and arguments) in a terminal window; null when
// no terminal could be started.
using TerminalLauncher =
    std::function<std::unique_ptr<TerminalProcess>(const std::vector<std::string>& command)>;

// Starts `command` in a window of its own: on POSIX the desktop's terminal
// (x-terminal-emulator -e, else xterm -e), on Windows a new console.
std::unique_ptr<TerminalProcess> StartInTerminal(const std::vector<std::string>& command);

// The system's ping of `address` that goes on until its window is closed:
// "ping ADDRESS" on POSIX, "ping ADDRESS -t" on Windows.
std::vector<std::string> ContinuousPingCommand(const std::string& address);

}  // namespace vorpane
