#pragma once

#include <string>

/// An exclusive advisory lock (flock) on a file, so that two processes never
/// both rewrite planifs.txt. The lock goes with the object, or with the
/// process if it dies.
class InstanceLock {
public:
    enum class State {
        unlocked,       ///< not tried yet, or released
        held,           ///< this object holds the lock
        held_elsewhere, ///< another open file description holds it
        failed          ///< the lock file could not be opened or locked
    };

    /// The name of the lock file in the data folder.
    static constexpr const char* file_name = "verrou";

    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(InstanceLock&& other) noexcept;
    InstanceLock& operator=(InstanceLock&& other) noexcept;
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    /// Tries once, without waiting, to lock `path` (created, mode 0600, when
    /// missing). Releases any lock this object held before.
    State acquire(const std::string& path);
    /// Gives the lock up; nothing happens when none is held.
    void release();

    State state() const { return state_; }
    bool held() const { return state_ == State::held; }
    /// Why acquire failed (State::failed), in French.
    const std::string& error() const { return error_; }

private:
    int fd_ = -1;
    State state_ = State::unlocked;
    std::string error_;
};
