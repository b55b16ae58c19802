#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "platform/posix/spawn_attributes.h"
#include "platform/unique_fd.h"

namespace vorpane {

namespace {

class SpawnFileActions {
public:
    SpawnFileActions() { m_ok = posix_spawn_file_actions_init(&m_actions) == 0; }
    ~SpawnFileActions() {
        if (m_ok) {
            posix_spawn_file_actions_destroy(&m_actions);
        }
    }
    SpawnFileActions(const SpawnFileActions&) = delete;
    SpawnFileActions& operator=(const SpawnFileActions&) = delete;
    bool Ok() const { return m_ok; }
    posix_spawn_file_actions_t* Get() { return &m_actions; }

private:
    posix_spawn_file_actions_t m_actions;
    bool m_ok = false;
};

// Reaps `pid`; its exit status, or -1 when a signal ended it.
ProgramExit Reap(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return {-1, errno};
        }
    }
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0};
}

}  // namespace

ProgramExit RunProgram(const std::string& path, const std::vector<std::string>& arguments,
                       std::chrono::milliseconds deadline) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    char* noEnvironment[] = {nullptr};

    SpawnAttributes attr;
    SpawnFileActions actions;
    if (!attr.Ok() || !actions.Ok()) {
        return {-1, ENOMEM};
    }
    // Whatever signals this process blocks or ignores stay here. Descriptors
    // that a library opened without close-on-exec stay here too: the program
    // gets the null device, our standard error, and nothing else.
    sigset_t none;
    sigemptyset(&none);
    sigset_t all;
    sigfillset(&all);
    if (posix_spawnattr_setsigmask(attr.Get(), &none) != 0 ||
        posix_spawnattr_setsigdefault(attr.Get(), &all) != 0 ||
        posix_spawnattr_setflags(attr.Get(), POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) != 0 ||
        posix_spawn_file_actions_addopen(actions.Get(), 0, "/dev/null", O_RDONLY, 0) != 0 ||
        posix_spawn_file_actions_addopen(actions.Get(), 1, "/dev/null", O_WRONLY, 0) != 0 ||
        posix_spawn_file_actions_addclosefrom_np(actions.Get(), 3) != 0) {
        return {-1, ENOMEM};
    }
    pid_t pid = -1;
    if (const int error =
            posix_spawn(&pid, path.c_str(), actions.Get(), attr.Get(), argv.data(), noEnvironment);
        error != 0) {
        return {-1, error};
    }

    // A process descriptor lets us wait with a deadline. Without one (a
    // kernel older than 5.3) the program's own bounds have to do.
    const UniqueFd process(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
    if (process.valid()) {
        pollfd ready{process.get(), POLLIN, 0};
        const auto end = std::chrono::steady_clock::now() + deadline;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            const int got = poll(&ready, 1, static_cast<int>(std::max<int64_t>(0, left.count())));
            if (got > 0) {
                break;
            }
            if (got == 0) {
                kill(pid, SIGKILL);
                Reap(pid);
                return {-1, ETIMEDOUT};
            }
            if (errno != EINTR) {
                break;  // reaping below still waits for it
            }
        }
    }
    return Reap(pid);
}

}  // namespace vorpane
