#include "platform/whole_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>

#include "platform/unique_fd.h"

namespace vorpane {

namespace {

WholeFile Failed(int error) {
    WholeFile f;
    f.error = error;
    return f;
}

}  // namespace

WholeFile ReadWholeFile(const std::string& path) {
    UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid()) {
        return Failed(errno);
    }
    struct stat st {};
    if (fstat(fd.get(), &st) != 0) {
        return Failed(errno);
    }
    // A directory opens for reading here but is no file to send.
    if (S_ISDIR(st.st_mode)) {
        return Failed(EISDIR);
    }
    WholeFile file;
    if (st.st_size < 0 || st.st_size > std::numeric_limits<int32_t>::max()) {
        file.status = WholeFile::Status::kTooLarge;
        return file;
    }
    file.length = static_cast<uint32_t>(st.st_size);
    file.buffer = LockedBuffer::Allocate(file.length);
    if (!file.buffer) {
        file.status = WholeFile::Status::kTooLarge;
        return file;
    }
    while (file.got < file.length) {
        const ssize_t n = read(fd.get(), file.buffer->Data() + file.got, file.length - file.got);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Failed(errno);
        }
        if (n == 0) {
            break;  // the file shrank since it was measured
        }
        file.got += static_cast<uint32_t>(n);
    }
    if (file.got == file.length) {
        uint8_t more = 0;
        file.longer = read(fd.get(), &more, 1) > 0;
    }
    file.status = WholeFile::Status::kRead;
    return file;
}

NewFile WriteNewFile(const std::string& path, const uint8_t* bytes, size_t size) {
    // O_EXCL fails on any name that exists, a dangling link too, so a link
    // planted in a shared folder can never redirect the write.
    UniqueFd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!fd.valid()) {
        const int error = errno;
        return {error == EEXIST || error == ELOOP ? NewFileStatus::kExists : NewFileStatus::kFailed,
                error};
    }
    size_t done = 0;
    while (done < size) {
        const ssize_t n = write(fd.get(), bytes + done, size - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            const int error = n < 0 ? errno : EIO;
            unlink(path.c_str());
            return {NewFileStatus::kFailed, error};
        }
        done += static_cast<size_t>(n);
    }
    if (close(fd.release()) != 0) {
        const int error = errno;
        unlink(path.c_str());
        return {NewFileStatus::kFailed, error};
    }
    return {NewFileStatus::kWritten, 0};
}

int RenameFile(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

bool RemoveFile(const std::string& path) {
    return std::remove(path.c_str()) == 0;
}

uint64_t FileDiskBytes(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return 0;
    }
    return static_cast<uint64_t>(st.st_blocks) * 512;
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}

std::string FileErrorText(int error) {
    return std::strerror(error);
}

}  // namespace vorpane
