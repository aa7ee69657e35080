#pragma once

#include <ctime>
#include <string>

class ScheduleLine;

/// Where "now" comes from: the system's local time, or a test's. The commands
/// that stamp a line and the scheduler ask it, never the system directly.
class Clock {
public:
    virtual ~Clock() = default;
    /// The local date and time, with tm_wday and tm_yday filled in.
    virtual std::tm now() const = 0;
};

/// The local time of the system clock.
class SystemClock final : public Clock {
public:
    std::tm now() const override;
};

/// The date and time that the system's local zone shows at `moment`.
std::tm local_time(std::time_t moment);

/// The moment that `local` shows, as a Clock gives it: its date and time less
/// its zone's offset (tm_gmtoff), so that an hour shown twice in autumn is
/// told apart.
std::time_t real_seconds(const std::tm& local);

/// A moment as the schedule stores it: "YYYY/MM/DD" and "HH:NN".
struct RunStamp {
    std::string date;
    std::string time;
};

RunStamp run_stamp(const std::tm& moment);

/// Sets the line's last-run date and time (field::last_run_date and
/// field::last_run_time) to `moment`.
void stamp_line(ScheduleLine& line, const std::tm& moment);
