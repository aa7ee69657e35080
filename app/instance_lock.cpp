#include "app/instance_lock.h"

#include <utility>

Result<void, LockFailure> InstanceLock::acquire(const std::string& path) {
    release();
    Result<UniqueFd, LockFailure> locked = lock_file(path);
    if (!locked)
        return Error{locked.error(), locked.kind()};
    fd_ = std::move(*locked);
    return {};
}
