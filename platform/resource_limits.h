#pragma once
// How many descriptors this process may open, and how many neighbour
// entries the system keeps: what bounds a sweep's window of connects.

#include <cstdint>

namespace vorpane {

struct OpenFileLimit {
    // Descriptors this process may hold now; 0 where the system has no
    // such limit per process (Windows).
    int64_t soft = 0;
    int error = 0;  // errno of a failed read or raise; `soft` is then what held before
};

// Raises the soft RLIMIT_NOFILE to the hard one and says what holds after.
OpenFileLimit RaiseOpenFileLimit();
// What holds now, unchanged.
OpenFileLimit CurrentOpenFileLimit();

// The most neighbour (ARP) entries the system holds at once: gc_thresh3.
// Linux keeps one table for every network namespace and shows the limit in
// the first namespace only; elsewhere this is the kernel's default, 1024.
// 0 where no such limit is known (Windows).
int32_t NeighbourTableSize();

}  // namespace vorpane
