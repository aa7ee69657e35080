#pragma once

#include "schedule/schedule_line.h"
#include "store/result.h"

#include <string>
#include <vector>

inline constexpr const char* schedule_file_name = "planifs.txt";

/// The longest field, in bytes of UTF-8, that planifs.txt keeps: longer than
/// any address or path the form takes. A longer field in the file is damage,
/// cut when loaded; save_schedule refuses one.
inline constexpr std::size_t max_field_length = 8192;

/// What loading found, and what the save that followed did about it.
struct LoadReport {
    /// What was repaired (short or long lines, fields too long, lines past
    /// 200), in French, one sentence each. Empty for a sound file. The file
    /// itself is left as it is: the first save keeps a copy of it first.
    std::vector<std::string> repairs;
    /// Set by save_schedule when given this report: where the file as it was
    /// has been copied before the save replaced it.
    std::string backup_path;
};

/// Fills `table` from planifs.txt in `data_folder` (a path ending in "/").
/// The table is emptied first. A missing file is an empty schedule. Writes
/// nothing, whatever the file holds. The error, for a file that exists but
/// cannot be read, is a sentence for the user; the table is then empty.
Result<LoadReport> load_schedule(const std::string& data_folder, ScheduleTable& table);

/// Rewrites planifs.txt in `data_folder` whole, atomically and readable by
/// its owner only. The error is a sentence for the user.
/// When the file on disk would not load as it stands (a load would repair it
/// or leave lines out), a copy of it is kept first ("planifs.txt.bak", then
/// ".bak-1" to ".bak-4"; an identical copy is enough, and with five the
/// oldest is replaced) and its path put in `report`'s backup_path when given;
/// no copy, no save. A field holding a line break or longer than max_field_length is
/// refused, and nothing is written.
Result<void> save_schedule(const std::string& data_folder, const ScheduleTable& table, LoadReport* report = nullptr);

/// The bytes of planifs.txt for `table`: 40 quoted fields a line, CR LF.
std::string format_schedule(const ScheduleTable& table);

/// Removes from `data_folder` the temporary files that saves of planifs.txt
/// interrupted before their rename left there (regular files named
/// ".planifs.txt." and six letters or digits), and nothing else. Call it only
/// while holding the data folder's lock, so that no save is under way.
/// Returns how many were removed.
int remove_leftover_save_files(const std::string& data_folder);
