#include "store/file_lock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>

#include "store/error_text.h"

Result<UniqueFd, LockFailure> lock_file(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!fd.valid())
        return Error{"impossible d'ouvrir " + path + " (" + error_text(errno) + ")", LockFailure::failed};
    int result;
    do {
        result = ::flock(fd.get(), LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result == 0)
        return fd;
    if (errno == EWOULDBLOCK)
        return Error{"un autre programme tient le verrou " + path, LockFailure::held_elsewhere};
    return Error{"impossible de verrouiller " + path + " (" + error_text(errno) + ")", LockFailure::failed};
}
