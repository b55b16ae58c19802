#include "platform/thread.h"

#include <system_error>

namespace vorpane {

std::optional<std::thread> StartSystemThread(std::function<void()> fn) {
    try {
        return std::thread(std::move(fn));
    } catch (const std::system_error&) {
        return std::nullopt;
    }
}

}  // namespace vorpane
