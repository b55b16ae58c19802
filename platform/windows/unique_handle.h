#pragma once
// A move-only owner of a Windows handle, taken right after the call that
// made it; `Release` gives the handle back to the system, once.

#include <utility>

namespace vorpane::windows {

template <class Handle, auto Release>
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(Handle h) : m_handle(h) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept
        : m_handle(std::exchange(other.m_handle, Handle{})) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset(std::exchange(other.m_handle, Handle{}));
        }
        return *this;
    }
    ~UniqueHandle() { reset(); }

    Handle get() const { return m_handle; }
    explicit operator bool() const { return m_handle != Handle{}; }
    void reset(Handle h = Handle{}) {
        if (m_handle != Handle{}) {
            Release(m_handle);
        }
        m_handle = h;
    }
    Handle release() { return std::exchange(m_handle, Handle{}); }

private:
    Handle m_handle{};
};

}  // namespace vorpane::windows
