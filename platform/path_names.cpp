#include <algorithm>

#include "platform/directory.h"
#include "platform/path_separators.h"

namespace vorpane {

namespace {

// Where the last name of `path` starts.
size_t LastNameStart(std::string_view path) {
    const auto last = std::find_if(path.rbegin(), path.rend(), IsPathSeparator);
    return static_cast<size_t>(path.rend() - last);
}

// Where the extension of `path` starts: its end when there is none.
size_t ExtensionStart(std::string_view path) {
    const size_t start = LastNameStart(path);
    const std::string_view name = path.substr(start);
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || name == "..") {
        return path.size();
    }
    return start + dot;
}

}  // namespace

std::string JoinPath(std::string_view dir, std::string_view name) {
    std::string path(dir);
    if (!path.empty() && !IsPathSeparator(path.back())) {
        path += kPreferredSeparator;
    }
    path += name;
    return path;
}

std::string_view PathStem(std::string_view path) {
    return path.substr(0, ExtensionStart(path));
}

std::string_view PathExtension(std::string_view path) {
    return path.substr(ExtensionStart(path));
}

}  // namespace vorpane
