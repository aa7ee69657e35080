#include "store/destination.h"

#include <cerrno>
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

std::string prepare_destination(std::string_view destination) {
    if (std::string refusal = destination_refusal(destination); !refusal.empty())
        return refusal;
    const std::string path(destination);
    if (const int error = make_directories(path, 0777); error != 0)
        return "Le répertoire de destination " + quoted(destination) + " ne peut pas être créé (" + error_text(error) +
               ").";
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode))
        return "Le répertoire de destination " + quoted(destination) + " n'est pas un dossier.";
    if (::access(path.c_str(), W_OK | X_OK) != 0)
        return "Le répertoire de destination " + quoted(destination) + " n'est pas accessible en écriture (" +
               error_text(errno) + ").";
    return {};
}

} // namespace m_qmr
