#include "platform/whole_file.h"

#include <windows.h>

#include <limits>

#include "platform/windows/wide_text.h"

namespace vorpane {

namespace {

// Owns a file handle.
class FileHandle {
public:
    explicit FileHandle(HANDLE h) : m_handle(h) {}
    ~FileHandle() {
        if (Valid()) {
            CloseHandle(m_handle);
        }
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    bool Valid() const { return m_handle != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return m_handle; }

private:
    HANDLE m_handle;
};

WholeFile Failed(DWORD error) {
    WholeFile f;
    f.error = static_cast<int>(error);
    return f;
}

}  // namespace

WholeFile ReadWholeFile(const std::string& path) {
    // A directory does not open without backup semantics: access denied,
    // the code a Windows user knows for it.
    const FileHandle file(CreateFileW(windows::Utf8ToWide(path).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        return Failed(GetLastError());
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size)) {
        return Failed(GetLastError());
    }
    WholeFile whole;
    if (size.QuadPart > std::numeric_limits<int32_t>::max()) {
        whole.status = WholeFile::Status::kTooLarge;
        return whole;
    }
    whole.length = static_cast<uint32_t>(size.QuadPart);
    whole.buffer = LockedBuffer::Allocate(whole.length);
    if (!whole.buffer) {
        whole.status = WholeFile::Status::kTooLarge;
        return whole;
    }
    while (whole.got < whole.length) {
        DWORD n = 0;
        if (!ReadFile(file.get(), whole.buffer->Data() + whole.got, whole.length - whole.got, &n,
                      nullptr)) {
            return Failed(GetLastError());
        }
        if (n == 0) {
            break;  // the file shrank since it was measured
        }
        whole.got += n;
    }
    whole.status = WholeFile::Status::kRead;
    return whole;
}

}  // namespace vorpane
