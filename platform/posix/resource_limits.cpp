#include "platform/resource_limits.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>

#include "platform/unique_fd.h"

namespace vorpane {

namespace {

constexpr int32_t kKernelNeighbourDefault = 1024;

int64_t Count(rlim_t value) {
    return value == RLIM_INFINITY ? INT64_MAX : static_cast<int64_t>(value);
}

}  // namespace

OpenFileLimit CurrentOpenFileLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return {0, errno};
    }
    return {Count(limit.rlim_cur), 0};
}

OpenFileLimit RaiseOpenFileLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return {0, errno};
    }
    if (limit.rlim_cur == limit.rlim_max) {
        return {Count(limit.rlim_cur), 0};
    }
    const rlim_t before = limit.rlim_cur;
    limit.rlim_cur = limit.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return {Count(before), errno};
    }
    return {Count(limit.rlim_cur), 0};
}

int32_t NeighbourTableSize() {
    const UniqueFd fd(open("/proc/sys/net/ipv4/neigh/default/gc_thresh3", O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) {
        return kKernelNeighbourDefault;
    }
    char text[24];
    const ssize_t got = read(fd.get(), text, sizeof text);
    int64_t value = 0;
    ssize_t i = 0;
    for (; i < got && text[i] >= '0' && text[i] <= '9' && value < INT32_MAX; ++i) {
        value = value * 10 + (text[i] - '0');
    }
    if (i == 0 || value <= 0 || value > INT32_MAX) {
        return kKernelNeighbourDefault;
    }
    return static_cast<int32_t>(value);
}

}  // namespace vorpane
