#pragma once
// The system's request to stop the program: SIGINT or SIGTERM on POSIX;
// Ctrl+C, Ctrl+Break or the console closing on Windows. The handler only
// raises a flag and wakes whoever waits; the program stops in its own time.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace vorpane {

class StopRequest {
public:
    struct Installed;
    // Takes over the stop requests of the process, with no request yet, until
    // the owner goes (the earlier handling comes back then). One at a time.
    static Installed Install();
    ~StopRequest();
    StopRequest(const StopRequest&) = delete;
    StopRequest& operator=(const StopRequest&) = delete;

    // Any thread, from here on.
    bool Requested() const { return Flag().load(); }
    // True once a stop is requested, false when `timeout` passes first.
    bool Wait(std::chrono::milliseconds timeout) const;
    // As if the system had asked (a window was closed).
    void Request();
    // For a wait on several things at once: on POSIX a descriptor that is
    // readable, on Windows a manual-reset event that is signalled, from the
    // request on. Owned here.
    intptr_t Waitable() const;
    // For a loop that looks now and then.
    const std::atomic<bool>& Flag() const;

private:
    struct Saved;  // the handling it took over
    explicit StopRequest(std::unique_ptr<Saved> saved);
    std::unique_ptr<Saved> m_saved;
};

struct StopRequest::Installed {
    std::unique_ptr<StopRequest> stop;  // null on failure
    std::string error;
};

}  // namespace vorpane
