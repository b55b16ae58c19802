#include "platform/posix/spawned_process.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>

#include "platform/posix/spawn_attributes.h"

extern char** environ;

namespace vorpane {

std::unique_ptr<SpawnedProcess> SpawnedProcess::Spawn(const std::vector<std::string>& argv,
                                                      int* error) {
    if (argv.empty()) {
        if (error != nullptr) {
            *error = EINVAL;
        }
        return nullptr;
    }
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);

    SpawnAttributes attr;
    if (!attr.Ok()) {
        if (error != nullptr) {
            *error = ENOMEM;
        }
        return nullptr;
    }
    // The child must not inherit a blocked Ctrl+C or an ignored SIGPIPE
    // from whatever thread set them here.
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(attr.Get(), &none);
    posix_spawnattr_setsigdefault(attr.Get(), &defaults);
    posix_spawnattr_setflags(attr.Get(), POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, args[0], nullptr, attr.Get(), args.data(), environ);
    if (rc != 0) {
        if (error != nullptr) {
            *error = rc;
        }
        return nullptr;
    }
    return std::unique_ptr<SpawnedProcess>(new SpawnedProcess(pid));
}

SpawnedProcess::~SpawnedProcess() {
    if (!Finished()) {
        // Only reached when the owner gave up waiting; no zombie is left.
        kill(m_pid, SIGTERM);
        int status = 0;
        while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
}

bool SpawnedProcess::Finished() {
    if (m_reaped) {
        return true;
    }
    int status = 0;
    pid_t r;
    do {
        r = waitpid(m_pid, &status, WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == 0) {
        return false;
    }
    m_reaped = true;
    if (r == m_pid && WIFEXITED(status)) {
        m_exitCode = WEXITSTATUS(status);
    }
    // r < 0 (ECHILD): someone else reaped it; it has ended all the same.
    return true;
}

std::unique_ptr<TerminalProcess> StartWithFirstTerminal(
    const std::vector<std::vector<std::string>>& terminals,
    const std::vector<std::string>& command) {
    for (const auto& prefix : terminals) {
        std::vector<std::string> argv = prefix;
        argv.insert(argv.end(), command.begin(), command.end());
        if (auto p = SpawnedProcess::Spawn(argv)) {
            return p;
        }
    }
    return nullptr;
}

std::unique_ptr<TerminalProcess> StartInTerminal(const std::vector<std::string>& command) {
    return StartWithFirstTerminal({{"x-terminal-emulator", "-e"}, {"xterm", "-e"}}, command);
}

std::vector<std::string> ContinuousPingCommand(const std::string& address) {
    return {"ping", address};
}

}  // namespace vorpane
