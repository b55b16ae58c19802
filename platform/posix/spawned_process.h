#pragma once
// The POSIX terminal launcher's parts: a program started without a shell,
// and the first terminal of a list that starts.

#include <sys/types.h>

#include "platform/terminal.h"

namespace vorpane {

// A child process started with posix_spawnp and reaped without blocking.
class SpawnedProcess : public TerminalProcess {
public:
    // Arguments go to the program as they are; no shell sees them. Null
    // when the program cannot be started (errno-style code in *error).
    static std::unique_ptr<SpawnedProcess> Spawn(const std::vector<std::string>& argv,
                                                 int* error = nullptr);
    ~SpawnedProcess() override;
    bool Finished() override;
    // The exit code once Finished; -1 when killed by a signal.
    int ExitCode() const { return m_exitCode; }
    // For reading the child's own figures in /proc.
    pid_t Pid() const { return m_pid; }

private:
    explicit SpawnedProcess(pid_t pid) : m_pid(pid) {}
    pid_t m_pid;
    bool m_reaped = false;
    int m_exitCode = -1;
};

// Tries each terminal prefix in order (such as {"xterm", "-e"}) with the
// command appended; the first that starts wins.
std::unique_ptr<TerminalProcess> StartWithFirstTerminal(
    const std::vector<std::vector<std::string>>& terminals,
    const std::vector<std::string>& command);

}  // namespace vorpane
