#include "platform/clock.h"

#include <time.h>

#include <chrono>
#include <thread>

namespace vorpane {

uint32_t SystemTickCountMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const uint64_t ms =
        static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

void SystemSleepMs(uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::tm LocalTimeAt(std::time_t t) {
    std::tm local{};
    localtime_r(&t, &local);
    return local;
}

std::tm SystemLocalTime() {
    return LocalTimeAt(std::time(nullptr));
}

}  // namespace vorpane
