#include "store/atomic_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string describe(const char* what, const std::string& path, int error) {
    return std::string(what) + " " + path + ": " + std::strerror(error);
}

std::string directory_of(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

void flush_directory(const std::string& directory) {
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

std::string write_file_atomically(const std::string& path, std::string_view bytes, Durability durability,
                                  mode_t mode) {
    // The temporary name starts with a dot so that a file manager or a
    // wildcard in the destination does not pick it up while it is written.
    const std::string directory = directory_of(path);
    const std::string name = path.substr(path.find_last_of('/') + 1);
    std::string temporary = directory + "/." + name + ".XXXXXX";

    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return describe("cannot create a temporary file beside", path, errno);

    auto fail = [&](const char* what, int error) {
        ::close(fd);
        ::unlink(temporary.c_str());
        return describe(what, path, error);
    };

    // mkostemp creates the file with mode 0600; give it the mode asked for,
    // less the umask, as open() would have.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    if (::fchmod(fd, mode & ~mask) != 0)
        return fail("cannot set the permissions of", errno);
    if (!write_all(fd, bytes))
        return fail("cannot write", errno);
    if (durability == Durability::flush_to_disk && ::fsync(fd) != 0)
        return fail("cannot flush", errno);
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return describe("cannot write", path, error);
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return describe("cannot replace", path, error);
    }
    if (durability == Durability::flush_to_disk)
        flush_directory(directory);
    return {};
}
