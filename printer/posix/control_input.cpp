// Signals are read from a descriptor next to standard input, so the main
// loop has one place to wait and the printer stops cleanly.

#include "printer/control_input.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/unique_fd.h"

namespace vorpane {

namespace {

class SignalsAndStdin final : public ControlInput {
public:
    SignalsAndStdin(UniqueFd signals, UniqueFd stop)
        : m_signals(std::move(signals)), m_stop(std::move(stop)) {}

    void RequestStop() override {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_stop.get(), &one, sizeof one);
    }

    int64_t Read(char* buffer, size_t size) override {
        for (;;) {
            pollfd fds[3] = {{m_signals.get(), POLLIN, 0},
                             {m_stdinOpen ? 0 : -1, POLLIN, 0},
                             {m_stop.get(), POLLIN, 0}};
            if (::poll(fds, 3, -1) < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return -1;
            }
            if (fds[0].revents != 0 || fds[2].revents != 0) {
                return -1;
            }
            if (fds[1].revents == 0) {
                continue;
            }
            const ssize_t n = ::read(0, buffer, size);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                m_stdinOpen = false;  // keep serving until a signal
                return 0;
            }
            return n;
        }
    }

private:
    UniqueFd m_signals;
    UniqueFd m_stop;
    bool m_stdinOpen = true;
};

}  // namespace

ControlInput::Opened ControlInput::Open() {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    // A client that drops the connection must not end the printer.
    ::signal(SIGPIPE, SIG_IGN);
    UniqueFd signals(::signalfd(-1, &stopSignals, SFD_CLOEXEC));
    if (!signals.valid()) {
        return {nullptr, std::string("signalfd: ") + std::strerror(errno)};
    }
    UniqueFd stop(::eventfd(0, EFD_CLOEXEC));
    if (!stop.valid()) {
        return {nullptr, std::string("eventfd: ") + std::strerror(errno)};
    }
    return {std::make_unique<SignalsAndStdin>(std::move(signals), std::move(stop)), {}};
}

int RunWindowProgram(int /*argc*/, char** argv) {
    // Beside the program itself, in the build tree as in the package.
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    std::string path = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string();
    path = path.substr(0, path.rfind('/') + 1) + "vorpane-printer-window";
    ::execv(path.c_str(), argv);
    const std::string error =
        "vorpane-printer: --window: cannot start " + path + ": " + std::strerror(errno) + "\n";
    [[maybe_unused]] const ssize_t w = ::write(2, error.data(), error.size());
    return 1;
}

void MakeStandardInputBinary() {}

}  // namespace vorpane
