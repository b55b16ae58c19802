#include "platform/locked_buffer.h"

#include <sys/mman.h>

#include <utility>

namespace vorpane {

namespace {

void* AllocLockedPages(uint32_t size) {
    if (size == 0) {
        return nullptr;
    }
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

}  // namespace

std::optional<LockedBuffer> LockedBuffer::Allocate(uint32_t size) {
    if (size == 0) {
        return LockedBuffer(nullptr, 0);
    }
    void* p = AllocLockedPages(size);
    if (p == nullptr) {
        return std::nullopt;
    }
    return LockedBuffer(p, size);
}

LockedBuffer::LockedBuffer(LockedBuffer&& other) noexcept
    : m_pointer(std::exchange(other.m_pointer, nullptr)), m_size(std::exchange(other.m_size, 0)) {}

LockedBuffer& LockedBuffer::operator=(LockedBuffer&& other) noexcept {
    if (this != &other) {
        Release();
        m_pointer = std::exchange(other.m_pointer, nullptr);
        m_size = std::exchange(other.m_size, 0);
    }
    return *this;
}

LockedBuffer::~LockedBuffer() {
    Release();
}

void LockedBuffer::Release() {
    FreeLockedPages(std::exchange(m_pointer, nullptr), std::exchange(m_size, 0));
}

}  // namespace vorpane
