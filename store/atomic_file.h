#pragma once

#include <string>
#include <string_view>
#include <sys/types.h>

#include "store/result.h"
#include "store/unique_fd.h"

/// How far a replacement must go before the rename.
enum class Durability { none, flush_to_disk };

/// A file written under a temporary name in the directory of its final path,
/// or in a directory above it on the same file system, then renamed into place
/// in one step, so that no reader ever sees a partial file under the final
/// name and a failure leaves the old file whole. The
/// temporary name starts with a dot, so that a file manager or a wildcard does
/// not pick it up while it is written. Removed unless committed.
class TemporaryFile {
public:
    TemporaryFile() = default;
    ~TemporaryFile() { discard(); }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    /// Creates the temporary file beside `final_path`, with permission bits
    /// `mode` (subject to the umask).
    Result<void> create(const std::string& final_path, mode_t mode);

    /// Appends bytes. False when the system refuses (a full disk, a size
    /// limit); the reason is kept, and commit() gives it: a caller may write
    /// on and hear of the failure once, at the end.
    bool write(std::string_view bytes);

    /// Flushes (as asked), closes and renames the file to `final_path`, which
    /// must lie on the same file system as the path given to create(): in its
    /// directory, or in one made under it since. On failure the temporary
    /// file is gone.
    Result<void> commit(const std::string& final_path, Durability durability);

    /// Closes and removes the temporary file, if there is one.
    void discard();

private:
    UniqueFd fd_;
    int write_error_ = 0;
    std::string path_;
};

/// Writes `bytes` to `path` through a TemporaryFile. With
/// Durability::flush_to_disk the data and the directory entry are flushed
/// before and after the rename. On failure the old file is untouched and no
/// temporary file is left.
Result<void> write_file_atomically(const std::string& path, std::string_view bytes, Durability durability,
                                   mode_t mode = 0644);

/// The name prefix of the temporary files made for `file_name`: "." + a
/// prefix of the name + ".", followed in each file by six random characters.
std::string temporary_prefix(std::string_view file_name);
