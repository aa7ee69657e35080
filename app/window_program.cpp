// The window program, which `quillmoor` starts when it is given no argument.

#include "app/curl_global.h"
#include "app/headless_runner.h"
#include "app/window_main.h"

int main(int argc, char** argv) {
    const CurlGlobal curl;
    ignore_write_signals();
    return run_window(argc, argv);
}
