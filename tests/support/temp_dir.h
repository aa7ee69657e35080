#pragma once

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

/// A fresh directory under the system's temporary folder, removed with all
/// its content when the object goes.
class TempDir {
public:
    TempDir() : path_((std::filesystem::temp_directory_path() / "quillmoor-test-XXXXXX").string()) {
        if (!::mkdtemp(path_.data()))
            throw std::runtime_error("mkdtemp failed");
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    /// The directory's path, without a final "/".
    const std::string& path() const { return path_; }
    /// path() + "/" + relative.
    std::string file(const std::string& relative) const { return path_ + "/" + relative; }

private:
    std::string path_;
};

/// The whole content of a file, or "" when it cannot be read.
inline std::string read_file(const std::string& path) {
    std::ostringstream content;
    content << std::ifstream(path, std::ios::binary).rdbuf();
    return content.str();
}

/// Writes a file whole, creating it; throws on failure.
inline void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

inline bool file_exists(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::exists(path, ignored);
}

/// The names in a directory, sorted, without "." and "..".
inline std::vector<std::string> list_directory(const std::string& path) {
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(path, ignored))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

/// Every file under `folder` by relative path, with its content ("-> target"
/// for a link), and every empty folder as "/".
inline std::map<std::string, std::string> files_under(const std::string& folder) {
    std::map<std::string, std::string> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (entry.is_directory() && !entry.is_symlink() && !std::filesystem::is_empty(entry.path()))
            continue;
        found[entry.path().lexically_relative(folder).string()] =
            entry.is_symlink()     ? "-> " + std::filesystem::read_symlink(entry.path()).string()
            : entry.is_directory() ? "/"
                                   : read_file(entry.path());
    }
    return found;
}
