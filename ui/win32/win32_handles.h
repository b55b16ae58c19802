#pragma once
// Move-only owners of Windows handles, each taken right after the call that
// made the handle.

#include "ui/win32/windows_api.h"

#include <utility>

namespace vorpane::win32 {

template <class Handle, auto Release>
class Unique {
public:
    Unique() = default;
    explicit Unique(Handle h) : m_handle(h) {}
    Unique(const Unique&) = delete;
    Unique& operator=(const Unique&) = delete;
    Unique(Unique&& other) noexcept : m_handle(std::exchange(other.m_handle, Handle{})) {}
    Unique& operator=(Unique&& other) noexcept {
        if (this != &other) {
            reset(std::exchange(other.m_handle, Handle{}));
        }
        return *this;
    }
    ~Unique() { reset(); }

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

inline void ReleaseIcon(HICON h) {
    DestroyIcon(h);
}
inline void ReleaseGdiObject(HGDIOBJ h) {
    DeleteObject(h);
}
inline void ReleaseDc(HDC h) {
    DeleteDC(h);
}
inline void ReleaseModule(HMODULE h) {
    FreeLibrary(h);
}
inline void ReleaseWindow(HWND h) {
    DestroyWindow(h);
}

using UniqueIcon = Unique<HICON, ReleaseIcon>;
using UniqueBitmap = Unique<HBITMAP, ReleaseGdiObject>;
using UniqueRegion = Unique<HRGN, ReleaseGdiObject>;
using UniqueMemoryDc = Unique<HDC, ReleaseDc>;
using UniqueModule = Unique<HMODULE, ReleaseModule>;
using UniqueWindow = Unique<HWND, ReleaseWindow>;

}  // namespace vorpane::win32
