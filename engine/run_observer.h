#pragma once

#include <string>

/// What the status line's background tells; how it looks is the window's
/// business.
enum class StatusBackground {
    busy,       ///< a run is in progress
    button_face ///< idle
};

/// What a run shows and how it lets the rest of the program breathe. The
/// window implements it with its status line and event loop; the headless
/// runner prints the texts.
class RunObserver {
public:
    virtual ~RunObserver() = default;

    virtual void show_status(const std::string& text) = 0;
    virtual void set_background(StatusBackground background) = 0;

    /// Lets pending events run. Called after every page and every image, and
    /// between the short waits of every fetch.
    virtual void yield() = 0;

    /// True once the user asked the run to stop (the window being closed).
    /// The run then stops before its next fetch.
    virtual bool stop_requested() const { return false; }
};
