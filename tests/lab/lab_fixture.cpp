#include "lab_fixture.h"

#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <thread>

#include "platform/unique_fd.h"

extern char** environ;

namespace vorpane::lab {

namespace {

std::vector<char*> ArgvOf(std::vector<std::string>& words) {
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    return argv;
}

// Spawns argv with stdin from /dev/null and stdout+stderr into `outputFd`.
pid_t Spawn(std::vector<std::string> words, int outputFd) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outputFd, 1);
    posix_spawn_file_actions_adddup2(&actions, outputFd, 2);
    std::vector<char*> argv = ArgvOf(words);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

std::string Trim(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

}  // namespace

// --- Lab --------------------------------------------------------------------

int Lab::Script(const std::vector<std::string>& args, std::string* output) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        return -1;
    }
    UniqueFd readEnd(pipeFds[0]);
    UniqueFd writeEnd(pipeFds[1]);
    std::vector<std::string> words{"/bin/bash", VORPANE_LAB_SCRIPT};
    words.insert(words.end(), args.begin(), args.end());
    const pid_t pid = Spawn(std::move(words), writeEnd.get());
    writeEnd.reset();
    std::string text;
    char chunk[4096];
    for (;;) {
        const ssize_t got = read(readEnd.get(), chunk, sizeof chunk);
        if (got > 0) {
            text.append(chunk, static_cast<size_t>(got));
        } else if (got == 0 || errno != EINTR) {
            break;
        }
    }
    if (output != nullptr) {
        *output = Trim(text);
    }
    if (pid < 0) {
        return -1;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

const std::string& Lab::Unavailable() {
    static const std::string reason = [] {
        if (geteuid() != 0) {
            return std::string("network lab skipped: needs root to make network namespaces");
        }
        std::string output;
        if (Script({"check"}, &output) != 0) {
            return "network lab skipped: " + (output.empty() ? "lab.sh check failed" : output);
        }
        return std::string();
    }();
    return reason;
}

std::unique_ptr<Lab> Lab::Up(const std::string& subnet, int clientHost, std::string& error) {
    static std::atomic<int> counter{0};
    std::string prefix = "vp-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
    // Labs of test processes that died without tearing down go first.
    Script({"gc"});
    std::unique_ptr<Lab> lab(new Lab(prefix, subnet, clientHost));
    std::string output;
    if (Script({"up", prefix, subnet, std::to_string(clientHost)}, &output) != 0) {
        error = "lab.sh up failed: " + output;
        return nullptr;  // the destructor takes down what was made
    }
    return lab;
}

Lab::~Lab() {
    std::string output;
    Script({"down", m_prefix}, &output);
}

std::string Lab::Address(int host) const {
    return m_subnet + "." + std::to_string(host);
}

bool Lab::AddHost(const std::string& name, const std::vector<int>& hosts, EchoMode echo) {
    std::vector<std::string> args{"add-host", m_prefix, name};
    if (echo == EchoMode::kDrop) {
        args.insert(args.end(), {"--echo", "drop"});
    }
    for (int host : hosts) {
        args.push_back(std::to_string(host));
    }
    std::string output;
    const bool ok = Script(args, &output) == 0;
    if (!ok) {
        ADD_FAILURE() << "lab.sh add-host: " << output;
    }
    return ok;
}

bool Lab::RunInNamespace(const std::string& ns, const std::function<void()>& fn) {
    UniqueFd nsFd(open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC));
    if (!nsFd.valid()) {
        return false;
    }
    bool joined = false;
    std::thread worker([&] {
        if (setns(nsFd.get(), CLONE_NEWNET) != 0) {
            return;
        }
        // Traffic meant for the lab must never leave from the machine's own
        // namespace: make sure this thread really is inside.
        struct stat wanted {};
        struct stat current {};
        if (fstat(nsFd.get(), &wanted) != 0 || stat("/proc/thread-self/ns/net", &current) != 0 ||
            wanted.st_ino != current.st_ino || wanted.st_dev != current.st_dev) {
            return;
        }
        joined = true;
        fn();
    });
    worker.join();
    return joined;
}

// --- LabTest ----------------------------------------------------------------

void LabTest::SetUp() {
    const std::string& unavailable = Lab::Unavailable();
    if (!unavailable.empty()) {
        GTEST_SKIP() << unavailable;
    }
    std::string error;
    m_lab = Lab::Up(LabSubnet(), LabClientHost(), error);
    ASSERT_NE(m_lab, nullptr) << error;
}

}  // namespace vorpane::lab
