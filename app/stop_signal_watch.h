#pragma once

#include <array>
#include <csignal>
#include <functional>
#include <memory>

#include "store/unique_fd.h"

class QSocketNotifier;

/// Turns SIGTERM, SIGINT and SIGHUP into a call of `on_stop` from the event
/// loop, so that the window can end as its own "Quitter" does, without asking.
/// The handler only writes a byte into a pipe that the event loop watches. A
/// second signal, if the program has not ended by then, ends it at once.
class StopSignalWatch {
public:
    /// Blocks the watched signals until a watch is made, which unblocks them:
    /// one that comes while the program starts then waits for the watch
    /// instead of killing the program. Call before any thread is started.
    static void hold_signals();

    explicit StopSignalWatch(std::function<void()> on_stop);
    /// Puts the default handlers back.
    ~StopSignalWatch();
    StopSignalWatch(const StopSignalWatch&) = delete;
    StopSignalWatch& operator=(const StopSignalWatch&) = delete;

private:
    static constexpr std::array watched_signals{SIGTERM, SIGINT, SIGHUP};

    UniqueFd read_end_;
    UniqueFd write_end_;
    std::array<struct sigaction, watched_signals.size()> previous_{};
    std::unique_ptr<QSocketNotifier> notifier_;
};
