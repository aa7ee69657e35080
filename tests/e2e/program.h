#pragma once

#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

#include "support/temp_dir.h"

/// Changes to the environment of a started program: a value sets the
/// variable, nullopt removes it.
using EnvironmentChanges = std::map<std::string, std::optional<std::string>>;

/// How a program ended and what it printed.
struct ProgramResult {
    int exit_code = -1;  ///< -1 when it was killed by a signal
    int term_signal = 0; ///< the signal that killed it, or 0
    std::string out;
    std::string err;
};

/// The built program (or another executable) running in a child process,
/// its standard output and error going to files, its input from /dev/null.
class Program {
public:
    Program(const std::vector<std::string>& args, const EnvironmentChanges& environment,
            const std::string& executable = QUILLMOOR_BINARY);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    void send_signal(int signal_number);
    /// Waits for the end of the program.
    ProgramResult wait();

private:
    TempDir outputs_;
    pid_t pid_ = -1;
};

/// Runs the program to its end.
ProgramResult run_program(const std::vector<std::string>& args, const EnvironmentChanges& environment,
                          const std::string& executable = QUILLMOOR_BINARY);
