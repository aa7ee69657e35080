#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

/// One line of /proc/self/mounts.
struct MountEntry {
    std::string mount_point; ///< with the \040-style escapes decoded
    std::string type;        ///< "ext4", "proc", "tmpfs" ...
    bool read_only = false;
};

/// What the drive list offers: the roots of the volumes to choose from.
using VolumeSource = std::function<std::vector<std::string>()>;

/// The entries of a mount table in the format of /proc/self/mounts; lines
/// that do not have at least four fields are skipped.
std::vector<MountEntry> parse_mounts(std::string_view text);

/// The roots the drive list shows: "/" first, then `home`, then the mounted
/// volumes that hold files (not the kernel's own or memory file systems, not
/// the system's folders), are mounted writable and pass `writable`, in the
/// order of the table, each once.
std::vector<std::string> choose_volumes(const std::vector<MountEntry>& mounts, const std::string& home,
                                        const std::function<bool(const std::string&)>& writable);

/// choose_volumes over this process's mount table, with access(2) as the test
/// of writability.
std::vector<std::string> mounted_volumes(const std::string& home);

/// The root among `volumes` that holds `path`: the longest one that is `path`
/// itself or one of its parent folders; "" when none does.
std::string volume_of(const std::string& path, const std::vector<std::string>& volumes);
