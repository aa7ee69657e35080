#pragma once

#include <string>

#include "store/result.h"

/// Quillmoor started with the desktop session: the entry quillmoor.desktop in
/// the user's autostart folder ($XDG_CONFIG_HOME/autostart), whose entries
/// the desktop runs at log-in. Its presence is the preference.
class SessionStart {
public:
    static constexpr const char* file_name = "quillmoor.desktop";
    /// How long the entry waits before it starts the program: the session
    /// starts its panel beside the programs, and the tray icon needs it. A
    /// shell's sleep, since the keys that delay an entry differ from one
    /// desktop to another.
    static constexpr int delay_seconds = 5;

    /// `program`: the absolute path of the quillmoor program; `folder`: the
    /// autostart folder, ending in "/".
    explicit SessionStart(std::string program, std::string folder = user_folder());

    /// $XDG_CONFIG_HOME/autostart/, or ~/.config/autostart/ when that
    /// variable is unset, empty or not an absolute path.
    static std::string user_folder();

    std::string path() const { return folder_ + file_name; }
    /// Whether the entry is there: the session starts Quillmoor.
    bool enabled() const;
    /// Writes the entry, making its folder if need be, or removes it. The
    /// entry is replaced whole or not at all.
    Result<void> set_enabled(bool wanted) const;
    /// The text of the entry.
    std::string entry() const;

private:
    std::string program_;
    std::string folder_;
};
