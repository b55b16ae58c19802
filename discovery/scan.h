#pragma once
// Fixed values of the subnet scan and the pieces of it that stand alone.

#include <cstdint>
#include <functional>
#include <optional>
#include <thread>

namespace vorpane {

// Host numbers 2..254 in blocks of 15, one worker per block: 17 workers,
// the last one covering 242..254.
inline constexpr int32_t kScanFirstHost = 2;
inline constexpr int32_t kScanBlockSize = 15;
inline constexpr int32_t kScanLastHost = 254;
inline constexpr int32_t kScanHostCount = kScanLastHost - kScanFirstHost + 1;
inline constexpr int32_t kScanWorkerCount = (kScanHostCount + kScanBlockSize - 1) / kScanBlockSize;
inline constexpr int32_t kScanProbeTimeoutMs = 500;

// Bar position after `hostsDone` hosts: hostsDone × 100 / 254 rounded to
// the nearest integer (the divisor is 254, not 253, so 253 hosts read 100).
int32_t ScanProgressPosition(int32_t hostsDone);

// Starts a thread running fn; nullopt when the system will not start one.
std::optional<std::thread> StartSystemThread(std::function<void()> fn);

}  // namespace vorpane
