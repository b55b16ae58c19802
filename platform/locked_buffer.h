#pragma once
// Whole-file send buffers: anonymous pages, page-locked while they hold the
// file so the data is not paged out between the read and the send.

#include <cstdint>
#include <optional>

namespace vorpane {

// Owns `size` bytes of zeroed read/write memory, locked where the system
// allows it; a lock it refuses (limits) is not a failure.
class LockedBuffer {
public:
    // nullopt when the memory cannot be had. Size 0 gives an empty buffer
    // that maps nothing.
    static std::optional<LockedBuffer> Allocate(uint32_t size);

    LockedBuffer(LockedBuffer&& other) noexcept;
    LockedBuffer& operator=(LockedBuffer&& other) noexcept;
    LockedBuffer(const LockedBuffer&) = delete;
    LockedBuffer& operator=(const LockedBuffer&) = delete;
    ~LockedBuffer();

    uint8_t* Data() const { return static_cast<uint8_t*>(m_pointer); }
    uint32_t Size() const { return m_size; }

private:
    LockedBuffer(void* pointer, uint32_t size) : m_pointer(pointer), m_size(size) {}
    void Release();

    void* m_pointer = nullptr;
    uint32_t m_size = 0;
};

}  // namespace vorpane
