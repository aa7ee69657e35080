#pragma once

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

/// Shows local times in `zone` ("Europe/Paris") in this process; puts the
/// zone it had back when it goes.
class TimeZone {
public:
    explicit TimeZone(const char* zone) {
        if (const char* previous = std::getenv("TZ"))
            saved_ = previous;
        set(zone);
    }
    ~TimeZone() { set(saved_ ? saved_->c_str() : nullptr); }
    TimeZone(const TimeZone&) = delete;
    TimeZone& operator=(const TimeZone&) = delete;

private:
    static void set(const char* zone) {
        zone ? ::setenv("TZ", zone, 1) : ::unsetenv("TZ");
        ::tzset();
    }
    std::optional<std::string> saved_;
};
