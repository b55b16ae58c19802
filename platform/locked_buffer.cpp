#include "platform/locked_buffer.h"

#include <utility>

#include "platform/locked_pages.h"

namespace vorpane {

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
