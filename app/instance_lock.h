#pragma once

#include <string>

#include "store/file_lock.h"

/// An exclusive advisory lock (flock) on a file, so that two processes never
/// both rewrite planifs.txt. The lock goes with the object, or with the
/// process if it dies.
class InstanceLock {
public:
    /// The name of the lock file in the data folder.
    static constexpr const char* file_name = "verrou";

    /// Tries once, without waiting, to lock `path` (created, mode 0600, when
    /// missing). Releases any lock this object held before. The kind tells a
    /// lock held by another process from a file that cannot be locked.
    Result<void, LockFailure> acquire(const std::string& path);
    /// Gives the lock up; nothing happens when none is held.
    void release() { fd_.reset(); }

    bool held() const { return fd_.valid(); }

private:
    // Closing the only descriptor drops the flock.
    UniqueFd fd_;
};
