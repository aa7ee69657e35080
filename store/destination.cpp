#include "store/destination.h"

#include <cerrno>
#include <utility>
#include <sys/stat.h>
#include <unistd.h>

#include "store/directories.h"
#include "store/error_text.h"

namespace m_qmr {

namespace {

std::string quoted(std::string_view destination) {
    return "« " + std::string(destination) + " »";
}

} // namespace

Result<void> check_destination(std::string_view destination) {
    if (destination.find_first_not_of(' ') == std::string_view::npos)
        return Error{"Aucun répertoire de destination n'est indiqué."};
    if (destination.find('\0') != std::string_view::npos)
        return Error{"Le répertoire de destination " + quoted(destination) + " contient un caractère nul."};
    if (destination.front() != '/')
        return Error{"Le répertoire de destination " + quoted(destination) + " n'est pas un chemin absolu."};
    return {};
}

PreparedDestination::PreparedDestination(std::vector<std::string> created) : created_(std::move(created)) {}

PreparedDestination::PreparedDestination(PreparedDestination&& other) noexcept
    : created_(std::exchange(other.created_, {})) {}

PreparedDestination::~PreparedDestination() {
    // rmdir removes only an empty folder: one that holds an image stays, and
    // so do the levels above it.
    for (auto level = created_.rbegin(); level != created_.rend(); ++level)
        ::rmdir(level->c_str());
}

Result<PreparedDestination> prepare_destination(std::string_view destination) {
    if (Result<void> checked = check_destination(destination); !checked)
        return Error{checked.error()};
    const std::string path(destination);
    std::vector<std::string> created;
    const Result<void> made = make_directories(path, 0777, &created);
    // Whatever was made goes again with it when the destination is refused.
    PreparedDestination prepared(std::move(created));
    if (!made)
        return Error{"Le répertoire de destination " + quoted(destination) + " ne peut pas être créé (" + made.error() +
                     ")."};
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode))
        return Error{"Le répertoire de destination " + quoted(destination) + " n'est pas un dossier."};
    if (::access(path.c_str(), W_OK | X_OK) != 0)
        return Error{"Le répertoire de destination " + quoted(destination) + " n'est pas accessible en écriture (" +
                     error_text(errno) + ")."};
    return prepared;
}

} // namespace m_qmr
