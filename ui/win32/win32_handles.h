#pragma once
// Move-only owners of Windows handles, each taken right after the call that
// made the handle.

#include "ui/win32/windows_api.h"

#include "platform/windows/unique_handle.h"

namespace vorpane::win32 {

template <class Handle, auto Release>
using Unique = windows::UniqueHandle<Handle, Release>;

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
