#include "app/window_launcher.h"

#include <cerrno>
#include <iostream>
#include <unistd.h>

#include "app/headless_runner.h"
#include "store/error_text.h"

namespace {

// The installed layout, as seen from each of the two programs' folders.
constexpr std::string_view installed_window_folder = "libexec/quillmoor/";
constexpr std::string_view installed_launcher_folder = "bin/";

} // namespace

std::string find_window_program(const std::string& program_folder) {
    if (!program_folder.starts_with('/'))
        return {};
    for (const std::string& relative : {std::string(), "../" + std::string(installed_window_folder)}) {
        const std::string candidate = program_folder + relative + window_program_name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

std::string launcher_folder(const std::string& window_folder) {
    // Worked out from the window program's own place rather than handed over
    // by quillmoor: however the window is started, it then finds the same
    // folder, and neither an argument nor the environment can send it to
    // another one.
    const std::string installed = '/' + std::string(installed_window_folder);
    if (window_folder.ends_with(installed))
        return window_folder.substr(0, window_folder.size() - installed.size() + 1) +
               std::string(installed_launcher_folder);
    return window_folder;
}

int open_window(const std::string& program_folder, const char* program_name) {
    if (!program_folder.starts_with('/')) {
        std::cerr << "quillmoor : la fenêtre n'est pas ouverte : le dossier de ce programme est inconnu "
                     "(/proc/self/exe illisible), et elle n'est jamais cherchée dans le dossier courant.\n";
        return exit_status::failure;
    }
    const std::string window = find_window_program(program_folder);
    if (window.empty()) {
        std::cerr << "quillmoor : la fenêtre est introuvable (" << window_program_name << " n'est ni dans "
                  << program_folder << " ni dans " << program_folder << "../" << installed_window_folder
                  << ") ; quillmoor --help donne les commandes sans fenêtre.\n";
        return exit_status::failure;
    }
    // Under this program's own name, so that the window's class and the tray
    // icon are Quillmoor's.
    char* const arguments[] = {const_cast<char*>(program_name), nullptr};
    ::execv(window.c_str(), arguments);
    std::cerr << "quillmoor : impossible d'ouvrir la fenêtre (" << window << " : " << error_text(errno) << ").\n";
    return exit_status::failure;
}
