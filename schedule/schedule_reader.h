#pragma once

#include "schedule/schedule_line.h"
#include "store/result.h"

#include <string>
#include <vector>

/// Reads planifs.txt from the open file `fd` into `table`, which is emptied
/// first. The file is read in chunks and no line is held beyond a bound, so
/// that time stays linear and memory bounded whatever the file holds.
/// Blank lines are skipped silently. Each kind of damage found on a line (a
/// line too long, fields missing or in excess, a field too long, a carriage
/// return inside a field) and the lines beyond the 200th add one French
/// sentence to `repairs`. With `stop_at_first_repair`, reading ends at the
/// first such sentence and the table holds what was read so far. The error
/// is the system's reason, in French, for the caller's sentence.
Result<void> read_schedule(int fd, ScheduleTable& table, std::vector<std::string>& repairs, bool stop_at_first_repair);
