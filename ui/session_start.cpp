#include "ui/session_start.h"

#include <cerrno>
#include <cstdlib>
#include <unistd.h>

#include "store/atomic_file.h"
#include "store/directories.h"
#include "store/error_text.h"

namespace {

/// A string value of a desktop entry: its backslashes doubled, its line ends
/// and tabs written as escapes.
std::string escaped_value(std::string_view text) {
    std::string value;
    for (const char c : text) {
        switch (c) {
        case '\\':
            value += "\\\\";
            break;
        case '\n':
            value += "\\n";
            break;
        case '\r':
            value += "\\r";
            break;
        case '\t':
            value += "\\t";
            break;
        default:
            value += c;
        }
    }
    return value;
}

/// One argument of the Exec key, quoted so that spaces and the shell's
/// characters stay in it; a percent sign is doubled, as field codes start
/// with one. The value's own escapes are added after, by escaped_value().
std::string exec_argument(std::string_view text) {
    std::string argument = "\"";
    for (const char c : text) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            argument += '\\';
        argument += c;
        if (c == '%')
            argument += '%';
    }
    return argument + '"';
}

} // namespace

SessionStart::SessionStart(std::string program, std::string folder)
    : program_(std::move(program)), folder_(std::move(folder)) {}

std::string SessionStart::user_folder() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const std::string base = config && config[0] == '/' ? config : home_directory() + "/.config";
    return base + "/autostart/";
}

bool SessionStart::enabled() const {
    return ::access(path().c_str(), F_OK) == 0;
}

std::string SessionStart::entry() const {
    // The shell gets the program as $0, so that its path is never read as
    // shell text.
    const std::string command = "sh -c " + exec_argument("sleep " + std::to_string(delay_seconds) + "; exec \"$0\"") +
                                ' ' + exec_argument(program_);
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Quillmoor\n"
           "Comment=Récupère les images des sites internet\n"
           "Icon=quillmoor\n"
           // A program gone since (another build, uninstalled): the entry is skipped.
           "TryExec=" +
           escaped_value(program_) + "\nExec=" + escaped_value(command) + "\nTerminal=false\n";
}

Result<void> SessionStart::set_enabled(bool wanted) const {
    if (!wanted) {
        if (::unlink(path().c_str()) != 0 && errno != ENOENT)
            return Error{error_text(errno)};
        return {};
    }
    if (const Result<void> made = make_directories(folder_, 0700); !made)
        return made;
    return write_file_atomically(path(), entry(), Durability::flush_to_disk);
}
