#pragma once
// Starting a thread as a value (no exception crosses the caller), its
// priority, and the process it runs in.

#include <cstdint>
#include <functional>
#include <optional>
#include <thread>

namespace vorpane {

// Starts a thread running fn; nullopt when the system will not start one.
std::optional<std::thread> StartSystemThread(std::function<void()> fn);

// Makes the calling thread yield the processor to the process's other
// threads (for work that can wait, such as writing pictures).
void LowerCurrentThreadPriority();

// The calling process's identifier.
uint32_t CurrentProcessId();

// The most memory the calling process has held resident so far, in bytes.
uint64_t PeakResidentBytes();

// What starts threads for an owner that tests may hand a starter of their own.
using ThreadStarter = std::function<std::optional<std::thread>(std::function<void()>)>;

}  // namespace vorpane
