#include "platform/directory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "platform/path_separators.h"

namespace vorpane {

const char kPreferredSeparator = '/';

bool IsPathSeparator(char ch) {
    return ch == '/';
}

std::string ReadCurrentDirectory() {
    char buf[kMaxPathBytes];
    // getcwd fails with ERANGE rather than truncating a longer path.
    if (getcwd(buf, sizeof buf) == nullptr) {
        return {};
    }
    return buf;
}

bool ChangeCurrentDirectory(const std::string& path) {
    return chdir(path.c_str()) == 0;
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int MakeDirectories(const std::string& path) {
    if (path.empty()) {
        return ENOENT;
    }
    if (mkdir(path.c_str(), 0777) == 0) {
        return 0;
    }
    const int error = errno;
    if (error == EEXIST) {
        return IsDirectory(path) ? 0 : ENOTDIR;
    }
    if (error != ENOENT) {
        return error;
    }
    // A folder above is missing: make it, then try again.
    std::string_view parent(path);
    while (!parent.empty() && parent.back() == '/') {
        parent.remove_suffix(1);
    }
    const size_t slash = parent.rfind('/');
    if (slash == std::string_view::npos || slash == 0) {
        return error;
    }
    if (const int above = MakeDirectories(std::string(parent.substr(0, slash))); above != 0) {
        return above;
    }
    if (mkdir(path.c_str(), 0777) == 0 || (errno == EEXIST && IsDirectory(path))) {
        return 0;
    }
    return errno;
}

int RemoveEmptyDirectory(const std::string& path) {
    return rmdir(path.c_str()) == 0 ? 0 : errno;
}

DirectoryListing ListDirectory(const std::string& path) {
    struct Closer {
        void operator()(DIR* d) const { closedir(d); }
    };
    DirectoryListing listing;
    const std::unique_ptr<DIR, Closer> dir(opendir(path.c_str()));
    if (!dir) {
        listing.error = errno;
        return listing;
    }
    errno = 0;
    while (const dirent* entry = readdir(dir.get())) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        struct stat st {};
        const bool regular =
            fstatat(dirfd(dir.get()), entry->d_name, &st, 0) == 0 && S_ISREG(st.st_mode);
        listing.entries.push_back({std::string(name), regular});
        errno = 0;
    }
    if (errno != 0) {
        listing.error = errno;
        listing.entries.clear();
    }
    return listing;
}

}  // namespace vorpane
