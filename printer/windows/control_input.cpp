// Standard input may be a console or a pipe, and neither can be waited for
// together with the stop request, so a reader thread hands its bytes over.

#include "printer/control_input.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h, which it needs.

#include <algorithm>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/stop_request.h"

namespace vorpane {

namespace {

struct HandleCloser {
    void operator()(HANDLE h) const { CloseHandle(h); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

// Shared with the reader thread, which may still sit in ReadFile when main
// returns: the process ends it then.
struct State {
    std::mutex mutex;
    std::string bytes;
    bool ended = false;
    HANDLE changed = CreateEventW(nullptr, FALSE, FALSE, nullptr);  // bytes came, or the end
};

State& Shared() {
    static State* state = new State;  // never destroyed: the reader may outlive main
    return *state;
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
            SetEvent(state.changed);
            return;
        }
        state.bytes.append(buffer, n);
        SetEvent(state.changed);
    }
}

class StopOrStdin final : public ControlInput {
public:
    explicit StopOrStdin(std::unique_ptr<StopRequest> stop) : m_stop(std::move(stop)) {}

    void RequestStop() override { m_stop->Request(); }

    int64_t Read(char* buffer, size_t size) override {
        State& state = Shared();
        for (;;) {
            if (m_stop->Requested()) {
                return -1;
            }
            {
                std::lock_guard lock(state.mutex);
                if (!state.bytes.empty()) {
                    const size_t n = std::min(size, state.bytes.size());
                    state.bytes.copy(buffer, n);
                    state.bytes.erase(0, n);
                    return static_cast<int64_t>(n);
                }
                if (state.ended && !m_endReported) {
                    m_endReported = true;
                    return 0;
                }
            }
            // The event stays set for bytes that came since the look above.
            const HANDLE waits[] = {reinterpret_cast<HANDLE>(m_stop->Waitable()), state.changed};
            WaitForMultipleObjects(2, waits, FALSE, INFINITE);
        }
    }

private:
    std::unique_ptr<StopRequest> m_stop;
    bool m_endReported = false;
};

}  // namespace

ControlInput::Opened ControlInput::Open() {
    StopRequest::Installed stop = StopRequest::Install();
    if (!stop.stop) {
        return {nullptr, stop.error};
    }
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (input == nullptr || input == INVALID_HANDLE_VALUE) {
        std::lock_guard lock(Shared().mutex);
        Shared().ended = true;
    } else {
        std::thread(ReadStandardInput, input).detach();
    }
    return {std::make_unique<StopOrStdin>(std::move(stop.stop)), {}};
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
