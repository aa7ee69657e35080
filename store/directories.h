#pragma once

#include <string>
#include <vector>
#include <sys/types.h>

/// Creates each level of the absolute `path` that does not exist yet, from
/// the left, with permission bits `mode` (before the umask), and appends the
/// levels it made to `created` when given. Returns 0, or the error number of
/// the level that could not be made.
int make_directories(const std::string& path, mode_t mode, std::vector<std::string>* created = nullptr);
