// Standard input may be a console or a pipe, and neither can be waited for
// together with a stop request, so a reader thread hands its bytes over.

#include "printer/control_input.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h, which it needs.

#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vorpane {

namespace {

struct HandleCloser {
    void operator()(HANDLE h) const { CloseHandle(h); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

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
    void RequestStop() override {
        State& state = Shared();
        std::lock_guard lock(state.mutex);
        state.stop = true;
        state.changed.notify_all();
    }

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

int RunWindowProgram(int /*argc*/, char** /*argv*/) {
    // The window program gets this program's own command line, so that
    // arguments reach it as typed, in any code page.
    std::wstring path(MAX_PATH, L'\0');
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    path.resize(n);
    path = path.substr(0, path.rfind(L'\\') + 1) + L"vorpane-printer-window.exe";
    std::wstring commandLine = GetCommandLineW();
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        nullptr, &startup, &process)) {
        std::fprintf(
            stderr,
            "vorpane-printer: --window: cannot start vorpane-printer-window.exe (error %lu)\n",
            GetLastError());
        return 1;
    }
    const Handle thread(process.hThread);
    const Handle child(process.hProcess);
    WaitForSingleObject(child.get(), INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(child.get(), &code);
    return static_cast<int>(code);
}

void MakeStandardInputBinary() {
    _setmode(_fileno(stdin), _O_BINARY);
}

}  // namespace vorpane
