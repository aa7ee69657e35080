#pragma once

#include <cstdlib>
#include <ctime>
#include <string>

/// Shows local times in `zone` ("Europe/Paris") in this process; puts the
/// zone it had back when it goes (none, if TZ was unset or empty).
class TimeZone {
public:
    explicit TimeZone(const char* zone) : saved_(std::getenv("TZ") ? std::getenv("TZ") : "") { set(zone); }
    ~TimeZone() { set(saved_.empty() ? nullptr : saved_.c_str()); }
    TimeZone(const TimeZone&) = delete;
    TimeZone& operator=(const TimeZone&) = delete;

private:
    static void set(const char* zone) {
        zone ? ::setenv("TZ", zone, 1) : ::unsetenv("TZ");
        ::tzset();
    }
    std::string saved_;
};
