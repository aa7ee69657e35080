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

std::string destination_refusal(std::string_view destination) {
    if (destination.find_first_not_of(' ') == std::string_view::npos)
        return "Aucun répertoire de destination n'est indiqué.";
    if (destination.find('\0') != std::string_view::npos)
        return "Le répertoire de destination " + quoted(destination) + " contient un caractère nul.";
    if (destination.front() != '/')
        return "Le répertoire de destination " + quoted(destination) + " n'est pas un chemin absolu.";
    return {};
}

PreparedDestination::PreparedDestination(std::string refusal, std::vector<std::string> created)
    : refusal_(std::move(refusal)), created_(std::move(created)) {}

PreparedDestination::~PreparedDestination() {
    // rmdir removes only an empty folder: one that holds an image stays, and
    // so do the levels above it.
    for (auto level = created_.rbegin(); level != created_.rend(); ++level)
        ::rmdir(level->c_str());
}

PreparedDestination prepare_destination(std::string_view destination) {
    if (std::string refusal = destination_refusal(destination); !refusal.empty())
        return {std::move(refusal), {}};
    const std::string path(destination);
    std::vector<std::string> created;
    if (const int error = make_directories(path, 0777, &created); error != 0)
        return {"Le répertoire de destination " + quoted(destination) + " ne peut pas être créé (" + error_text(error) +
                    ").",
                std::move(created)};
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode))
        return {"Le répertoire de destination " + quoted(destination) + " n'est pas un dossier.", std::move(created)};
    if (::access(path.c_str(), W_OK | X_OK) != 0)
        return {"Le répertoire de destination " + quoted(destination) + " n'est pas accessible en écriture (" +
                    error_text(errno) + ").",
                std::move(created)};
    return {{}, std::move(created)};
}

} // namespace m_qmr
