#pragma once
// The system half of LockedBuffer (posix/ or windows/).

#include <cstdint>

namespace vorpane {

// `size` bytes (more than 0) of zeroed read/write pages, locked where the
// system allows it; null when the memory cannot be had.
void* AllocLockedPages(uint32_t size);
// Unlocks and frees what AllocLockedPages gave; null is ignored.
void FreeLockedPages(void* pointer, uint32_t size);

}  // namespace vorpane
