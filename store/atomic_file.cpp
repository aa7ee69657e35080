#include "store/atomic_file.h"

#include <cerrno>
#include <chrono>
#include <random>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "store/error_text.h"

namespace {

// The temporary name is "." + a prefix of the target's name + "." + this many
// random characters. The prefix is cut so that the whole name stays within
// NAME_MAX (255) even when the target's own name uses all of it.
constexpr std::size_t random_length = 6;
constexpr std::size_t max_prefix_length = 200;
constexpr int max_attempts = 100;

Error<> described(const char* what, const std::string& path, int error) {
    return Error{std::string(what) + " « " + path + " » : " + error_text(error)};
}

std::string directory_of(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string name_of(const std::string& path) {
    return path.substr(path.find_last_of('/') + 1);
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
    const UniqueFd fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.valid())
        ::fsync(fd.get());
}

/// Writes every byte to the open file `fd`, going on after interruptions.
/// False, with errno set, when the system refuses.
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

} // namespace

std::string temporary_prefix(std::string_view file_name) {
    std::string prefix = ".";
    prefix += file_name.substr(0, max_prefix_length);
    return prefix += '.';
}

Result<void> TemporaryFile::create(const std::string& final_path, mode_t mode) {
    discard();
    const std::string name = name_of(final_path);
    if (name.empty())
        return described("impossible d'écrire", final_path, EISDIR);
    // open() with O_EXCL and the asked mode, rather than mkstemp's 0600 fixed
    // up afterwards: that would need the umask, which can only be read by
    // changing it for the whole process. O_NOFOLLOW with O_EXCL: a link
    // planted under the temporary name is never followed.
    const std::string prefix = directory_of(final_path) + "/" + temporary_prefix(name);
    for (int attempt = 0; attempt < max_attempts; ++attempt) {
        std::string candidate = prefix + random_suffix();
        fd_.reset(::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
        if (fd_.valid()) {
            path_ = std::move(candidate);
            write_error_ = 0;
            return {};
        }
        if (errno != EEXIST)
            return described("impossible de créer un fichier temporaire à côté de", final_path, errno);
    }
    return described("impossible de créer un fichier temporaire à côté de", final_path, EEXIST);
}

bool TemporaryFile::write(std::string_view bytes) {
    if (!fd_.valid() || write_error_ != 0)
        return false;
    if (write_all(fd_.get(), bytes))
        return true;
    write_error_ = errno;
    return false;
}

Result<void> TemporaryFile::commit(const std::string& final_path, Durability durability) {
    if (!fd_.valid())
        return described("impossible d'écrire", final_path, EBADF);
    int error = write_error_;
    if (error == 0 && durability == Durability::flush_to_disk && ::fsync(fd_.get()) != 0)
        error = errno;
    // close() reports what a network file system could not write.
    if (::close(fd_.release()) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(path_.c_str(), final_path.c_str()) != 0)
        error = errno;
    if (error != 0) {
        discard();
        return described("impossible d'écrire", final_path, error);
    }
    if (durability == Durability::flush_to_disk) {
        // The new entry, and the removal of the temporary one when it stood elsewhere.
        flush_directory(directory_of(final_path));
        if (directory_of(path_) != directory_of(final_path))
            flush_directory(directory_of(path_));
    }
    path_.clear();
    return {};
}

void TemporaryFile::discard() {
    fd_.reset();
    if (!path_.empty()) {
        ::unlink(path_.c_str());
        path_.clear();
    }
}

Result<void> write_file_atomically(const std::string& path, std::string_view bytes, Durability durability,
                                   mode_t mode) {
    TemporaryFile file;
    if (Result<void> created = file.create(path, mode); !created)
        return created;
    // A refused write is told by commit().
    file.write(bytes);
    return file.commit(path, durability);
}
