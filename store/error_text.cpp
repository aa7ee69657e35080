#include "store/error_text.h"

#include <cerrno>
#include <cstring>

std::string error_text(int error_number) {
    switch (error_number) {
    case EACCES:
    case EPERM:
        return "accès refusé";
    case EROFS:
        return "système de fichiers en lecture seule";
    case ENOSPC:
    case EDQUOT:
        return "disque plein";
    case ENOENT:
        return "dossier ou fichier introuvable";
    case ENOTDIR:
        return "un élément du chemin n'est pas un dossier";
    case EISDIR:
        return "c'est un dossier";
    case EEXIST:
        return "un fichier de ce nom existe déjà";
    case ENAMETOOLONG:
        return "nom trop long";
    case EIO:
        return "erreur d'entrée-sortie du disque";
    case EFBIG:
        return "fichier trop grand";
    default:
        return std::strerror(error_number);
    }
}
