#pragma once
// Running a helper program to its end and reading its exit status: the
// program alone, with nothing of the caller's environment or descriptors.

#include <chrono>
#include <string>
#include <vector>

namespace vorpane {

struct ProgramExit {
    int status = -1;  // the exit status; -1 when the program did not exit by itself
    int error = 0;    // errno-style: it could not be started, or ETIMEDOUT
};

// Runs the program at `path` (no search, no shell) with `arguments` after its
// name, an empty environment, standard input and output on the null device,
// the caller's standard error, and no other descriptor. A program still
// running after `deadline` is killed.
ProgramExit RunProgram(const std::string& path, const std::vector<std::string>& arguments,
                       std::chrono::milliseconds deadline);

}  // namespace vorpane
