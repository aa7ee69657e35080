#pragma once

#include <string>

#include "store/result.h"

/// Where the per-user folder and the fallback folder come from. Kept apart
/// from the environment so that the choice can be made on any paths.
struct DataFolderSources {
    std::string xdg_data_home;  ///< $XDG_DATA_HOME, possibly empty
    std::string home;           ///< the user's home directory, possibly empty
    std::string program_folder; ///< the executable's folder, ending in "/", possibly empty
};

/// The folder chosen for planifs.txt and the lock. The caller shows the warning.
struct DataFolder {
    std::string path;      ///< ends in "/"
    bool fallback = false; ///< true when it is "qmrsetin/" beside the executable
    std::string warning;   ///< with the fallback: which folder is used and why, in French
};

/// The sources of this process: XDG_DATA_HOME and HOME from the environment
/// (HOME else the password database) and the folder of /proc/self/exe.
DataFolderSources current_data_folder_sources();

/// The user's data location without "Qmr": $XDG_DATA_HOME when it is an
/// absolute path, else home + "/.local/share"; "" when neither is known.
std::string user_data_root(const DataFolderSources& sources);

/// Chooses and creates (mode 0700) the data folder: "Qmr/" under the user's
/// data location, or "qmrsetin/" beside the executable, with a warning, only
/// when the first cannot be created at all. An existing "Qmr" that cannot be
/// written is an error: it may hold the user's extractions. A folder that
/// already exists keeps its permissions. The error says why no folder could
/// be used, in French, for the user.
Result<DataFolder> choose_data_folder(const DataFolderSources& sources);

/// Creates `path` and any missing parent with mode 0700, then checks that it
/// is a directory this process can write into. The error says why not, in
/// French.
Result<void> prepare_folder(const std::string& path);
