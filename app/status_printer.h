#pragma once

#include <chrono>
#include <functional>
#include <iosfwd>
#include <string>

#include "engine/run_observer.h"

/// Prints a run's status texts on the command line: one a line, or in place
/// on a terminal. Flushes at most every 100 ms, also from the yields of a
/// fetch that waits, so that a reader at the end of a pipe follows the run
/// closely without one write per text. When the output goes away (the reader
/// closed the pipe, a full disk), it stops printing and the run goes on.
class StatusPrinter final : public RunObserver {
public:
    /// `stop_signal` gives the stop signal caught so far, or 0.
    StatusPrinter(std::ostream& out, bool in_place, std::function<int()> stop_signal);

    void show_status(const std::string& text) override;
    void set_background(StatusBackground) override {}
    /// There is no event loop to serve: only shows what is still held back.
    void yield() override;
    bool stop_requested() const override;

    /// Ends the line that the in-place texts were written on, and shows
    /// whatever is still buffered.
    void finish();

private:
    void flush_if_due();

    std::ostream& out_;
    bool in_place_;
    std::function<int()> stop_signal_;
    bool line_open_ = false;
    bool pending_ = false;
    static constexpr std::chrono::milliseconds flush_interval{100};
    std::chrono::steady_clock::time_point last_flush_{};
};
