// Standard input may be a console or a pipe, and neither can be waited for
// together with a stop request, so a reader thread hands its bytes over.

#include "emulator/control_input.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace vorpane {

namespace {

// Shared with the console's control handler and the reader thread, which
// may still sit in ReadFile when main returns: the process ends it then.
struct State {
    std::mutex mutex;
    std::condition_variable changed;
    std::string bytes;
    bool ended = false;
    bool stop = false;
};

State& Shared() {
    static State* state = new State;  // never destroyed: the handler may run at exit
    return *state;
}

BOOL WINAPI OnConsoleControl(DWORD type) {
    switch (type) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT: {
            State& state = Shared();
            std::lock_guard lock(state.mutex);
            state.stop = true;
            state.changed.notify_all();
            return TRUE;
        }
        default:
            return FALSE;
    }
}

void ReadStandardInput(HANDLE input) {
    State& state = Shared();
    char buffer[4096];
    for (;;) {
        DWORD n = 0;
        const bool ok = ReadFile(input, buffer, sizeof buffer, &n, nullptr) != 0;
        std::lock_guard lock(state.mutex);
        if (!ok || n == 0) {
            state.ended = true;
            state.changed.notify_all();
            return;
        }
        state.bytes.append(buffer, n);
        state.changed.notify_all();
    }
}

class ThreadedStdin final : public ControlInput {
public:
    int64_t Read(char* buffer, size_t size) override {
        State& state = Shared();
        std::unique_lock lock(state.mutex);
        state.changed.wait(lock, [&] {
            return state.stop || !state.bytes.empty() || (state.ended && !m_endReported);
        });
        if (state.stop) {
            return -1;
        }
        if (state.bytes.empty()) {
            m_endReported = true;
            return 0;
        }
        const size_t n = std::min(size, state.bytes.size());
        state.bytes.copy(buffer, n);
        state.bytes.erase(0, n);
        return static_cast<int64_t>(n);
    }

private:
    bool m_endReported = false;
};

}  // namespace

ControlInput::Opened ControlInput::Open() {
    if (!SetConsoleCtrlHandler(OnConsoleControl, TRUE)) {
        return {nullptr, "SetConsoleCtrlHandler failed: " + std::to_string(GetLastError())};
    }
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (input == nullptr || input == INVALID_HANDLE_VALUE) {
        std::lock_guard lock(Shared().mutex);
        Shared().ended = true;
    } else {
        std::thread(ReadStandardInput, input).detach();
    }
    return {std::make_unique<ThreadedStdin>(), {}};
}

void MakeStandardInputBinary() {
    _setmode(_fileno(stdin), _O_BINARY);
}

}  // namespace vorpane
