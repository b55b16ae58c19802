#include "platform/directory.h"

#include <windows.h>

#include "platform/path_separators.h"
#include "platform/windows/unique_handle.h"
#include "platform/windows/wide_text.h"

namespace vorpane {

namespace {

void CloseFind(HANDLE h) {
    FindClose(h);
}
using FindHandle = windows::UniqueHandle<HANDLE, CloseFind>;

}  // namespace

const char kPreferredSeparator = '\\';

bool IsPathSeparator(char ch) {
    return ch == '\\' || ch == '/' || ch == ':';
}

std::string ReadCurrentDirectory() {
    wchar_t buf[kMaxPathBytes];
    // A longer path is not written; the call answers with the size it needs.
    const DWORD n = GetCurrentDirectoryW(kMaxPathBytes, buf);
    if (n == 0 || n >= kMaxPathBytes) {
        return {};
    }
    return windows::WideToUtf8({buf, n});
}

bool ChangeCurrentDirectory(const std::string& path) {
    return SetCurrentDirectoryW(windows::Utf8ToWide(path).c_str()) != 0;
}

bool IsDirectory(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(windows::Utf8ToWide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

int MakeDirectories(const std::string& path) {
    if (path.empty()) {
        return ERROR_PATH_NOT_FOUND;
    }
    if (CreateDirectoryW(windows::Utf8ToWide(path).c_str(), nullptr)) {
        return 0;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS) {
        return IsDirectory(path) ? 0 : ERROR_DIRECTORY;
    }
    if (error != ERROR_PATH_NOT_FOUND) {
        return static_cast<int>(error);
    }
    // A folder above is missing: make it, then try again.
    std::string_view parent(path);
    while (!parent.empty() && (parent.back() == '\\' || parent.back() == '/')) {
        parent.remove_suffix(1);
    }
    const size_t slash = parent.find_last_of("\\/");
    if (slash == std::string_view::npos || slash == 0 || parent[slash - 1] == ':') {
        return static_cast<int>(error);
    }
    if (const int above = MakeDirectories(std::string(parent.substr(0, slash))); above != 0) {
        return above;
    }
    if (CreateDirectoryW(windows::Utf8ToWide(path).c_str(), nullptr)) {
        return 0;
    }
    const DWORD again = GetLastError();
    return again == ERROR_ALREADY_EXISTS && IsDirectory(path) ? 0 : static_cast<int>(again);
}

int RemoveEmptyDirectory(const std::string& path) {
    return RemoveDirectoryW(windows::Utf8ToWide(path).c_str()) ? 0
                                                               : static_cast<int>(GetLastError());
}

DirectoryListing ListDirectory(const std::string& path) {
    DirectoryListing listing;
    WIN32_FIND_DATAW found{};
    const HANDLE first = FindFirstFileW(windows::Utf8ToWide(JoinPath(path, "*")).c_str(), &found);
    if (first == INVALID_HANDLE_VALUE) {
        listing.error = static_cast<int>(GetLastError());
        return listing;
    }
    const FindHandle find(first);
    do {
        const std::string name = windows::WideToUtf8(found.cFileName);
        if (name == "." || name == "..") {
            continue;
        }
        listing.entries.push_back({name, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0});
    } while (FindNextFileW(find.get(), &found));
    if (const DWORD error = GetLastError(); error != ERROR_NO_MORE_FILES) {
        listing.error = static_cast<int>(error);
        listing.entries.clear();
    }
    return listing;
}

}  // namespace vorpane
