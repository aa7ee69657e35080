// The window program, which `quillmoor` starts when it is given no argument.

#include <curl/curl.h>

#include "app/headless_runner.h"
#include "app/window_main.h"

int main(int argc, char** argv) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    ignore_write_signals();
    const int status = run_window(argc, argv);
    curl_global_cleanup();
    return status;
}
