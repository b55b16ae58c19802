#include "platform/clock.h"

#include <windows.h>

namespace vorpane {

uint32_t SystemTickCountMs() {
    return GetTickCount();
}

void SystemSleepMs(uint32_t milliseconds) {
    Sleep(milliseconds);
}

std::tm SystemLocalTime() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_s(&local, &now);
    return local;
}

}  // namespace vorpane
