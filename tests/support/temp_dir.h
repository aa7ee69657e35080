#pragma once

#include <string>
#include <vector>

/// A fresh directory under the system's temporary folder, removed with all
/// its content when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
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
std::string read_file(const std::string& path);
/// Writes a file whole, creating it; throws on failure.
void write_file(const std::string& path, const std::string& bytes);
bool file_exists(const std::string& path);
/// The names in a directory, sorted, without "." and "..".
std::vector<std::string> list_directory(const std::string& path);
