#include "store/atomic_file.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The temporary name is "." + a prefix of the target's name + "." + this many
// random characters. The prefix is cut so that the whole name stays within
// NAME_MAX (255) even when the target's own name uses all of it.
constexpr std::size_t random_length = 6;
constexpr std::size_t max_prefix_length = 200;
constexpr int max_attempts = 100;

std::string describe(const char* what, const std::string& path, int error) {
    return std::string(what) + " " + path + ": " + std::strerror(error);
}

std::string directory_of(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string random_suffix() {
    static constexpr char alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::minstd_rand engine(
        static_cast<unsigned>(std::random_device{}()) ^ static_cast<unsigned>(::getpid()) ^
        static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::uniform_int_distribution<std::size_t> pick(0, sizeof alphabet - 2);
    std::string suffix(random_length, ' ');
    for (auto& c : suffix)
        c = alphabet[pick(engine)];
    return suffix;
}

void flush_directory(const std::string& directory) {
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

std::string write_file_atomically(const std::string& path, std::string_view bytes, Durability durability, mode_t mode) {
    const std::string directory = directory_of(path);
    const std::string name = path.substr(path.find_last_of('/') + 1);
    if (name.empty())
        return describe("cannot write", path, EISDIR);

    // The temporary name starts with a dot so that a file manager or a
    // wildcard in the destination does not pick it up while it is written.
    // open() with O_EXCL and the asked mode, rather than mkstemp's 0600 fixed
    // up afterwards: that would need the umask, which can only be read by
    // changing it for the whole process.
    const std::string prefix = directory + "/." + name.substr(0, max_prefix_length) + ".";
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0; ++attempt) {
        if (attempt == max_attempts)
            return describe("cannot create a temporary file beside", path, EEXIST);
        temporary = prefix + random_suffix();
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd < 0 && errno != EEXIST)
            return describe("cannot create a temporary file beside", path, errno);
    }

    auto fail = [&](const char* what, int error) {
        ::close(fd);
        ::unlink(temporary.c_str());
        return describe(what, path, error);
    };

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
