#include "platform/clock.h"

#include <windows.h>

namespace vorpane {

uint32_t SystemTickCountMs() {
    return GetTickCount();
}

void SystemSleepMs(uint32_t milliseconds) {
    Sleep(milliseconds);
}

std::tm LocalTimeAt(std::time_t t) {
    std::tm local{};
    localtime_s(&local, &t);
    return local;
}

std::tm SystemLocalTime() {
    return LocalTimeAt(std::time(nullptr));
}

}  // namespace vorpane
