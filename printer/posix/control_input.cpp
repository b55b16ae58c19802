// Standard input and the stop request are waited for together, so the main
// loop has one place to wait and the printer stops cleanly.

#include "printer/control_input.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/stop_request.h"

namespace vorpane {

namespace {

class StopOrStdin final : public ControlInput {
public:
    explicit StopOrStdin(std::unique_ptr<StopRequest> stop) : m_stop(std::move(stop)) {}

    void RequestStop() override { m_stop->Request(); }

    int64_t Read(char* buffer, size_t size) override {
        for (;;) {
            pollfd fds[2] = {{static_cast<int>(m_stop->Waitable()), POLLIN, 0},
                             {m_stdinOpen ? 0 : -1, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0 && errno != EINTR) {
                return -1;
            }
            if (m_stop->Requested()) {
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
                m_stdinOpen = false;  // keep serving until a stop
                return 0;
            }
            return n;
        }
    }

private:
    std::unique_ptr<StopRequest> m_stop;
    bool m_stdinOpen = true;
};

}  // namespace

ControlInput::Opened ControlInput::Open() {
    // A client that drops the connection must not end the printer.
    ::signal(SIGPIPE, SIG_IGN);
    StopRequest::Installed stop = StopRequest::Install();
    if (!stop.stop) {
        return {nullptr, stop.error};
    }
    return {std::make_unique<StopOrStdin>(std::move(stop.stop)), {}};
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
