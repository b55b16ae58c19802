#include "lab_fixture.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/unique_fd.h"

namespace vorpane::lab {

// --- Lab --------------------------------------------------------------------

int Lab::Script(const std::vector<std::string>& args, std::string* output) {
    // Every word single-quoted: the shell sees them as they are.
    std::string command = "/bin/bash '" VORPANE_LAB_SCRIPT "'";
    for (const std::string& arg : args) {
        std::string quoted;
        for (char c : arg) {
            quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        }
        command += " '" + quoted + "'";
    }
    FILE* pipe = popen((command + " </dev/null 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        return -1;
    }
    std::string text;
    char chunk[4096];
    for (size_t got; (got = fread(chunk, 1, sizeof chunk, pipe)) > 0;) {
        text.append(chunk, got);
    }
    const int status = pclose(pipe);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    if (output != nullptr) {
        *output = text;
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

namespace {

// What RunAsNobody hands the process it starts, and the descriptor on which
// that process answers.
constexpr char kJobNamespace[] = "VORPANE_LAB_NOBODY_NS";
constexpr char kJobArgument[] = "VORPANE_LAB_NOBODY_ARG";
constexpr int kAnswerFd = 3;
// Leads every answer, so that a process that never answered is told apart
// from an empty answer.
constexpr char kAnswerMark = '=';

}  // namespace

std::optional<std::string> Lab::RunAsNobody(const std::string& ns, const std::string& test,
                                            const std::string& argument,
                                            std::chrono::milliseconds deadline) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        return std::nullopt;
    }
    UniqueFd readEnd(ends[0]);
    UniqueFd writeEnd(ends[1]);
    std::vector<std::string> environment = {std::string(kJobNamespace) + "=" + ns,
                                            std::string(kJobArgument) + "=" + argument};
    for (char** variable = environ; *variable != nullptr; ++variable) {
        environment.emplace_back(*variable);
    }
    const std::string filter = "--gtest_filter=" + test;
    char* const argv[] = {const_cast<char*>("/proc/self/exe"), const_cast<char*>(filter.c_str()),
                          nullptr};
    std::vector<char*> envp;
    for (std::string& variable : environment) {
        envp.push_back(variable.data());
    }
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) {
        return std::nullopt;
    }
    pid_t pid = -1;
    const bool started =
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0) == 0 &&
        posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), kAnswerFd) == 0 &&
        posix_spawn_file_actions_addclosefrom_np(&actions, kAnswerFd + 1) == 0 &&
        posix_spawn(&pid, argv[0], &actions, nullptr, argv, envp.data()) == 0;
    posix_spawn_file_actions_destroy(&actions);
    if (!started) {
        return std::nullopt;
    }
    writeEnd.reset();
    // The answer ends when the process's end of the pipe closes.
    std::string output;
    const auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        pollfd p{readEnd.get(), POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            kill(pid, SIGKILL);
            break;
        }
        char buffer[4096];
        const ssize_t n = read(readEnd.get(), buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        output.append(buffer, static_cast<size_t>(n));
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || output.empty() ||
        output[0] != kAnswerMark) {
        return std::nullopt;
    }
    return output.substr(1);
}

// --- NobodyJob --------------------------------------------------------------

bool NobodyJob::IsThisProcess() {
    return getenv(kJobNamespace) != nullptr;
}

std::optional<std::string> NobodyJob::Enter() {
    const char* ns = getenv(kJobNamespace);
    const char* argument = getenv(kJobArgument);
    if (ns == nullptr || argument == nullptr) {
        ADD_FAILURE() << "not started by Lab::RunAsNobody";
        return std::nullopt;
    }
    // A namespace joined by one thread alone would leave the others outside.
    size_t threads = 0;
    for ([[maybe_unused]] const auto& task :
         std::filesystem::directory_iterator("/proc/self/task")) {
        ++threads;
    }
    if (threads != 1) {
        ADD_FAILURE() << threads << " threads before the namespace was joined";
        return std::nullopt;
    }
    UniqueFd nsFd(open(("/run/netns/" + std::string(ns)).c_str(), O_RDONLY | O_CLOEXEC));
    struct stat wanted {};
    struct stat current {};
    // Leaving uid 0 for good clears every capability of the process.
    constexpr uid_t kNobody = 65534;
    if (!nsFd.valid() || setns(nsFd.get(), CLONE_NEWNET) != 0 || fstat(nsFd.get(), &wanted) != 0 ||
        stat("/proc/self/ns/net", &current) != 0 || wanted.st_ino != current.st_ino ||
        wanted.st_dev != current.st_dev || setgroups(0, nullptr) != 0 ||
        setresgid(kNobody, kNobody, kNobody) != 0 || setresuid(kNobody, kNobody, kNobody) != 0) {
        ADD_FAILURE() << "could not join " << ns << " as nobody: " << strerror(errno);
        return std::nullopt;
    }
    return std::string(argument);
}

void NobodyJob::Answer(const std::string& text) {
    const std::string marked = kAnswerMark + text;
    EXPECT_EQ(write(kAnswerFd, marked.data(), marked.size()), static_cast<ssize_t>(marked.size()));
    close(kAnswerFd);
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
