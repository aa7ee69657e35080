#pragma once

#include <utility>
#include <unistd.h>

/// Owns a file descriptor and closes it when it goes, so that no way out of
/// a function leaks one. -1 is none.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

    /// Gives the descriptor up without closing it: the caller closes it, for
    /// instance to hear what close() says about data still being written.
    [[nodiscard]] int release() { return std::exchange(fd_, -1); }

    /// Closes the descriptor held, if any, and holds `fd` instead.
    void reset(int fd = -1) {
        if (fd_ >= 0 && fd_ != fd)
            ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};
