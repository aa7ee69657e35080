#include <iostream>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "net/curl_transfer.h"
#include "app/curl_global.h"
#include "app/data_folder.h"
#include "app/headless_runner.h"
#include "app/window_launcher.h"
#include "schedule/clock.h"

int main(int argc, char** argv) {
    const CurlGlobal curl;
    ignore_write_signals();

    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty())
        return open_window(current_data_folder_sources().program_folder, argv[0]);

    catch_stop_signals();
    const CommandLineContext context{
        std::cout,
        std::cerr,
        isatty(STDOUT_FILENO) == 1,
        [] { return choose_data_folder(current_data_folder_sources()); },
        [] { return std::make_unique<CurlTransfer>(); },
        [] { return SystemClock().now(); },
        caught_stop_signal,
    };
    return run_command_line(args, context);
}
