#include <sys/mman.h>

#include "platform/locked_pages.h"

namespace vorpane {

void* AllocLockedPages(uint32_t size) {
    void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) {
        return nullptr;
    }
    // RLIMIT_MEMLOCK often forbids locking a large file; the send works
    // unlocked all the same.
    (void)mlock(p, size);
    return p;
}

void FreeLockedPages(void* pointer, uint32_t size) {
    if (pointer == nullptr) {
        return;
    }
    (void)munlock(pointer, size);
    (void)munmap(pointer, size);
}

}  // namespace vorpane
