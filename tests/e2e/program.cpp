#include "program.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

Program::Program(const std::vector<std::string>& args, const EnvironmentChanges& environment,
                 const std::string& executable) {
    // Everything the child needs is prepared before fork: only async-signal-safe
    // calls are allowed after it.
    std::map<std::string, std::string> variables;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        const auto equals = text.find('=');
        if (equals != std::string::npos)
            variables[text.substr(0, equals)] = text.substr(equals + 1);
    }
    // A proxy from the surroundings must not come between the program and 127.0.0.1.
    for (const char* proxy : {"http_proxy", "https_proxy", "all_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY"})
        variables.erase(proxy);
    for (const auto& [name, value] : environment) {
        if (value)
            variables[name] = *value;
        else
            variables.erase(name);
    }
    std::vector<std::string> environment_texts;
    for (const auto& [name, value] : variables)
        environment_texts.push_back(name + "=" + value);
    std::vector<char*> child_environment;
    for (auto& text : environment_texts)
        child_environment.push_back(text.data());
    child_environment.push_back(nullptr);

    std::vector<std::string> argument_texts{executable};
    argument_texts.insert(argument_texts.end(), args.begin(), args.end());
    std::vector<char*> child_arguments;
    for (auto& text : argument_texts)
        child_arguments.push_back(text.data());
    child_arguments.push_back(nullptr);

    const std::string out_path = outputs_.file("out");
    const std::string err_path = outputs_.file("err");
    pid_ = fork();
    if (pid_ < 0)
        throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        const int in = open("/dev/null", O_RDONLY);
        const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
            _exit(127);
        // gtest may have blocked or ignored signals; the program starts clean.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        signal(SIGINT, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
        execve(executable.c_str(), child_arguments.data(), child_environment.data());
        _exit(127);
    }
}

Program::~Program() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

void Program::send_signal(int signal_number) {
    if (pid_ > 0)
        kill(pid_, signal_number);
}

ProgramResult Program::wait() {
    ProgramResult result;
    int status = 0;
    pid_t ended;
    do {
        ended = waitpid(pid_, &status, 0);
    } while (ended < 0 && errno == EINTR);
    pid_ = -1;
    if (ended < 0)
        throw std::runtime_error("waitpid failed");
    if (WIFEXITED(status))
        result.exit_code = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.term_signal = WTERMSIG(status);
    result.out = read_file(outputs_.file("out"));
    result.err = read_file(outputs_.file("err"));
    return result;
}

ProgramResult run_program(const std::vector<std::string>& args, const EnvironmentChanges& environment,
                          const std::string& executable) {
    Program program(args, environment, executable);
    return program.wait();
}
