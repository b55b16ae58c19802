#pragma once
// What vorpane-printer's main loop waits for: control lines on standard
// input, and the system's request to stop (SIGINT or SIGTERM on POSIX,
// Ctrl+C, Ctrl+Break or the console closing on Windows).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vorpane {

class ControlInput {
public:
    struct Opened;
    // Takes over the stop requests of the process from here on.
    static Opened Open();
    virtual ~ControlInput() = default;

    // Blocks until standard input has bytes or a stop is requested: the
    // bytes read (more than 0), 0 at the end of standard input (later calls
    // wait for a stop alone), -1 once a stop is requested.
    virtual int64_t Read(char* buffer, size_t size) = 0;
    // Any thread: the Read in progress, or the next, returns -1 as if a stop
    // had been requested (the window was closed).
    virtual void RequestStop() = 0;
};

// Standard input carries bytes as they are (Windows would otherwise end
// them at 0x1A and drop CR before LF).
void MakeStandardInputBinary();

// Starts vorpane-printer-window, found beside this program, with the same
// arguments, and returns what it returns; or writes why it could not and
// returns 1. On POSIX the window program takes over this process.
int RunWindowProgram(int argc, char** argv);

struct ControlInput::Opened {
    std::unique_ptr<ControlInput> input;  // null on failure
    std::string error;
};

}  // namespace vorpane
