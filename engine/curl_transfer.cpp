#include "engine/curl_transfer.h"
