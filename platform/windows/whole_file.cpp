#include "platform/whole_file.h"

#include <windows.h>

#include <algorithm>
#include <limits>
#include <string>

#include "platform/windows/wide_text.h"

namespace vorpane {

namespace {

// Owns a file handle.
class FileHandle {
public:
    explicit FileHandle(HANDLE h) : m_handle(h) {}
    ~FileHandle() { Close(); }
    // Closes now; false when closing failed (a late write error).
    bool Close() {
        const bool ok = !Valid() || CloseHandle(m_handle) != 0;
        m_handle = INVALID_HANDLE_VALUE;
        return ok;
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
    if (whole.got == whole.length) {
        uint8_t more = 0;
        DWORD n = 0;
        whole.longer = ReadFile(file.get(), &more, 1, &n, nullptr) && n > 0;
    }
    whole.status = WholeFile::Status::kRead;
    return whole;
}

NewFile WriteNewFile(const std::string& path, const uint8_t* bytes, size_t size) {
    // CREATE_NEW fails on any name that exists, a symbolic link too.
    FileHandle file(CreateFileW(windows::Utf8ToWide(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        const DWORD error = GetLastError();
        return {error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS
                    ? NewFileStatus::kExists
                    : NewFileStatus::kFailed,
                static_cast<int>(error)};
    }
    size_t done = 0;
    while (done < size) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size - done, 1u << 30));
        DWORD n = 0;
        if (!WriteFile(file.get(), bytes + done, chunk, &n, nullptr) || n == 0) {
            const DWORD error = GetLastError();
            file.Close();
            DeleteFileW(windows::Utf8ToWide(path).c_str());
            return {NewFileStatus::kFailed,
                    static_cast<int>(error != 0 ? error : ERROR_WRITE_FAULT)};
        }
        done += n;
    }
    if (!file.Close()) {
        const DWORD error = GetLastError();
        DeleteFileW(windows::Utf8ToWide(path).c_str());
        return {NewFileStatus::kFailed, static_cast<int>(error)};
    }
    return {NewFileStatus::kWritten, 0};
}

int RenameFile(const std::string& from, const std::string& to) {
    // The C library's rename would read the names in the ANSI code page.
    if (MoveFileExW(windows::Utf8ToWide(from).c_str(), windows::Utf8ToWide(to).c_str(),
                    MOVEFILE_REPLACE_EXISTING)) {
        return 0;
    }
    return static_cast<int>(GetLastError());
}

bool RemoveFile(const std::string& path) {
    return DeleteFileW(windows::Utf8ToWide(path).c_str()) != 0;
}

uint64_t FileDiskBytes(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(windows::Utf8ToWide(path).c_str(), GetFileExInfoStandard, &data)) {
        return 0;
    }
    constexpr uint64_t kCluster = 4096;
    const uint64_t size = uint64_t{data.nFileSizeHigh} << 32 | data.nFileSizeLow;
    return (size + kCluster - 1) / kCluster * kCluster;
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
    return _wfopen(windows::Utf8ToWide(path).c_str(), windows::Utf8ToWide(mode).c_str());
}

std::string FileErrorText(int error) {
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring wide = n > 0 && text != nullptr ? std::wstring(text, n) : std::wstring();
    LocalFree(text);
    while (!wide.empty() && (wide.back() == L'\n' || wide.back() == L'\r' || wide.back() == L' ')) {
        wide.pop_back();
    }
    return wide.empty() ? "error " + std::to_string(error) : windows::WideToUtf8(wide);
}

}  // namespace vorpane
