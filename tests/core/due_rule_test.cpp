#include "schedule/due_rule.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "schedule/schedule_line.h"

namespace {

constexpr auto due = DueCheck::Verdict::due;
constexpr auto malformed = DueCheck::Verdict::malformed;

/// A line as the form stores it, and a moment to ask about. 2007/05/14 is a Monday.
struct Case {
    std::string kind = "2", interval = "2", hour = "8", quarter = "2", step = "0", weekdays = "1111111";
    std::string date = "2007/05/14", time = "10:00", now = "2008/01/01 12:00";
    DueCheck::Verdict want = DueCheck::Verdict::not_due;
    bool future = false;
};

/// A local time as the clock gives it, weekday included; "YYYY/MM/DD HH:NN".
std::tm moment(const std::string& text) {
    std::tm tm{};
    ::strptime(text.c_str(), "%Y/%m/%d %H:%M", &tm);
    ::timegm(&tm); // fills in the weekday
    return tm;
}

} // namespace

TEST(DueRule, Table) {
    // Days are counted on the calendar, whatever the zone's daylight-saving days.
    const std::string saved_zone = std::getenv("TZ") ? std::getenv("TZ") : "";
    ::setenv("TZ", "Europe/Paris", 1);
    ::tzset();
    const Case cases[] = {
        // Daily from 08:30, stored Monday at 10:00 (or 07:00): not that Monday, then Tuesday from 08:30.
        {.now = "2007/05/14 23:59"},
        {.time = "07:00", .now = "2007/05/14 09:00"},
        {.now = "2007/05/15 08:29"},
        {.now = "2007/05/15 08:30", .want = due},
        // Monday only: the first Monday on or after the next date.
        {.weekdays = "1000000", .now = "2007/05/15 09:00"},
        {.weekdays = "1000000", .now = "2007/05/21 08:29"},
        {.weekdays = "1000000", .now = "2007/05/21 08:30", .want = due},
        {.hour = "9", .quarter = "3", .now = "2007/05/15 09:44"},
        {.hour = "9", .quarter = "3", .now = "2007/05/15 09:45", .want = due},
        {.hour = "08", .now = "2007/05/15 08:30", .want = due},
        // Every 7 days across a year, every day across a leap day.
        {.step = "6", .date = "2007/12/30", .now = "2008/01/05 09:00"},
        {.step = "6", .date = "2007/12/30", .now = "2008/01/06 09:00", .want = due},
        {.date = "2008/02/28", .now = "2008/02/29 09:00", .want = due},
        // In Paris 2024/10/27 lasts 25 hours and 2024/03/31 23.
        {.date = "2024/10/27", .now = "2024/10/27 23:30"},
        {.date = "2024/10/27", .now = "2024/10/28 08:30", .want = due},
        {.date = "2024/03/30", .time = "23:30", .now = "2024/03/31 08:30", .want = due},
        // Several times a day: the last run plus the interval, across midnight and days.
        {.kind = "1", .time = "09:40", .now = "2007/05/14 10:39"},
        {.kind = "1", .time = "09:40", .now = "2007/05/14 10:40", .want = due},
        {.kind = "1", .interval = "0", .time = "09:50", .now = "2007/05/14 10:04"},
        {.kind = "1", .interval = "0", .time = "09:50", .now = "2007/05/14 10:05", .want = due},
        {.kind = "1", .interval = "1", .time = "09:50", .now = "2007/05/14 10:20", .want = due},
        {.kind = "1", .interval = "3", .time = "09:50", .now = "2007/05/14 13:49"},
        {.kind = "1", .interval = "4", .time = "20:00", .now = "2007/05/14 23:00"},
        {.kind = "1", .interval = "4", .time = "20:00", .now = "2007/05/15 04:00", .want = due},
        {.kind = "1", .date = "2007/05/13", .time = "23:30", .now = "2007/05/14 00:29"},
        {.kind = "1", .date = "2007/05/13", .time = "23:30", .now = "2007/05/14 00:30", .want = due},
        {.kind = "1", .date = "2007/05/13", .time = "14:00", .now = "2007/05/14 10:00", .want = due},
        {.kind = "1", .weekdays = "0111111", .now = "2007/05/14 12:00"},
        {.kind = "1", .weekdays = "1111110", .now = "2007/05/20 12:00"},
        {.kind = "0", .now = "2007/05/20 12:00"},
        // A stamp in the future counts as now.
        {.kind = "1", .date = "2030/01/01", .now = "2007/05/14 12:00", .future = true},
        {.kind = "1", .time = "12:01", .now = "2007/05/14 12:00", .future = true},
        {.kind = "1", .time = "12:00", .now = "2007/05/14 12:00"},
        {.weekdays = "0000000", .date = "2007/05/15", .now = "2007/05/14 12:00", .future = true},
        // Never stamped: skipped. Values the form never writes: never due, whatever the day.
        {.date = ""},
        {.time = ""},
        {.kind = "3", .want = malformed},
        {.hour = "25", .want = malformed},
        {.hour = " 8", .want = malformed},
        {.quarter = "4", .want = malformed},
        {.step = "7", .weekdays = "0000000", .want = malformed},
        {.kind = "1", .interval = "-5", .want = malformed},
        {.kind = "1", .interval = "5", .want = malformed},
        {.date = "2007/5/14", .want = malformed},
        {.date = "2007/02/29", .want = malformed},
        {.time = "8", .want = malformed},
        {.time = "24:00", .want = malformed},
        {.time = "09:60", .want = malformed}};
    for (const auto& c : cases) {
        SCOPED_TRACE("kind " + c.kind + " last " + c.date + " " + c.time + ", now " + c.now);
        ScheduleLine line;
        line.set_field(field::schedule_kind, c.kind);
        line.set_field(field::interval_index, c.interval);
        line.set_field(field::start_hour, c.hour);
        line.set_field(field::start_minute_index, c.quarter);
        line.set_field(field::day_interval_index, c.step);
        line.set_field(field::last_run_date, c.date);
        line.set_field(field::last_run_time, c.time);
        for (int day = 0; day < 7; ++day)
            line.set_field(field::monday + day, c.weekdays.substr(static_cast<std::size_t>(day), 1));
        const DueCheck check = check_due(line, moment(c.now));
        EXPECT_EQ(check.verdict, c.want);
        EXPECT_EQ(check.stamp_in_future, c.future);
        EXPECT_EQ(check.problem.empty(), c.want != malformed);
    }
    saved_zone.empty() ? ::unsetenv("TZ") : ::setenv("TZ", saved_zone.c_str(), 1);
    ::tzset();
}
