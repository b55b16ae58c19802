#pragma once
// The characters that part the names of a path, which each side sets.

namespace vorpane {

// The one a joined path gets.
extern const char kPreferredSeparator;
// '/' on POSIX; '/', '\\' and a drive's ':' on Windows.
bool IsPathSeparator(char ch);

}  // namespace vorpane
