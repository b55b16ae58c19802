#include <windows.h>

#include <algorithm>

#include "platform/file_reader.h"
#include "platform/windows/wide_text.h"

namespace vorpane {

FileReader::Opened FileReader::Open(const std::string& path) {
    // The C library and FreeType's own file code would read the name in the
    // ANSI code page; the wide call takes any name. A directory does not open
    // without backup semantics: access denied.
    const HANDLE file = CreateFileW(windows::Utf8ToWide(path).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return {std::nullopt, static_cast<int>(GetLastError())};
    }
    FileReader reader(reinterpret_cast<intptr_t>(file), 0);
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size)) {
        return {std::nullopt, static_cast<int>(GetLastError())};
    }
    reader.m_size = static_cast<uint64_t>(size.QuadPart);
    return {std::move(reader), 0};
}

size_t FileReader::ReadAt(uint64_t offset, uint8_t* out, size_t count) const {
    size_t done = 0;
    while (done < count) {
        // The offset rides in the OVERLAPPED of a synchronous read.
        OVERLAPPED at{};
        const uint64_t from = offset + done;
        at.Offset = static_cast<DWORD>(from);
        at.OffsetHigh = static_cast<DWORD>(from >> 32);
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(count - done, 1u << 30));
        DWORD n = 0;
        if (!ReadFile(reinterpret_cast<HANDLE>(m_handle), out + done, chunk, &n, &at) || n == 0) {
            break;
        }
        done += n;
    }
    return done;
}

void FileReader::Close() {
    const intptr_t handle = std::exchange(m_handle, kNone);
    if (handle != kNone) {
        CloseHandle(reinterpret_cast<HANDLE>(handle));
    }
}

}  // namespace vorpane
