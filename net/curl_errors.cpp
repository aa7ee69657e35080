#include "net/curl_errors.h"

namespace {

const char* french_text(CURLcode code) {
    switch (code) {
    case CURLE_UNSUPPORTED_PROTOCOL:
        return "protocole non pris en charge";
    case CURLE_URL_MALFORMAT:
        return "adresse mal formée";
    case CURLE_COULDNT_RESOLVE_PROXY:
        return "nom du proxy inconnu";
    case CURLE_COULDNT_RESOLVE_HOST:
        return "nom de serveur inconnu";
    case CURLE_COULDNT_CONNECT:
        return "connexion impossible";
    case CURLE_WEIRD_SERVER_REPLY:
        return "réponse du serveur illisible";
    case CURLE_PARTIAL_FILE:
        return "réponse partielle : le serveur a coupé la connexion";
    case CURLE_OUT_OF_MEMORY:
        return "mémoire insuffisante";
    case CURLE_OPERATION_TIMEDOUT:
        return "délai dépassé";
    case CURLE_TOO_MANY_REDIRECTS:
        return "trop de redirections";
    case CURLE_GOT_NOTHING:
        return "le serveur n'a rien répondu";
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
        return "connexion interrompue";
    case CURLE_SSL_CONNECT_ERROR:
        return "échec de la connexion sécurisée";
    case CURLE_PEER_FAILED_VERIFICATION:
        return "certificat du serveur refusé";
    case CURLE_BAD_CONTENT_ENCODING:
        return "compression de la réponse illisible";
    default:
        return nullptr;
    }
}

} // namespace

std::string curl_error_text(CURLcode code, const char* detail) {
    if (const char* text = french_text(code))
        return text;
    std::string text = curl_easy_strerror(code);
    if (detail && *detail)
        text += std::string(": ") + detail;
    return text;
}
