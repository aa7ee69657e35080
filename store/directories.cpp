#include "store/directories.h"

#include <cerrno>
#include <sys/stat.h>

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

bool is_directory(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}
