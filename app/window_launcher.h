#pragma once

#include <string>

/// The window lives in a program of its own, beside this one, so that the
/// command line never loads the window's libraries: quillmoor --run stays a
/// small process. Where it is looked for, from the folder of this program:
/// that folder itself (the build tree), then ../libexec/quillmoor/ (installed).
inline constexpr const char* window_program_name = "quillmoor-window";
/// This program, in the launcher folder.
inline constexpr const char* launcher_program_name = "quillmoor";

/// The path of the window program, or "" when there is none. Only an absolute
/// `program_folder` is searched: a program found through the current folder
/// could be anybody's.
std::string find_window_program(const std::string& program_folder);

/// The folder of `quillmoor` seen from the window program's folder: the same
/// folder in the build tree, "bin/" beside "libexec/quillmoor/" once installed.
/// The window keeps its data beside `quillmoor`, where `quillmoor --run` does.
std::string launcher_folder(const std::string& window_folder);

/// Replaces this process with the window program, keeping this program's
/// name and environment. Returns only when that cannot be done, after saying
/// why on standard error; the exit status to end with.
[[nodiscard]] int open_window(const std::string& program_folder, const char* program_name);
