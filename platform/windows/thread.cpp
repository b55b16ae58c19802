#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>

#include "platform/thread.h"

namespace vorpane {

void LowerCurrentThreadPriority() {
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
}

uint64_t PeakResidentBytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
        return 0;
    }
    return counters.PeakWorkingSetSize;
}

uint32_t CurrentProcessId() {
    return GetCurrentProcessId();
}

}  // namespace vorpane
