#pragma once

#include <array>
#include <fcntl.h>
#include <functional>
#include <map>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "support/temp_dir.h"

extern char** environ;

/// A stored extraction, its 40 fields numbered from 1 as in planifs.txt: flat,
/// on demand, the other fields as the form leaves them.
struct StoredLine {
    std::array<std::string, 41> fields{"",  "",  "",  "",  "",  "",  "2", "", "1", "0", "2", "8",          "0",    "0",
                                       "1", "1", "1", "1", "1", "0", "0", "", "*", "",  "*", "",           "*",    "",
                                       "*", "",  "",  "",  "*", "",  "*", "", "*", "",  "*", "2007/05/14", "08:45"};

    StoredLine(const std::string& title, const std::string& address, int depth, const std::string& destination) {
        fields[1] = title;
        fields[2] = address;
        fields[3] = std::to_string(depth);
        fields[7] = destination;
    }
    /// The line as planifs.txt holds it: quoted fields, commas, CR LF.
    std::string text() const {
        std::string result;
        for (std::size_t i = 1; i < fields.size(); ++i)
            result += (i > 1 ? ",\"" : "\"") + fields[i] + "\"";
        return result + "\r\n";
    }
};

/// How a program ended and what it printed; `status` is minus the signal
/// when a signal killed it.
struct Ended {
    int status;
    std::string out, err;
};

/// Runs the built program (or a copy of it) to its end in a child process, its
/// input from /dev/null. `environment` sets variables ("" removes one); proxies
/// are removed, so that none comes between it and 127.0.0.1. `started` is
/// called with the child's id once it runs; a status of -1000 tells that it
/// could not be started.
inline Ended run_program(
    const std::vector<std::string>& args, const std::map<std::string, std::string>& environment,
    const std::string& executable = QUILLMOOR_BINARY, const std::function<void(pid_t)>& started = [](pid_t) {}) {
    // The arguments, then the environment, each list ending with a null pointer.
    std::vector<std::string> texts{executable};
    texts.insert(texts.end(), args.begin(), args.end());
    const std::size_t argument_count = texts.size();
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry, name = text.substr(0, text.find('='));
        if (!environment.count(name) && name.find("proxy") == name.npos && name.find("PROXY") == name.npos)
            texts.push_back(text);
    }
    for (const auto& [name, value] : environment)
        if (!value.empty())
            texts.push_back(name + "=" + value);
    std::vector<char*> pointers;
    for (auto& text : texts)
        pointers.push_back(text.data());
    pointers.insert(pointers.begin() + argument_count, nullptr);
    pointers.push_back(nullptr);

    const TempDir outputs;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outputs.file("out").c_str(), O_WRONLY | O_CREAT, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, outputs.file("err").c_str(), O_WRONLY | O_CREAT, 0600);
    pid_t child = -1;
    const int error = posix_spawn(&child, executable.c_str(), &actions, nullptr, pointers.data(),
                                  pointers.data() + argument_count + 1);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        return {-1000, "", "cannot start " + executable};
    started(child);
    int status = -1;
    waitpid(child, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status), read_file(outputs.file("out")),
            read_file(outputs.file("err"))};
}
