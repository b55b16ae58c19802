#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_reader.h"
#include "platform/unique_fd.h"

namespace vorpane {

FileReader::Opened FileReader::Open(const std::string& path) {
    // Without blocking, so that a FIFO named by mistake cannot hang the caller.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid()) {
        return {std::nullopt, errno};
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        return {std::nullopt, errno};
    }
    if (S_ISDIR(st.st_mode)) {
        return {std::nullopt, EISDIR};
    }
    const uint64_t size = st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
    return {FileReader(fd.release(), size), 0};
}

size_t FileReader::ReadAt(uint64_t offset, uint8_t* out, size_t count) const {
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::pread(static_cast<int>(m_handle), out + done, count - done,
                                  static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        done += static_cast<size_t>(n);
    }
    return done;
}

void FileReader::Close() {
    UniqueFd(static_cast<int>(std::exchange(m_handle, kNone)));
}

}  // namespace vorpane
