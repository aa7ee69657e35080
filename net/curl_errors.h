#pragma once

#include <string>

#include <curl/curl.h>

/// Why a fetch failed, in French, from libcurl's code: what the journal and
/// the user read after "réseau : ". A code without a French text keeps
/// libcurl's own words and `detail` (its error buffer), which say more than
/// nothing.
std::string curl_error_text(CURLcode code, const char* detail);
