// The handler may run on any thread, between any two instructions: it
// touches only a lock-free flag and an eventfd. The eventfd lives as long
// as the process, so a signal that lands while the owner goes writes to it
// and to nothing else; it stays readable from the request on (never read).

#include "platform/stop_request.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace vorpane {

namespace {

static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free);

std::atomic<bool> g_requested{false};
std::atomic<int> g_wake{-1};
std::atomic<bool> g_installed{false};
constexpr int kSignals[] = {SIGINT, SIGTERM};

void Wake() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_wake.load(), &one, sizeof one);
}

extern "C" void OnStopSignal(int /*signal*/) {
    const int saved = errno;
    g_requested.store(true);
    Wake();
    errno = saved;
}

}  // namespace

struct StopRequest::Saved {
    struct sigaction actions[std::size(kSignals)];
};

StopRequest::StopRequest(std::unique_ptr<Saved> saved) : m_saved(std::move(saved)) {}

StopRequest::Installed StopRequest::Install() {
    if (g_installed.exchange(true)) {
        return {nullptr, "the stop request is already taken"};
    }
    if (g_wake.load() < 0) {
        const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (fd < 0) {
            g_installed.store(false);
            return {nullptr, std::string("eventfd: ") + std::strerror(errno)};
        }
        g_wake.store(fd);
    }
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t drained = ::read(g_wake.load(), &count, sizeof count);
    g_requested.store(false);
    auto saved = std::make_unique<Saved>();
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // Other threads' calls go on where they can; the program looks at the
    // flag.
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < std::size(kSignals); ++i) {
        ::sigaction(kSignals[i], &action, &saved->actions[i]);
    }
    return {std::unique_ptr<StopRequest>(new StopRequest(std::move(saved))), {}};
}

StopRequest::~StopRequest() {
    for (size_t i = 0; i < std::size(kSignals); ++i) {
        ::sigaction(kSignals[i], &m_saved->actions[i], nullptr);
    }
    g_installed.store(false);
}

bool StopRequest::Wait(std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!Requested()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd wake{g_wake.load(), POLLIN, 0};
        ::poll(&wake, 1, static_cast<int>(std::min<int64_t>(left.count(), 1 << 30)));
    }
    return true;
}

void StopRequest::Request() {
    g_requested.store(true);
    Wake();
}

intptr_t StopRequest::Waitable() const {
    return g_wake.load();
}

const std::atomic<bool>& StopRequest::Flag() const {
    return g_requested;
}

}  // namespace vorpane
