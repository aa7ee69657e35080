#pragma once

#include <string>
#include <string_view>
#include <sys/types.h>

/// How far a replacement must go before the rename.
enum class Durability { none, flush_to_disk };

/// Writes `bytes` to `path` through a temporary file in the same directory,
/// renamed into place, so that no reader ever sees a partial file under
/// `path` and a failure leaves the old file whole. The temporary file is
/// removed after any failure. With Durability::flush_to_disk the data and
/// the directory entry are flushed before and after the rename.
/// `mode` is the new file's permission bits (subject to the umask).
/// Returns "" on success, else a description of what failed.
std::string write_file_atomically(const std::string& path, std::string_view bytes, Durability durability,
                                  mode_t mode = 0644);

/// Writes every byte to the open file `fd`, going on after interruptions.
/// False, with errno set, when the system refuses.
bool write_all(int fd, std::string_view bytes);
