#include "platform/program_arguments.h"

#include <windows.h>

#include <shellapi.h>

#include <memory>

#include "platform/windows/wide_text.h"

namespace vorpane {

std::vector<std::string> ProgramArguments(int /*argc*/, char** /*argv*/) {
    struct LocalFreeDeleter {
        void operator()(LPWSTR* argv) const { LocalFree(argv); }
    };
    int count = 0;
    const std::unique_ptr<LPWSTR, LocalFreeDeleter> wide(
        CommandLineToArgvW(GetCommandLineW(), &count));
    std::vector<std::string> args;
    for (int i = 1; wide && i < count; ++i) {
        args.push_back(windows::WideToUtf8(wide.get()[i]));
    }
    return args;
}

}  // namespace vorpane
