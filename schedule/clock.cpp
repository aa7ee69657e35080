#include "schedule/clock.h"

#include <cstdio>

#include "schedule/schedule_line.h"

std::tm SystemClock::now() const {
    return local_time(std::time(nullptr));
}

std::tm local_time(std::time_t moment) {
    std::tm local{};
    localtime_r(&moment, &local);
    return local;
}

std::time_t real_seconds(const std::tm& local) {
    std::tm civil = local;
    return timegm(&civil) - local.tm_gmtoff;
}

RunStamp run_stamp(const std::tm& moment) {
    // Wide enough for any int, so that a strange year cannot truncate.
    char date[48];
    char time[32];
    std::snprintf(date, sizeof date, "%04d/%02d/%02d", moment.tm_year + 1900, moment.tm_mon + 1, moment.tm_mday);
    std::snprintf(time, sizeof time, "%02d:%02d", moment.tm_hour, moment.tm_min);
    return {date, time};
}

void stamp_line(ScheduleLine& line, const std::tm& moment) {
    RunStamp stamp = run_stamp(moment);
    line.set_field(field::last_run_date, std::move(stamp.date));
    line.set_field(field::last_run_time, std::move(stamp.time));
}
