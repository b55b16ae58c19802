#include <sys/resource.h>
#include <unistd.h>

#include "platform/thread.h"

namespace vorpane {

void LowerCurrentThreadPriority() {
    // Linux gives each thread its own nice value.
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 10);
}

uint64_t PeakResidentBytes() {
    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<uint64_t>(usage.ru_maxrss) * 1024;  // Linux counts kilobytes
}

uint32_t CurrentProcessId() {
    return static_cast<uint32_t>(::getpid());
}

}  // namespace vorpane
