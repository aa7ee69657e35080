#include "store/directories.h"

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "store/error_text.h"

Result<void> make_directories(const std::string& path, mode_t mode, std::vector<std::string>* created) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string level = path.substr(0, slash);
        if (!level.empty()) {
            if (::mkdir(level.c_str(), mode) == 0) {
                if (created)
                    created->push_back(level);
            } else if (errno != EEXIST) {
                return Error{error_text(errno)};
            }
        }
        if (slash == std::string::npos)
            return {};
    }
}

std::string home_directory() {
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    const passwd* entry = ::getpwuid(::getuid());
    return entry && entry->pw_dir ? entry->pw_dir : "";
}

bool is_directory(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}
