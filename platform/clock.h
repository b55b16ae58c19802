#pragma once
// The system's clocks and sleep.

#include <cstdint>
#include <ctime>

namespace vorpane {

// The system's millisecond tick count, 32 bits wide: it wraps after about
// 49.7 days, so callers compare ticks by unsigned subtraction.
uint32_t SystemTickCountMs();

// Blocks the calling thread for about `milliseconds`.
void SystemSleepMs(uint32_t milliseconds);

// The local time now.
std::tm SystemLocalTime();
// The local time at `t`.
std::tm LocalTimeAt(std::time_t t);

}  // namespace vorpane
