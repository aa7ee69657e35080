#pragma once

#include "schedule/schedule_line.h"

#include <string>
#include <vector>

inline constexpr const char* schedule_file_name = "planifs.txt";

/// What loading found.
struct LoadReport {
    bool ok = true;    ///< false: the file exists but could not be read
    std::string error; ///< when !ok, in French, for the user
    /// What was repaired (blank lines skipped, short or long lines, lines past
    /// 200), in French, one sentence each, and a failed copy of the original.
    /// Empty for a sound file.
    std::vector<std::string> repairs;
    /// Where the file as it was has been copied before anything was repaired;
    /// empty when nothing needed repair or the copy failed.
    std::string backup_path;
};

/// Fills `table` from planifs.txt in `data_folder` (a path ending in "/").
/// The table is emptied first. A missing file is an empty schedule. A file
/// that needed repair is first copied beside itself, never over a file.
LoadReport load_schedule(const std::string& data_folder, ScheduleTable& table);

/// Rewrites planifs.txt in `data_folder` whole, atomically and readable by
/// its owner only. Returns "" on success, else the reason, in French.
std::string save_schedule(const std::string& data_folder, const ScheduleTable& table);

/// The bytes of planifs.txt for `table`: 40 quoted fields a line, CR LF.
std::string format_schedule(const ScheduleTable& table);
