#include "app/stop_signal_watch.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>

namespace {

// Written by the handler, which may call nothing but async-signal-safe
// functions: write() is one of them.
volatile std::sig_atomic_t write_end = -1;

void on_signal(int signal_number) {
    const int saved_errno = errno;
    const char byte = static_cast<char>(signal_number);
    if (write_end >= 0) {
        // A full pipe already holds a byte that wakes the event loop.
        [[maybe_unused]] const ssize_t written = ::write(write_end, &byte, 1);
    }
    errno = saved_errno;
}

/// Blocks (SIG_BLOCK) or unblocks (SIG_UNBLOCK) the signals `numbers` in this thread.
void change_mask(int how, const auto& numbers) {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal_number : numbers)
        sigaddset(&set, signal_number);
    ::pthread_sigmask(how, &set, nullptr);
}

} // namespace

void StopSignalWatch::hold_signals() {
    change_mask(SIG_BLOCK, watched_signals);
}

StopSignalWatch::StopSignalWatch(std::function<void()> on_stop) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        change_mask(SIG_UNBLOCK, watched_signals);
        return;
    }
    read_end_.reset(ends[0]);
    write_end_.reset(ends[1]);
    write_end = write_end_.get();
    notifier_ = std::make_unique<QSocketNotifier>(read_end_.get(), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this, on_stop = std::move(on_stop)] {
        char bytes[16];
        while (::read(read_end_.get(), bytes, sizeof bytes) > 0) {
        }
        on_stop();
    });
    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    for (std::size_t i = 0; i < watched_signals.size(); ++i)
        ::sigaction(watched_signals[i], &action, &previous_[i]);
    // A signal held since start-up comes now, to on_signal.
    change_mask(SIG_UNBLOCK, watched_signals);
}

StopSignalWatch::~StopSignalWatch() {
    if (notifier_) {
        for (std::size_t i = 0; i < watched_signals.size(); ++i)
            ::sigaction(watched_signals[i], &previous_[i], nullptr);
    }
    write_end = -1;
    // The notifier goes before the pipe it watches.
    notifier_.reset();
}
