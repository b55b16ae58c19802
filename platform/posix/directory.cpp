#include "platform/directory.h"

#include <unistd.h>

namespace vorpane {

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

}  // namespace vorpane
