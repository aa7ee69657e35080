#pragma once

#include <ctime>
#include <optional>
#include <string>

class ScheduleLine;

/// Whether the scheduler runs a line at a given moment.
struct DueCheck {
    enum class Verdict {
        not_due,   ///< not now: on demand, today not ticked, not yet, or never run (empty last run)
        due,       ///< to be run now
        malformed, ///< a field holds a value the form never writes: never due until stored again
    };
    Verdict verdict = Verdict::not_due;
    /// The last run lies after `now` (the clock was set back): it counted as
    /// `now`, and the caller stamps the line with `now` and saves it, so that
    /// the line is not held back until the clock catches up.
    bool stamp_in_future = false;
    /// For Verdict::malformed, in French: the field and what it holds, to be
    /// told to the user once.
    std::string problem;
    /// For Verdict::due: the moment the line became due (its next time, or
    /// the first moment of a ticked day after it), as real_seconds() counts,
    /// so that a run can tell whether it comes late.
    std::time_t due_at = 0;
};

/// Decides whether `line` is due at the local date and time `now`.
/// "Plusieurs fois par jour" (kind "1"): when `now` comes within a minute of
/// the last run (field::last_run_date and field::last_run_time) plus the
/// interval of field::interval_index, across midnight and days. "A partir de"
/// (kind "2"): from the last run's date plus the day step of
/// field::day_interval_index plus one, once the start time of
/// field::start_hour and field::start_minute_index is reached. Both only on a
/// day whose weekday box (field::monday to field::sunday) holds "1".
/// Days are calendar days, whatever their length in hours: the date and time
/// of `now` are read as the clock of the day shows them (year to minute; the
/// weekday comes from the date). So is the time since the last run, unless
/// `last_run_at` tells when that run was (as real_seconds() counts): an
/// interval line then keeps its cadence across changes of daylight-saving time.
[[nodiscard]] DueCheck check_due(const ScheduleLine& line, const std::tm& now,
                                 std::optional<std::time_t> last_run_at = {});

/// True when the line's last run (field::last_run_date and field::last_run_time)
/// reads as a real date "YYYY/MM/DD" and a time "HH:NN" of the day: a line
/// without one is never due.
bool has_readable_stamp(const ScheduleLine& line);
