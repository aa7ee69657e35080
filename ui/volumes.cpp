#include "ui/volumes.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <unistd.h>

namespace {

/// Splits one line on blanks.
std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> result;
    std::size_t at = 0;
    while (at < line.size()) {
        const std::size_t start = line.find_first_not_of(" \t", at);
        if (start == std::string_view::npos)
            break;
        const std::size_t end = std::min(line.find_first_of(" \t", start), line.size());
        result.push_back(line.substr(start, end - start));
        at = end;
    }
    return result;
}

bool is_octal(char c) {
    return c >= '0' && c <= '7';
}

/// The kernel writes a blank, a tab, a line break or a backslash of a path as
/// a backslash and three octal digits.
std::string unescape(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && is_octal(text[i + 1]) && is_octal(text[i + 2]) &&
            is_octal(text[i + 3])) {
            out += static_cast<char>((text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 + (text[i + 3] - '0'));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool has_option(std::string_view options, std::string_view wanted) {
    std::size_t at = 0;
    while (at <= options.size()) {
        const std::size_t comma = std::min(options.find(',', at), options.size());
        if (options.substr(at, comma - at) == wanted)
            return true;
        at = comma + 1;
    }
    return false;
}

/// File systems that hold no user's files: the kernel's views, memory-backed
/// scratch space, and the automounter's placeholders.
bool is_system_type(std::string_view type) {
    static constexpr std::array<std::string_view, 22> types{
        "proc",       "sysfs",   "devtmpfs",    "devpts", "tmpfs",    "ramfs",      "cgroup",    "cgroup2",
        "securityfs", "debugfs", "tracefs",     "pstore", "bpf",      "mqueue",     "hugetlbfs", "configfs",
        "fusectl",    "autofs",  "binfmt_misc", "nsfs",   "efivarfs", "rpc_pipefs",
    };
    return std::find(types.begin(), types.end(), type) != types.end();
}

bool is_under(std::string_view path, std::string_view folder) {
    if (folder == "/")
        return true;
    return path == folder || (path.starts_with(folder) && path.size() > folder.size() && path[folder.size()] == '/');
}

/// The system's own folders; removable media mounted by the desktop under
/// /run/media stay.
bool is_system_folder(std::string_view path) {
    if (is_under(path, "/run/media"))
        return false;
    static constexpr std::array<std::string_view, 10> folders{"/proc", "/sys", "/dev", "/run", "/boot",
                                                              "/snap", "/var", "/usr", "/etc", "/tmp"};
    return std::any_of(folders.begin(), folders.end(), [&](std::string_view f) { return is_under(path, f); });
}

} // namespace

std::vector<MountEntry> parse_mounts(std::string_view text) {
    std::vector<MountEntry> entries;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::vector<std::string_view> fields = words(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
        if (fields.size() < 4)
            continue;
        entries.push_back({unescape(fields[1]), std::string(fields[2]), has_option(fields[3], "ro")});
    }
    return entries;
}

std::vector<std::string> choose_volumes(const std::vector<MountEntry>& mounts, const std::string& home,
                                        const std::function<bool(const std::string&)>& writable) {
    std::vector<std::string> roots{"/"};
    auto add = [&](const std::string& root) {
        if (!root.empty() && std::find(roots.begin(), roots.end(), root) == roots.end())
            roots.push_back(root);
    };
    add(home);
    for (const MountEntry& mount : mounts) {
        if (mount.read_only || is_system_type(mount.type) || is_system_folder(mount.mount_point))
            continue;
        if (mount.mount_point.empty() || mount.mount_point.front() != '/' || !writable(mount.mount_point))
            continue;
        add(mount.mount_point);
    }
    return roots;
}

std::vector<std::string> mounted_volumes(const std::string& home) {
    // A mount table of a few hundred lines is usual; more is read no further.
    constexpr std::size_t max_bytes = 1u << 20;
    std::string text;
    if (std::ifstream file("/proc/self/mounts"); file) {
        std::array<char, 8192> buffer{};
        while (text.size() < max_bytes && file.read(buffer.data(), buffer.size()).gcount() > 0)
            text.append(buffer.data(), static_cast<std::size_t>(file.gcount()));
    }
    return choose_volumes(parse_mounts(text), home,
                          [](const std::string& path) { return ::access(path.c_str(), W_OK | X_OK) == 0; });
}

std::string volume_of(const std::string& path, const std::vector<std::string>& volumes) {
    std::string best;
    for (const std::string& root : volumes) {
        if (root.empty() || root.front() != '/')
            continue;
        const std::string folder = root.size() > 1 && root.back() == '/' ? root.substr(0, root.size() - 1) : root;
        if (path.starts_with('/') && is_under(path, folder) && folder.size() >= best.size())
            best = root;
    }
    return best;
}
