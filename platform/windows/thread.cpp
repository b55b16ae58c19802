#include <windows.h>

#include "platform/thread.h"

namespace vorpane {

void LowerCurrentThreadPriority() {
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
}

uint32_t CurrentProcessId() {
    return GetCurrentProcessId();
}

}  // namespace vorpane
