#pragma once
// The process's current directory.

#include <string>

namespace vorpane {

// The longest directory path the application keeps, terminator included.
inline constexpr size_t kMaxPathBytes = 260;

// The current directory when it fits in kMaxPathBytes with its terminator,
// else empty.
std::string ReadCurrentDirectory();
// Makes `path` the current directory; false when that failed.
bool ChangeCurrentDirectory(const std::string& path);

}  // namespace vorpane
