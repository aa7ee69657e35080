#pragma once

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <regex>
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

/// Moves this process's time zone, which the program inherits, so that the local time now reads 05:05: a
/// stamp must then show its leading zeros.
inline void set_clock_to_five_past_five() {
    const long lag = static_cast<long>(std::time(nullptr) % 86'400) - (5 * 60 + 5) * 60; // UTC minus local
    char zone[32];
    std::snprintf(zone, sizeof zone, "QMR%s%ld:%02ld:%02ld", lag < 0 ? "-" : "", std::labs(lag) / 3600,
                  std::labs(lag) / 60 % 60, std::labs(lag) % 60);
    setenv("TZ", zone, 1);
    tzset();
}

inline std::string stamp_now() {
    char text[32];
    const std::time_t now = std::time(nullptr);
    return {text, std::strftime(text, sizeof text, "%Y/%m/%d %H:%M", std::localtime(&now))};
}

/// Expects planifs.txt to hold `lines`, the one at `stamped` (-1: none) with its last run read from the file:
/// "YYYY/MM/DD" and "HH:NN", leading zeros included, between `before` and `after` (from stamp_now).
inline void expect_schedule(const std::string& stored, std::vector<StoredLine> lines, int stamped = -1,
                            const std::string& before = "", const std::string& after = "") {
    if (stamped >= 0) {
        std::string line = stored;
        for (int skipped = 0; skipped < stamped; ++skipped)
            line.erase(0, line.find("\r\n") + 2);
        line.erase(line.find("\r\n") + 2);
        std::smatch fields; // the last two of 40 quoted fields
        const std::regex pattern("\"(?:[^\"]*\",\"){38}([^\"]*)\",\"([^\"]*)\"\r\n");
        ASSERT_TRUE(std::regex_match(line, fields, pattern)) << stored;
        lines[stamped].date = fields[1], lines[stamped].time = fields[2];
        const std::string moment = fields[1].str() + " " + fields[2].str();
        EXPECT_TRUE(std::regex_match(moment, std::regex(R"(\d{4}/\d\d/\d\d \d\d:\d\d)"))) << moment;
        EXPECT_TRUE(before <= moment && moment <= after) << moment;
    }
    std::string expected;
    for (const auto& line : lines)
        expected += line.text();
    EXPECT_EQ(stored, expected);
}

/// What the test does beside the program while it runs.
struct Supervision {
    std::function<void(pid_t)> started = [](pid_t) {}; ///< given the child's id once it runs
    /// When set, standard output is a pipe whose read end this gets, to read and close while the program runs;
    /// what it returns stands for the output.
    std::function<std::string(int)> read_output{};
    bool output_full = false;               ///< standard output on /dev/full, as on a full disk
    rlim_t file_size_limit = RLIM_INFINITY; ///< the largest file the program may write
};

/// Runs through env(1) `command` (settings "NAME=value" or "--unset=NAME", then the program) with `args`, no
/// proxy between it and 127.0.0.1, as an ordinary user started from a shell would. `started` gets the child's
/// id, which env hands on to the program. Gives how it ended (minus the signal when one killed it) and what it
/// printed.
inline std::tuple<int, std::string, std::string> run_program(const std::vector<std::string>& args,
                                                             std::vector<std::string> command,
                                                             const Supervision& supervision = {}) {
    command.insert(command.end() - 1, "no_proxy=*");
    command.insert(command.begin(), "env");
    command.insert(command.end(), args.begin(), args.end());
    std::vector<char*> argv{nullptr};
    for (auto& word : command)
        argv.insert(argv.end() - 1, word.data());

    const TempDir outputs;
    const std::string out = supervision.output_full ? "/dev/full" : outputs.file("out"), err = outputs.file("err");
    int pipe_ends[2] = {-1, -1};
    if (supervision.read_output && pipe2(pipe_ends, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe2 failed");
    const pid_t child = fork();
    if (child == 0) { // only async-signal-safe calls from here
        // This process may ignore these signals; a shell would not.
        signal(SIGPIPE, SIG_DFL), signal(SIGXFSZ, SIG_DFL);
        // Even as root, permissions hold: a read-only folder stays read-only (fails harmlessly for a user).
        prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE), prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH);
        if (supervision.file_size_limit != RLIM_INFINITY) {
            rlimit limit{};
            getrlimit(RLIMIT_FSIZE, &limit);
            limit.rlim_cur = supervision.file_size_limit;
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        dup2(pipe_ends[1] >= 0 ? pipe_ends[1] : open(out.c_str(), O_WRONLY | O_CREAT, 0600), 1);
        dup2(open(err.c_str(), O_WRONLY | O_CREAT, 0600), 2);
        execv("/usr/bin/env", argv.data());
        _exit(127);
    }
    std::string printed;
    if (supervision.read_output) {
        close(pipe_ends[1]);
        printed = supervision.read_output(pipe_ends[0]);
    }
    supervision.started(child);
    int status = 0;
    waitpid(child, &status, 0);
    if (!supervision.read_output && !supervision.output_full)
        printed = read_file(out);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status), printed, read_file(err)};
}
