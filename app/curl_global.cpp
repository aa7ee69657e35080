#include "app/curl_global.h"

#include <cstdlib>
#include <iostream>

#include <curl/curl.h>

#include "app/headless_runner.h"

CurlGlobal::CurlGlobal() {
    if (const CURLcode code = curl_global_init(CURL_GLOBAL_DEFAULT); code != CURLE_OK) {
        std::cerr << "quillmoor : la bibliothèque de transfert libcurl n'a pas pu être initialisée ("
                  << curl_easy_strerror(code) << ") ; aucune adresse ne peut être lue.\n";
        std::exit(exit_status::failure);
    }
}

CurlGlobal::~CurlGlobal() {
    curl_global_cleanup();
}
