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

namespace {

constexpr std::size_t chunk_size = 65536;

/// Closes a file descriptor when it goes.
class OpenFile {
public:
    explicit OpenFile(int fd) : fd_(fd) {}
    ~OpenFile() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

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
    const OpenFile other(::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (other.get() < 0 || ::lseek(source, 0, SEEK_SET) != 0)
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
/// its owner only: the copy holds the passwords too. "" or why it failed.
std::string copy_into(int source, const std::string& path, const std::string& target) {
    TemporaryFile copy;
    if (std::string failure = copy.create(path, 0600); !failure.empty())
        return failure;
    if (::lseek(source, 0, SEEK_SET) != 0)
        return error_text(errno);
    std::vector<char> buffer(chunk_size);
    for (;;) {
        const ssize_t got = read_full(source, buffer.data(), buffer.size());
        if (got < 0)
            return error_text(errno);
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

std::string keep_copy(const std::string& path, std::string& copy_path) {
    const OpenFile source(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat source_status {};
    if (source.get() < 0 || ::fstat(source.get(), &source_status) != 0)
        return error_text(errno);

    std::string free_name;
    std::string oldest_name;
    struct stat oldest {};
    for (int index = 0; index < max_kept_copies; ++index) {
        const std::string name = copy_name(path, index);
        struct stat status {};
        if (::lstat(name.c_str(), &status) != 0) {
            if (errno != ENOENT)
                return error_text(errno);
            if (free_name.empty())
                free_name = name;
            continue;
        }
        // A folder or a link under a copy's name is not ours to replace.
        if (!S_ISREG(status.st_mode))
            continue;
        if (status.st_size == source_status.st_size && same_bytes(source.get(), name)) {
            copy_path = name;
            return {};
        }
        if (oldest_name.empty() || modified_before(status, oldest)) {
            oldest_name = name;
            oldest = status;
        }
    }
    const std::string& target = free_name.empty() ? oldest_name : free_name;
    if (target.empty())
        return "aucun nom de copie libre";
    if (std::string failure = copy_into(source.get(), path, target); !failure.empty())
        return failure;
    copy_path = target;
    return {};
}
