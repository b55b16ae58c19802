// Fuzzes the privileged helper's argument grammar: the input, cut at NUL
// bytes, is the argument list. Whatever it accepts must be the one text form
// of what it asks (so no two texts name the same request), with the time-out
// in range; whatever it refuses must say why.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "net/echo_arp_request.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> args;
    if (size > 0) {
        args.emplace_back();
        for (size_t i = 0; i < size; ++i) {
            if (data[i] == 0) {
                args.emplace_back();
            } else {
                args.back().push_back(static_cast<char>(data[i]));
            }
        }
    }
    std::vector<const char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(arg.c_str());
    }
    const vorpane::HelperRequestOrRefusal parsed = vorpane::ParseHelperRequest(argv);
    if (!parsed.request) {
        if (parsed.refusal.empty()) {
            std::abort();
        }
        return 0;
    }
    const vorpane::HelperRequest& request = *parsed.request;
    const bool echo = request.operation == vorpane::HelperRequest::Operation::kEcho;
    if (vorpane::HelperArguments(request) != args ||
        (echo && (request.timeoutMs < 1 || request.timeoutMs > vorpane::kHelperMaxTimeoutMs)) ||
        (!echo && request.timeoutMs != 0)) {
        std::abort();
    }
    return 0;
}
