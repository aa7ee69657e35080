#include "app/status_printer.h"

#include <ostream>
#include <utility>

StatusPrinter::StatusPrinter(std::ostream& out, bool in_place, std::function<int()> stop_signal)
    : out_(out), in_place_(in_place), stop_signal_(std::move(stop_signal)) {}

void StatusPrinter::show_status(const std::string& text) {
    // A stream that failed once stays failed: nobody reads what follows.
    if (!out_)
        return;
    if (in_place_) {
        // Back to the start of the line, the new text, then erase what a
        // longer previous text left behind.
        out_ << '\r' << text << "\x1b[K";
        line_open_ = true;
    } else if (!text.empty()) {
        out_ << text << '\n';
    }
    pending_ = true;
    flush_if_due();
}

void StatusPrinter::yield() {
    // The transfer yields every 50 ms while it waits, so a text held back
    // before a slow fetch still shows within a fifth of a second.
    if (pending_)
        flush_if_due();
}

bool StatusPrinter::stop_requested() const {
    return stop_signal_ && stop_signal_() != 0;
}

void StatusPrinter::finish() {
    if (!out_)
        return;
    if (line_open_) {
        out_ << '\n';
        line_open_ = false;
    }
    out_.flush();
    pending_ = false;
}

void StatusPrinter::flush_if_due() {
    // Flushing every one of thousands of texts would cost more system calls
    // than the images' files.
    const auto now = std::chrono::steady_clock::now();
    if (now - last_flush_ >= flush_interval) {
        out_.flush();
        last_flush_ = now;
        pending_ = false;
    }
}
