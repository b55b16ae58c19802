#include "lab_fixture.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/unique_fd.h"

extern char** environ;

namespace vorpane::lab {

namespace {

using Clock = std::chrono::steady_clock;

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

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

// --- LabProcess -------------------------------------------------------------

LabProcess::~LabProcess() {
    Stop();
    unlink(m_logPath.c_str());
}

std::string LabProcess::Output() const {
    return ReadFile(m_logPath);
}

bool LabProcess::WaitForOutput(std::string_view text, std::chrono::milliseconds deadline) const {
    const auto end = Clock::now() + deadline;
    for (;;) {
        if (Output().find(text) != std::string::npos) {
            return true;
        }
        siginfo_t info{};
        const bool exited = m_pid <= 0 || (waitid(P_PID, static_cast<id_t>(m_pid), &info,
                                                  WEXITED | WNOHANG | WNOWAIT) == 0 &&
                                           info.si_pid == m_pid);
        if (exited || Clock::now() >= end) {
            return Output().find(text) != std::string::npos;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::optional<int> LabProcess::WaitForExit(std::chrono::milliseconds deadline) {
    const auto end = Clock::now() + deadline;
    while (m_pid > 0) {
        int status = 0;
        const pid_t got = waitpid(m_pid, &status, WNOHANG);
        if (got > 0) {
            m_pid = -1;
            return status;
        }
        if (got < 0 && errno != EINTR) {
            m_pid = -1;  // not our child any more: nothing to wait for
            return std::nullopt;
        }
        if (Clock::now() >= end) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return std::nullopt;
}

void LabProcess::Stop() {
    if (m_pid <= 0) {
        return;
    }
    kill(m_pid, SIGTERM);
    if (WaitForExit(std::chrono::seconds(3)) || m_pid <= 0) {
        return;
    }
    kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}

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
    } else if (echo == EchoMode::kUnreachable) {
        args.insert(args.end(), {"--echo", std::string("unreach:") + VORPANE_LAB_ANSWERER});
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

bool Lab::AddNetbiosAnswerer(const std::string& name, int host) {
    std::string output;
    const bool ok =
        Script({"add-netbios", m_prefix, name, VORPANE_LAB_ANSWERER, std::to_string(host)},
               &output) == 0;
    if (!ok) {
        ADD_FAILURE() << "lab.sh add-netbios: " << output;
    }
    return ok;
}

bool Lab::SetPingGroupRange(const std::string& range) {
    return Script({"ping-group", m_prefix, range}) == 0;
}

std::optional<uint64_t> Lab::EchoRequestsSent() {
    std::string output;
    if (Script({"echo-count", m_prefix}, &output) != 0 || output.empty()) {
        return std::nullopt;
    }
    return std::stoull(output);
}

bool Lab::Ip(const std::string& name, const std::vector<std::string>& args) {
    std::vector<std::string> words{"ip", m_prefix, name};
    words.insert(words.end(), args.begin(), args.end());
    std::string output;
    const bool ok = Script(words, &output) == 0;
    if (!ok) {
        ADD_FAILURE() << "ip in " << name << ": " << output;
    }
    return ok;
}

std::unique_ptr<LabProcess> Lab::Start(const std::string& ns,
                                       const std::vector<std::string>& argv) {
    const std::string log =
        "/tmp/" + m_prefix + "-process-" + std::to_string(m_processCount++) + ".log";
    UniqueFd logFd(open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (!logFd.valid()) {
        return nullptr;
    }
    std::vector<std::string> words{"ip", "netns", "exec", ns};
    words.insert(words.end(), argv.begin(), argv.end());
    const pid_t pid = Spawn(std::move(words), logFd.get());
    if (pid < 0) {
        unlink(log.c_str());
        return nullptr;
    }
    return std::make_unique<LabProcess>(pid, log);
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

bool DropThreadCapabilities(std::initializer_list<int> capabilities) {
    __user_cap_header_struct header{};
    header.version = _LINUX_CAPABILITY_VERSION_3;
    header.pid = 0;  // the calling thread
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    if (syscall(SYS_capget, &header, data) != 0) {
        return false;
    }
    for (int capability : capabilities) {
        const uint32_t bit = 1u << (capability % 32);
        auto& word = data[capability / 32];
        word.effective &= ~bit;
        word.permitted &= ~bit;
        word.inheritable &= ~bit;
    }
    return syscall(SYS_capset, &header, data) == 0;
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
