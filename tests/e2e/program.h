#pragma once

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>

#include <linux/capability.h>

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

/// A time zone in which the local time now reads 05:05:00; the program inherits it from TZ. A run stamped within
/// the minute must write "05:05", leading zeros included.
inline std::string zone_at_five_past_five() {
    const long lag = static_cast<long>(std::time(nullptr) % 86'400) - (5 * 60 + 5) * 60; // UTC minus local
    char zone[32];
    std::snprintf(zone, sizeof zone, "QMR%s%ld:%02ld:%02ld", lag < 0 ? "-" : "", std::labs(lag) / 3600,
                  std::labs(lag) / 60 % 60, std::labs(lag) % 60);
    return zone;
}

/// planifs.txt holding `lines`, the one at `stamped` (none when -1) stamped today at 05:05.
inline std::string schedule_text(std::vector<StoredLine> lines, int stamped = -1) {
    if (stamped >= 0) {
        char date[16];
        const std::time_t now = std::time(nullptr);
        lines[stamped].date = {date, std::strftime(date, sizeof date, "%Y/%m/%d", std::localtime(&now))};
        lines[stamped].time = "05:05";
    }
    std::string text;
    for (const auto& line : lines)
        text += line.text();
    return text;
}

/// Reads `fd` until `lines` line ends or its end, then closes it.
inline std::string read_lines(int fd, long lines = LONG_MAX) {
    std::string text;
    char buffer[4096];
    for (ssize_t got = 1; got > 0 && std::count(text.begin(), text.end(), '\n') < lines;)
        text.append(buffer, std::max<ssize_t>(got = read(fd, buffer, sizeof buffer), 0));
    close(fd);
    return text;
}

/// What the test does beside the program while it runs.
struct Supervision {
    /// Given the child's id and the read end of its standard output, which it must close; gives what it read.
    std::function<std::string(pid_t, int)> watch = [](pid_t, int out) { return read_lines(out); };
    rlim_t file_size_limit = RLIM_INFINITY; ///< the largest file the program may write
};

/// Runs through env(1) `command` (settings "NAME=value" or "--unset=NAME", then the program) with `args`, no
/// proxy between it and 127.0.0.1, as an ordinary user would from a shell. The child's id that `watch` gets is
/// the program's, as env hands it on. Gives how it ended (minus the signal when one killed it) and what it printed.
inline std::tuple<int, std::string, std::string> run_program(const std::vector<std::string>& args,
                                                             std::vector<std::string> command,
                                                             const Supervision& supervision = {}) {
    command.insert(command.end() - 1, "no_proxy=*");
    command.insert(command.begin(), "env");
    command.insert(command.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& word : command)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    const TempDir outputs;
    const std::string err = outputs.file("err");
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe2 failed");
    const pid_t child = fork();
    if (child == 0) { // only async-signal-safe calls from here
        // This process may ignore these signals; a shell would not.
        signal(SIGPIPE, SIG_DFL), signal(SIGXFSZ, SIG_DFL);
        // Even as root, permissions hold: a read-only folder stays read-only (fails harmlessly for a user).
        prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE), prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH);
        const rlimit limit{supervision.file_size_limit, supervision.file_size_limit};
        setrlimit(RLIMIT_FSIZE, &limit);
        dup2(out[1], 1);
        dup2(open(err.c_str(), O_WRONLY | O_CREAT, 0600), 2);
        execv("/usr/bin/env", argv.data());
        _exit(127);
    }
    close(out[1]);
    const std::string printed = supervision.watch(child, out[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status), printed, read_file(err)};
}
