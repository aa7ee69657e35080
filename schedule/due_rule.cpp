#include "schedule/due_rule.h"

#include <array>
#include <chrono>
#include <optional>
#include <string_view>

#include "schedule/clock.h"
#include "schedule/schedule_line.h"

namespace {

using std::chrono::sys_days;

constexpr std::array<int, 5> interval_minutes{15, 30, 60, 4 * 60, 8 * 60};
constexpr int minutes_per_day = 24 * 60;

/// A moment as the schedule stores it: a calendar day and a minute of that
/// day, with no time zone, so that a day of 23 or 25 hours is still one day.
struct CivilMoment {
    sys_days day;
    int minute = 0;

    long long minutes() const {
        return static_cast<long long>(day.time_since_epoch().count()) * minutes_per_day + minute;
    }
    auto operator<=>(const CivilMoment&) const = default;
};

/// The value of a text of decimal digits only, or -1.
int digits_value(std::string_view text) {
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return text.empty() ? -1 : value;
}

/// A list position as the form writes it: at most `max_digits` digits, no
/// sign or space, at most `highest`; else -1.
int list_value(std::string_view text, std::size_t max_digits, int highest) {
    const int value = text.size() <= max_digits ? digits_value(text) : -1;
    return value <= highest ? value : -1;
}

/// "YYYY/MM/DD", a real date of the calendar.
std::optional<sys_days> parse_date(std::string_view text) {
    if (text.size() != 10 || text[4] != '/' || text[7] != '/')
        return std::nullopt;
    const int year = digits_value(text.substr(0, 4));
    const int month = digits_value(text.substr(5, 2));
    const int day = digits_value(text.substr(8, 2));
    if (year < 0 || month < 0 || day < 0)
        return std::nullopt;
    const std::chrono::year_month_day date{std::chrono::year{year}, std::chrono::month{static_cast<unsigned>(month)},
                                           std::chrono::day{static_cast<unsigned>(day)}};
    if (!date.ok())
        return std::nullopt;
    return sys_days{date};
}

/// "HH:NN" from 00:00 to 23:59, as a minute of the day.
std::optional<int> parse_time(std::string_view text) {
    if (text.size() != 5 || text[2] != ':')
        return std::nullopt;
    const int hour = digits_value(text.substr(0, 2));
    const int minute = digits_value(text.substr(3, 2));
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59)
        return std::nullopt;
    return hour * 60 + minute;
}

CivilMoment civil_moment(const std::tm& now) {
    const std::chrono::year_month_day date{std::chrono::year{now.tm_year + 1900},
                                           std::chrono::month{static_cast<unsigned>(now.tm_mon + 1)},
                                           std::chrono::day{static_cast<unsigned>(now.tm_mday)}};
    return {sys_days{date}, now.tm_hour * 60 + now.tm_min};
}

CivilMoment minutes_later(const CivilMoment& moment, int minutes) {
    const int minute = moment.minute + minutes;
    return {moment.day + std::chrono::days{minute / minutes_per_day}, minute % minutes_per_day};
}

/// The moment that the local clock shows as `civil`, as real_seconds() counts.
std::time_t local_seconds(const CivilMoment& civil) {
    const std::chrono::year_month_day date{civil.day};
    std::tm local{};
    local.tm_year = static_cast<int>(date.year()) - 1900;
    local.tm_mon = static_cast<int>(static_cast<unsigned>(date.month())) - 1;
    local.tm_mday = static_cast<int>(static_cast<unsigned>(date.day()));
    local.tm_hour = civil.minute / 60;
    local.tm_min = civil.minute % 60;
    local.tm_isdst = -1;
    return std::mktime(&local);
}

bool ticked(const ScheduleLine& line, sys_days day) {
    const unsigned weekday = std::chrono::weekday{day}.iso_encoding(); // Monday 1 to Sunday 7
    return line.field(field::monday + static_cast<int>(weekday) - 1) == "1";
}

/// The first ticked day from `day` on, at most a week on: a due line has one
/// no later than today.
sys_days first_ticked_day(const ScheduleLine& line, sys_days day) {
    for (int days = 0; days < 7 && !ticked(line, day); ++days)
        day += std::chrono::days{1};
    return day;
}

} // namespace

