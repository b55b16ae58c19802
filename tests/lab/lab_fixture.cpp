#include "lab_fixture.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

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

std::optional<std::string> Lab::RunAsNobody(const std::string& ns,
                                            const std::function<std::string()>& fn,
                                            std::chrono::milliseconds deadline) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        return std::nullopt;
    }
    UniqueFd readEnd(ends[0]);
    UniqueFd writeEnd(ends[1]);
    UniqueFd nsFd(open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC));
    const pid_t pid = nsFd.valid() ? fork() : -1;
    if (pid < 0) {
        return std::nullopt;
    }
    if (pid == 0) {
        // Leaving uid 0 for good clears every capability of the process.
        constexpr uid_t kNobody = 65534;
        if (setns(nsFd.get(), CLONE_NEWNET) != 0 || setgroups(0, nullptr) != 0 ||
            setresgid(kNobody, kNobody, kNobody) != 0 ||
            setresuid(kNobody, kNobody, kNobody) != 0) {
            _exit(125);
        }
        const std::string out = fn();
        _exit(write(writeEnd.get(), out.data(), out.size()) == static_cast<ssize_t>(out.size())
                  ? 0
                  : 126);
    }
    writeEnd.reset();
    // The child's answer ends when its end of the pipe closes, at its exit.
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
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return std::nullopt;
    }
    return output;
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
