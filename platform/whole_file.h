#pragma once
// A whole file read into one page-locked buffer, for one send, and a whole
// file written under a name nobody else holds.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "platform/locked_buffer.h"

namespace vorpane {

struct WholeFile {
    enum class Status {
        kRead,      // `got` bytes are in `buffer` (fewer than `length` if the file shrank)
        kFailed,    // opening or reading failed with `error` (errno; last-error code on Windows)
        kTooLarge,  // over a signed 32-bit count, or no buffer that size
    };
    Status status = Status::kFailed;
    int error = 0;
    uint32_t length = 0;  // the size measured before reading
    uint32_t got = 0;
    // Bytes came after `length` of them: the file grew, or measures less
    // than it holds (a /proc file measures 0). They are not in `buffer`.
    bool longer = false;
    std::optional<LockedBuffer> buffer;
};

// Opens without blocking, so that a FIFO picked by mistake cannot hang the
// caller; a directory fails (EISDIR; on Windows ERROR_ACCESS_DENIED). The
// file is closed on return.
WholeFile ReadWholeFile(const std::string& path);

enum class NewFileStatus {
    kWritten,
    kExists,  // something is at `path` already, a symbolic link included
    kFailed,  // creating or writing failed with `error`; nothing is left at `path`
};
struct NewFile {
    NewFileStatus status = NewFileStatus::kFailed;
    int error = 0;  // errno; last-error code on Windows
};

// Creates `path` as a new file (mode 0644 on POSIX) and writes `bytes` to it.
// Whatever is at `path` already, a symbolic link to another file above all,
// is left alone and never followed.
NewFile WriteNewFile(const std::string& path, const uint8_t* bytes, size_t size);

// Puts the file at `from` (UTF-8, as all paths here) in the place of `to`,
// replacing what is there; 0 or the error (as for WriteNewFile).
int RenameFile(const std::string& from, const std::string& to);
// Removes a file; false when it could not.
bool RemoveFile(const std::string& path);

// What a file takes on its disk, whole blocks counted (st_blocks * 512 on
// POSIX; the size rounded up to 4 KiB clusters on Windows); 0 when there is
// no such file.
uint64_t FileDiskBytes(const std::string& path);

// The C library's fopen for a name in UTF-8 (on Windows its own fopen would
// read the name in the ANSI code page); null with errno set when it fails.
std::FILE* OpenFile(const std::string& path, const char* mode);

// The system's text for an error of WriteNewFile or RenameFile.
std::string FileErrorText(int error);

}  // namespace vorpane
