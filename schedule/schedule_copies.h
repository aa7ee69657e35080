#pragma once

#include <string>

#include "store/result.h"

/// The names under which copies of planifs.txt are kept, beside it: "<path>.bak", then "<path>.bak-1" to
/// "<path>.bak-4".
inline constexpr int max_kept_copies = 5;
std::string copy_name(const std::string& path, int index);

/// Keeps a copy of the file at `path` as it is now, streamed, readable by its owner only. An existing copy with
/// the same bytes is enough; otherwise the first free copy name is taken, or, with all of them taken, the oldest
/// copy is replaced. Gives the copy's path; a failure leaves the existing copies as they were.
Result<std::string> keep_copy(const std::string& path);
