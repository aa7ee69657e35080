#include "app/data_folder.h"

#include <cerrno>
#include <cstdlib>
#include <vector>

#include <unistd.h>

#include "store/directories.h"
#include "store/error_text.h"

namespace {

std::string with_slash(std::string path) {
    if (!path.empty() && path.back() != '/')
        path += '/';
    return path;
}

/// Whether this process can create files in the directory `path`.
Result<void> check_writable(const std::string& path) {
    if (access(path.c_str(), W_OK | X_OK) != 0)
        return Error{"le dossier " + path + " n'est pas accessible en écriture (" + error_text(errno) + ")"};
    return {};
}

} // namespace

DataFolderSources current_data_folder_sources() {
    DataFolderSources sources;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"))
        sources.xdg_data_home = xdg;
    sources.home = home_directory();
    std::vector<char> buffer(4096);
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length > 0 && static_cast<std::size_t>(length) < buffer.size()) {
        std::string executable(buffer.data(), static_cast<std::size_t>(length));
        const auto slash = executable.rfind('/');
        if (slash != std::string::npos)
            sources.program_folder = executable.substr(0, slash + 1);
    }
    return sources;
}

std::string user_data_root(const DataFolderSources& sources) {
    // A relative XDG_DATA_HOME is invalid and must be ignored.
    if (!sources.xdg_data_home.empty() && sources.xdg_data_home.front() == '/')
        return sources.xdg_data_home;
    if (!sources.home.empty())
        return with_slash(sources.home) + ".local/share";
    return {};
}

Result<void> prepare_folder(const std::string& path) {
    if (path.empty())
        return Error{"aucun dossier n'est connu"};
    // Each missing level is made, so that a fresh account without
    // ~/.local/share still gets its folder.
    if (const Result<void> made = make_directories(path, 0700); !made)
        return Error{"le dossier " + path + " ne peut pas être créé (" + made.error() + ")"};
    if (!is_directory(path))
        return Error{"le dossier " + path + " ne peut pas être créé (" + error_text(EEXIST) + ")"};
    return check_writable(path);
}

Result<DataFolder> choose_data_folder(const DataFolderSources& sources) {
    std::string user_problem;
    if (const std::string root = user_data_root(sources); !root.empty()) {
        const std::string standard = with_slash(root) + "Qmr";
        if (is_directory(standard)) {
            // Falling back from a folder that exists would hide the extractions
            // stored in it: the user must rather hear that it cannot be written.
            if (access(standard.c_str(), W_OK | X_OK) != 0)
                return Error{"Le dossier de données " + standard + " n'est pas accessible en écriture (" +
                             error_text(errno) + ")."};
            return DataFolder{standard + "/", false, {}};
        }
        const Result<void> prepared = prepare_folder(standard);
        if (prepared)
            return DataFolder{standard + "/", false, {}};
        user_problem = prepared.error();
    } else {
        user_problem = "ni XDG_DATA_HOME ni le dossier personnel ne sont connus";
    }
    if (sources.program_folder.empty())
        return Error{"Aucun dossier de données utilisable : " + user_problem +
                     ", et le dossier du programme est inconnu."};
    const std::string fallback = with_slash(sources.program_folder) + "qmrsetin";
    if (const Result<void> prepared = prepare_folder(fallback); !prepared)
        return Error{"Aucun dossier de données utilisable : " + user_problem + " ; " + prepared.error() + "."};
    const std::string path = fallback + "/";
    return DataFolder{path, true, "Quillmoor garde ses données dans " + path + " : " + user_problem + "."};
}
