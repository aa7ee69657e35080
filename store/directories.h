#pragma once

#include <string>
#include <vector>
#include <sys/types.h>

#include "store/result.h"

/// Creates each level of the absolute `path` that does not exist yet, from
/// the left, with permission bits `mode` (before the umask), and appends the
/// levels it made to `created` when given. The error is the system's reason
/// for the level that could not be made, in French, for the caller's sentence.
Result<void> make_directories(const std::string& path, mode_t mode, std::vector<std::string>* created = nullptr);

/// The user's home directory: $HOME, else the one the password database
/// gives; "" when neither is known.
std::string home_directory();

/// True when `path` names a directory, or a link to one.
bool is_directory(const std::string& path);
