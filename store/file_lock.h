#pragma once

#include <string>

#include "store/result.h"
#include "store/unique_fd.h"

/// Why a file could not be locked.
enum class LockFailure {
    held_elsewhere, ///< another open file description holds the lock
    failed          ///< the file could not be opened or locked
};

/// Opens `path` (created, mode 0600, when missing) and takes an exclusive
/// advisory lock (flock) on it at once, without waiting. The lock lasts as
/// long as the descriptor returned, or the process. The descriptor is closed
/// on exec: a program started from here must not inherit, and so keep, the
/// lock. The error names the path, in French.
Result<UniqueFd, LockFailure> lock_file(const std::string& path);
