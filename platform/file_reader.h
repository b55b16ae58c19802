#pragma once
// A file held open for reads at any offset, for a reader that wants parts of
// a large file as it goes rather than all of it at once (a font of many
// megabytes, of which a receipt needs a few glyphs).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace vorpane {

class FileReader {
public:
    struct Opened;
    // Opens `path` (UTF-8, as all paths here; wide on Windows, so any name
    // opens whatever the ANSI code page) and measures it. A directory fails
    // (EISDIR; on Windows ERROR_ACCESS_DENIED).
    static Opened Open(const std::string& path);

    FileReader(FileReader&& other) noexcept
        : m_handle(std::exchange(other.m_handle, kNone)), m_size(other.m_size) {}
    FileReader& operator=(FileReader&& other) noexcept {
        if (this != &other) {
            Close();
            m_handle = std::exchange(other.m_handle, kNone);
            m_size = other.m_size;
        }
        return *this;
    }
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;
    ~FileReader() { Close(); }

    // The size measured when the file was opened.
    uint64_t Size() const { return m_size; }
    // Reads up to `count` bytes at `offset` into `out` and returns how many
    // it read: fewer at the end of the file or when reading failed. Keeps no
    // position, so readers of one file do not disturb each other.
    size_t ReadAt(uint64_t offset, uint8_t* out, size_t count) const;

private:
    // A descriptor on POSIX, a HANDLE on Windows; both systems' "none" is -1.
    static constexpr intptr_t kNone = -1;
    FileReader(intptr_t handle, uint64_t size) : m_handle(handle), m_size(size) {}
    void Close();

    intptr_t m_handle;
    uint64_t m_size;
};

struct FileReader::Opened {
    std::optional<FileReader> file;  // empty on failure
    int error = 0;                   // errno; last-error code on Windows
};

}  // namespace vorpane
