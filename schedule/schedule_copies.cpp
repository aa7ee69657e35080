#include "schedule/schedule_copies.h"

#include <cerrno>
#include <cstring>
#include <string_view>
#include <vector>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "store/atomic_file.h"
#include "store/error_text.h"
#include "store/unique_fd.h"

namespace {

constexpr std::size_t chunk_size = 65536;

/// Reads up to `size` bytes, fewer only at the end of the file; -1 on error.
ssize_t read_full(int fd, char* buffer, std::size_t size) {
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, buffer + got, size - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

/// Whether the file `name` holds the same bytes as the open file `source`.
/// Anything that cannot be read counts as different.
bool same_bytes(int source, const std::string& name) {
    const UniqueFd other(::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!other.valid() || ::lseek(source, 0, SEEK_SET) != 0)
        return false;
    std::vector<char> buffers(2 * chunk_size);
    for (;;) {
        const ssize_t a = read_full(source, buffers.data(), chunk_size);
        const ssize_t b = read_full(other.get(), buffers.data() + chunk_size, chunk_size);
        if (a < 0 || a != b || std::memcmp(buffers.data(), buffers.data() + chunk_size, static_cast<std::size_t>(a)))
            return false;
        if (a == 0)
            return true;
    }
}

bool modified_before(const struct stat& a, const struct stat& b) {
    if (a.st_mtim.tv_sec != b.st_mtim.tv_sec)
        return a.st_mtim.tv_sec < b.st_mtim.tv_sec;
    return a.st_mtim.tv_nsec < b.st_mtim.tv_nsec;
}

/// Copies the open file `source` into `target` through a temporary file named
/// as those of planifs.txt's saves, so that an interrupted copy is cleaned up
/// with them and never leaves a partial copy under a copy's name. Readable by
/// its owner only: the copy holds the passwords too.
Result<void> copy_into(int source, const std::string& path, const std::string& target) {
    TemporaryFile copy;
    if (Result<void> created = copy.create(path, 0600); !created)
        return created;
    if (::lseek(source, 0, SEEK_SET) != 0)
        return Error{error_text(errno)};
    std::vector<char> buffer(chunk_size);
    for (;;) {
        const ssize_t got = read_full(source, buffer.data(), buffer.size());
        if (got < 0)
            return Error{error_text(errno)};
        // A refused write is told by commit().
        if (got == 0 || !copy.write(std::string_view(buffer.data(), static_cast<std::size_t>(got))))
            break;
    }
    return copy.commit(target, Durability::flush_to_disk);
}

} // namespace

std::string copy_name(const std::string& path, int index) {
    std::string name = path + ".bak";
    if (index != 0)
        name += '-' + std::to_string(index);
    return name;
}

Result<std::string> keep_copy(const std::string& path) {
    const UniqueFd source(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat source_status {};
    if (!source.valid() || ::fstat(source.get(), &source_status) != 0)
        return Error{error_text(errno)};

    std::string free_name;
    std::string oldest_name;
    struct stat oldest {};
    for (int index = 0; index < max_kept_copies; ++index) {
        std::string name = copy_name(path, index);
        struct stat status {};
        if (::lstat(name.c_str(), &status) != 0) {
            if (errno != ENOENT)
                return Error{error_text(errno)};
            if (free_name.empty())
                free_name = name;
            continue;
        }
        // A folder or a link under a copy's name is not ours to replace.
        if (!S_ISREG(status.st_mode))
            continue;
        if (status.st_size == source_status.st_size && same_bytes(source.get(), name))
            return name;
        if (oldest_name.empty() || modified_before(status, oldest)) {
            oldest_name = name;
            oldest = status;
        }
    }
    std::string target = free_name.empty() ? oldest_name : free_name;
    if (target.empty())
        return Error{"aucun nom de copie libre"};
    if (Result<void> copied = copy_into(source.get(), path, target); !copied)
        return Error{copied.error()};
    return target;
}
