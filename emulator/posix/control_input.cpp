// Signals are read from a descriptor next to standard input, so the main
// loop has one place to wait and the printer stops cleanly.

#include "emulator/control_input.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/unique_fd.h"

namespace vorpane {

namespace {

class SignalsAndStdin final : public ControlInput {
public:
    explicit SignalsAndStdin(UniqueFd signals) : m_signals(std::move(signals)) {}

    int64_t Read(char* buffer, size_t size) override {
        for (;;) {
            pollfd fds[2] = {{m_signals.get(), POLLIN, 0}, {m_stdinOpen ? 0 : -1, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return -1;
            }
            if (fds[0].revents != 0) {
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
    return {std::make_unique<SignalsAndStdin>(std::move(signals)), {}};
}

void MakeStandardInputBinary() {}

}  // namespace vorpane
