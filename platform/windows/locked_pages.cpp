#include <windows.h>

#include "platform/locked_pages.h"

namespace vorpane {

void* AllocLockedPages(uint32_t size) {
    void* p = VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (p == nullptr) {
        return nullptr;
    }
    // The working-set quota often forbids locking a large file; the send
    // works unlocked all the same.
    (void)VirtualLock(p, size);
    return p;
}

void FreeLockedPages(void* pointer, uint32_t size) {
    if (pointer == nullptr) {
        return;
    }
    (void)VirtualUnlock(pointer, size);
    VirtualFree(pointer, 0, MEM_RELEASE);
}

}  // namespace vorpane
