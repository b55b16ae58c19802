#pragma once
// Starting a thread as a value: no exception crosses the caller.

#include <functional>
#include <optional>
#include <thread>

namespace vorpane {

// Starts a thread running fn; nullopt when the system will not start one.
std::optional<std::thread> StartSystemThread(std::function<void()> fn);

// What starts threads for an owner that tests may hand a starter of their own.
using ThreadStarter = std::function<std::optional<std::thread>(std::function<void()>)>;

}  // namespace vorpane
