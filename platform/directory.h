#pragma once
// The process's current directory, folders and the names of paths. Paths
// are UTF-8, as all text here; Windows gets them as wide strings, so any
// name works whatever the ANSI code page.

#include <string>
#include <string_view>
#include <vector>

namespace vorpane {

// The longest directory path the application keeps, terminator included.
inline constexpr size_t kMaxPathBytes = 260;

// The current directory when it fits in kMaxPathBytes with its terminator,
// else empty.
std::string ReadCurrentDirectory();
// Makes `path` the current directory; false when that failed.
bool ChangeCurrentDirectory(const std::string& path);

// Makes the folder `path` and any missing folders above it: 0 when it is a
// folder now (one already there too), else the error (errno; last-error code
// on Windows), which FileErrorText words.
int MakeDirectories(const std::string& path);
// True when `path` is a folder, or a link to one.
bool IsDirectory(const std::string& path);
// Removes an empty folder: 0 or the error, as for MakeDirectories.
int RemoveEmptyDirectory(const std::string& path);

struct DirectoryEntry {
    std::string name;          // without the folder
    bool regularFile = false;  // a link counts as what it points to
};
struct DirectoryListing {
    std::vector<DirectoryEntry> entries;  // in no set order, without "." and ".."
    int error = 0;                        // as for MakeDirectories; no entries then
};
DirectoryListing ListDirectory(const std::string& path);

// `name` in the folder `dir`, with one separator between them (none after an
// empty `dir`).
std::string JoinPath(std::string_view dir, std::string_view name);
// `path` with its last name's extension (from its last '.', unless that
// starts the name) taken off; `extension` gives it back.
std::string_view PathStem(std::string_view path);
std::string_view PathExtension(std::string_view path);

}  // namespace vorpane
