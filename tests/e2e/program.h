#pragma once

#include <ctime>
#include <fcntl.h>
#include <functional>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>

#include "support/temp_dir.h"

/// A line of planifs.txt as written by hand: its 40 fields quoted, commas, CR LF. Flat, on demand, the
/// other fields as the form leaves them.
struct StoredLine {
    std::string title, address, depth, destination, kind = "0", date = "2007/05/14", time = "08:45";
    std::string text() const {
        const std::string fields[]{title, address, depth, "",  "",  "2", destination, "1", kind, "2",
                                   "8",   "0",     "0",   "1", "1", "1", "1",         "1", "0",  "0",
                                   "",    "*",     "",    "*", "",  "*", "",          "*", "",   "",
                                   "",    "*",     "",    "*", "",  "*", "",          "*", date, time};
        std::string line;
        for (const auto& field : fields)
            line += (line.empty() ? "\"" : ",\"") + field + "\"";
        return line + "\r\n";
    }
};

inline std::string stamp_now() {
    char text[32];
    const std::time_t now = std::time(nullptr);
    return {text, std::strftime(text, sizeof text, "%Y/%m/%d %H:%M", std::localtime(&now))};
}

/// Runs through env(1) `command` (settings "NAME=value" or "--unset=NAME", then the program) with `args`, no
/// proxy between it and 127.0.0.1. `started` gets the child's id, which env hands on to the program. Gives
/// how it ended (minus the signal when one killed it) and what it printed.
inline std::tuple<int, std::string, std::string> run_program(
    const std::vector<std::string>& args, std::vector<std::string> command,
    const std::function<void(pid_t)>& started = [](pid_t) {}) {
    command.insert(command.end() - 1, "no_proxy=*");
    command.insert(command.begin(), "env");
    command.insert(command.end(), args.begin(), args.end());
    std::vector<char*> argv{nullptr};
    for (auto& word : command)
        argv.insert(argv.end() - 1, word.data());

    const TempDir outputs;
    const std::string out = outputs.file("out"), err = outputs.file("err");
    const pid_t child = fork();
    if (child == 0) { // only async-signal-safe calls from here
        dup2(open(out.c_str(), O_WRONLY | O_CREAT, 0600), 1), dup2(open(err.c_str(), O_WRONLY | O_CREAT, 0600), 2);
        execv("/usr/bin/env", argv.data());
        _exit(127);
    }
    started(child);
    int status = 0;
    waitpid(child, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status), read_file(out), read_file(err)};
}
