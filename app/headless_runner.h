#pragma once

#include <ctime>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "store/result.h"

class InternetTransfer;
struct DataFolder;

/// Exit statuses of the command line; a run stopped by a signal exits with
/// 128 + the signal's number (130 for SIGINT, 143 for SIGTERM).
namespace exit_status {
inline constexpr int ok = 0;
inline constexpr int failure = 1;    ///< the data folder, planifs.txt, the destination or the output cannot be used
inline constexpr int usage = 2;      ///< bad arguments, or no extraction of that title
inline constexpr int locked = 3;     ///< another process holds the data folder's lock
inline constexpr int incomplete = 4; ///< the start page could not be read, or an image could not be written
} // namespace exit_status

/// What the command line needs from the outside world. main gives it the
/// real ones; tests give their own folder, transfer, clock and signals.
struct CommandLineContext {
    std::ostream& out;
    std::ostream& err;
    /// Status texts then replace each other on one line instead of scrolling.
    bool out_is_terminal = false;
    /// Chooses and creates the data folder; only asked when a command needs it.
    std::function<Result<DataFolder>()> data_folder;
    std::function<std::unique_ptr<InternetTransfer>()> make_transfer;
    /// The local date and time, for the stamp of a run.
    std::function<std::tm()> now;
    /// The stop signal caught so far (SIGINT, SIGTERM), or 0.
    std::function<int()> stop_signal;
};

/// Carries out the arguments (without the program's name) and returns the
/// exit status: --run TITLE, --list, --journal [TITLE], --version, --help;
/// none prints the usage.
[[nodiscard]] int run_command_line(const std::vector<std::string>& args, const CommandLineContext& context);

/// Makes SIGINT and SIGTERM only record themselves, for caught_stop_signal();
/// a second signal of the same kind then ends the process at once.
void catch_stop_signals();

/// Makes a write fail instead of ending the process when the reader of a pipe
/// went away (quillmoor --run X | head -1: the run goes on without output) or
/// past a file-size limit (ulimit -f: like a full disk).
void ignore_write_signals();

/// The last stop signal caught, or 0.
int caught_stop_signal();