DueCheck check_due(const ScheduleLine& line, const std::tm& now, std::optional<std::time_t> last_run_at) {
    DueCheck check;
    auto malformed = [&](int number, const char* what) {
        check.verdict = DueCheck::Verdict::malformed;
        check.problem = "champ " + std::to_string(number) + " (" + what + ") : « " + line.field(number) + " »";
        return check;
    };

    const std::string& kind = line.field(field::schedule_kind);
    if (kind == schedule_kind::on_demand)
        return check;
    if (kind != schedule_kind::several_times_a_day && kind != schedule_kind::every_few_days)
        return malformed(field::schedule_kind, "type de planification");
    // A line that has never been stamped is left alone.
    if (line.field(field::last_run_date).empty() || line.field(field::last_run_time).empty())
        return check;

    // Every field the kind uses is checked before the weekday, so that a
    // damaged line is reported whatever the day.
    const std::optional<sys_days> last_date = parse_date(line.field(field::last_run_date));
    if (!last_date)
        return malformed(field::last_run_date, "date du dernier passage");
    const std::optional<int> last_time = parse_time(line.field(field::last_run_time));
    if (!last_time)
        return malformed(field::last_run_time, "heure du dernier passage");
    int interval = 0;
    int start_minute = 0;
    int day_step = 0;
    if (kind == schedule_kind::several_times_a_day) {
        interval = list_value(line.field(field::interval_index), 1, static_cast<int>(interval_minutes.size()) - 1);
        if (interval < 0)
            return malformed(field::interval_index, "intervalle");
    } else {
        const int hour = list_value(line.field(field::start_hour), 2, 23);
        if (hour < 0)
            return malformed(field::start_hour, "heure de début");
        const int quarter = list_value(line.field(field::start_minute_index), 1, 3);
        if (quarter < 0)
            return malformed(field::start_minute_index, "minutes de début");
        day_step = list_value(line.field(field::day_interval_index), 1, 6);
        if (day_step < 0)
            return malformed(field::day_interval_index, "nombre de jours");
        start_minute = hour * 60 + quarter * 15;
    }

    const CivilMoment current = civil_moment(now);
    CivilMoment last{*last_date, *last_time};
    // Seconds since the last run: read on the clock of the day, unless the
    // caller knows when it was: a change of daylight-saving time moves the
    // clock of the day but not the time elapsed.
    long long since = last_run_at ? static_cast<long long>(real_seconds(now) - *last_run_at)
                                  : (current.minutes() - last.minutes()) * 60;
    if (since < 0) {
        since = 0;
        last = current;
        check.stamp_in_future = true;
    }

    if (!ticked(line, current.day))
        return check;

    // The timer's ticks come a few seconds early or late: a pass may come at
    // 14:29:58 after the one that stamped 14:15 at 14:15:02, and the stamps
    // keep the minute only. A pass within a minute of the next time reaches
    // it, so that the line does not wait for the following pass; passes come
    // fifteen minutes apart, so that none runs a line a pass too soon.
    const bool due = kind == schedule_kind::several_times_a_day
                         ? since >= (interval_minutes[interval] - 1) * 60
                         : current.day >= last.day + std::chrono::days{day_step + 1} && current.minute >= start_minute;
    if (!due)
        return check;
    check.verdict = DueCheck::Verdict::due;
    // When it became due: its next time, put off to the start of the first
    // ticked day when that time fell on a day whose box is not ticked.
    CivilMoment next{last.day + std::chrono::days{day_step + 1}, start_minute};
    std::optional<std::time_t> exact;
    if (kind == schedule_kind::several_times_a_day) {
        const int minutes = interval_minutes[interval];
        if (last_run_at)
            exact = *last_run_at + minutes * 60;
        next = exact ? civil_moment(local_time(*exact)) : minutes_later(last, minutes);
    }
    if (const sys_days day = first_ticked_day(line, next.day); day != next.day) {
        next = {day, kind == schedule_kind::several_times_a_day ? 0 : start_minute};
        exact.reset();
    }
    check.due_at = exact ? *exact : local_seconds(next);
    return check;
}

bool has_readable_stamp(const ScheduleLine& line) {
    return parse_date(line.field(field::last_run_date)) && parse_time(line.field(field::last_run_time));
}
