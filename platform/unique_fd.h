#pragma once
// Sole owner of one file descriptor: closes it when the owner goes, moves but
// never copies, so a descriptor cannot be closed twice or leaked on an early
// return.

#include <unistd.h>

#include <utility>

namespace vorpane {

class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : m_fd(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset(std::exchange(other.m_fd, -1));
        }
        return *this;
    }
    ~UniqueFd() { reset(); }

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    // Gives up ownership without closing.
    int release() { return std::exchange(m_fd, -1); }
    // Closes the current descriptor (if any) and takes fd.
    void reset(int fd = -1) {
        const int old = std::exchange(m_fd, fd);
        if (old >= 0) {
            ::close(old);
        }
    }

private:
    int m_fd;
};

}  // namespace vorpane
