#pragma once
// Talking to the virtual printer in tests: a loopback client over a real
// socket, and the vorpane-printer process with pipes on its standard streams
// (VORPANE_PRINTER_EXE names it).

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/unique_fd.h"
#include "printer_test_util.h"

extern char** environ;

namespace vorpane {

using namespace std::chrono_literals;
constexpr auto kWait = 5s;

inline sockaddr_in LoopbackAddress(uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

// A client that connects at once (blocking), or holds the connect's error;
// `from` is the loopback address it sends from.
struct Client {
    UniqueFd fd;
    int error = 0;

    explicit Client(uint16_t port, uint32_t from = INADDR_LOOPBACK)
        : fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        const timeval wait{std::chrono::seconds(kWait).count(), 0};
        ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        sockaddr_in source = LoopbackAddress(0);
        source.sin_addr.s_addr = htonl(from);
        const sockaddr_in addr = LoopbackAddress(port);
        const auto to = [](const sockaddr_in& a) { return reinterpret_cast<const sockaddr*>(&a); };
        error = ::bind(fd.get(), to(source), sizeof source) ||
                        ::connect(fd.get(), to(addr), sizeof addr)
                    ? errno
                    : 0;
    }
    void Send(const Bytes& b) {
        ASSERT_EQ(::send(fd.get(), b.data(), b.size(), MSG_NOSIGNAL), ssize_t(b.size()));
    }
    // The next byte; none once the printer closed or kWait passed.
    Bytes Receive() {
        uint8_t byte = 0;
        return ::recv(fd.get(), &byte, 1, 0) == 1 ? Bytes{byte} : Bytes{};
    }
};

// The next line from a pipe that starts with `prefix`, or nothing at the end
// or when the pipe stays silent for kWait.
inline std::optional<std::string> ReadLine(const UniqueFd& fd, std::string_view prefix = "") {
    std::string line;
    for (char c;;) {
        pollfd p{fd.get(), POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(std::chrono::milliseconds(kWait).count())) != 1 ||
            ::read(fd.get(), &c, 1) != 1) {
            return std::nullopt;
        }
        if (c == '\n' && line.starts_with(prefix)) {
            return line;
        }
        line = c == '\n' ? std::string() : line + c;
    }
}

// vorpane-printer with pipes on its standard streams: io[0] its input,
// io[1] its output, io[2] its errors.
struct PrinterProcess {
    explicit PrinterProcess(std::vector<std::string> args) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        int pipes[3][2];
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(::pipe2(pipes[i], O_CLOEXEC), 0);
            posix_spawn_file_actions_adddup2(&actions, pipes[i][i == 0 ? 0 : 1], i);
        }
        args.insert(args.begin(), VORPANE_PRINTER_EXE);
        std::vector<char*> argv;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        EXPECT_EQ(posix_spawn(&pid, VORPANE_PRINTER_EXE, &actions, nullptr, argv.data(), environ),
                  0);
        posix_spawn_file_actions_destroy(&actions);
        for (int i = 0; i < 3; ++i) {
            ::close(pipes[i][i == 0 ? 0 : 1]);
            io[i].reset(pipes[i][i == 0 ? 1 : 0]);
        }
    }
    ~PrinterProcess() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            Wait();
        }
    }
    void Write(const std::string& text) {
        EXPECT_EQ(::write(io[0].get(), text.data(), text.size()),
                  static_cast<ssize_t>(text.size()));
    }
    // The exit code once the process is gone; -1 when it did not exit.
    int Wait() {
        int status = 0;
        ::waitpid(std::exchange(pid, -1), &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    pid_t pid = -1;
    UniqueFd io[3];
};

}  // namespace vorpane
