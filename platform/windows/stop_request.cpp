// The console runs its control handler on a thread of its own; it raises the
// flag and signals an event that lives as long as the process, since the
// handler may still run while the owner goes or the process ends.

#include "platform/stop_request.h"

#include <windows.h>

#include <algorithm>
#include <string>

namespace vorpane {

namespace {

std::atomic<bool> g_requested{false};
std::atomic<bool> g_installed{false};

HANDLE WakeEvent() {
    static const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return event;
}

BOOL WINAPI OnConsoleControl(DWORD type) {
    switch (type) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
            g_requested.store(true);
            SetEvent(WakeEvent());
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

struct StopRequest::Saved {};

StopRequest::StopRequest(std::unique_ptr<Saved> saved) : m_saved(std::move(saved)) {}

StopRequest::Installed StopRequest::Install() {
    if (g_installed.exchange(true)) {
        return {nullptr, "the stop request is already taken"};
    }
    if (WakeEvent() == nullptr || !ResetEvent(WakeEvent()) ||
        !SetConsoleCtrlHandler(OnConsoleControl, TRUE)) {
        g_installed.store(false);
        return {nullptr, "stop request: error " + std::to_string(GetLastError())};
    }
    g_requested.store(false);
    return {std::unique_ptr<StopRequest>(new StopRequest(std::make_unique<Saved>())), {}};
}

StopRequest::~StopRequest() {
    SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    g_installed.store(false);
}

bool StopRequest::Wait(std::chrono::milliseconds timeout) const {
    const auto ms = std::min<int64_t>(timeout.count(), INFINITE - 1);
    return WaitForSingleObject(WakeEvent(), static_cast<DWORD>(ms < 0 ? 0 : ms)) == WAIT_OBJECT_0 ||
           Requested();
}

void StopRequest::Request() {
    g_requested.store(true);
    SetEvent(WakeEvent());
}

intptr_t StopRequest::Waitable() const {
    return reinterpret_cast<intptr_t>(WakeEvent());
}

const std::atomic<bool>& StopRequest::Flag() const {
    return g_requested;
}

}  // namespace vorpane
