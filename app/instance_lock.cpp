#include "app/instance_lock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <utility>

#include "store/error_text.h"

InstanceLock::~InstanceLock() {
    release();
}

InstanceLock::InstanceLock(InstanceLock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), state_(std::exchange(other.state_, State::unlocked)),
      error_(std::move(other.error_)) {}

InstanceLock& InstanceLock::operator=(InstanceLock&& other) noexcept {
    if (this != &other) {
        release();
        fd_ = std::exchange(other.fd_, -1);
        state_ = std::exchange(other.state_, State::unlocked);
        error_ = std::move(other.error_);
    }
    return *this;
}

InstanceLock::State InstanceLock::acquire(const std::string& path) {
    release();
    error_.clear();
    // O_CLOEXEC: a child process must not inherit, and so keep, the lock.
    fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) {
        error_ = "impossible d'ouvrir " + path + " (" + error_text(errno) + ")";
        return state_ = State::failed;
    }
    int result;
    do {
        result = flock(fd_, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result == 0)
        return state_ = State::held;
    const int error_number = errno;
    close(fd_);
    fd_ = -1;
    if (error_number == EWOULDBLOCK)
        return state_ = State::held_elsewhere;
    error_ = "impossible de verrouiller " + path + " (" + error_text(error_number) + ")";
    return state_ = State::failed;
}

void InstanceLock::release() {
    if (fd_ >= 0) {
        // Closing the only descriptor drops the flock.
        close(fd_);
        fd_ = -1;
    }
    state_ = State::unlocked;
}
