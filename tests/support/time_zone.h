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
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~TimeZone() {
        saved_ ? ::setenv("TZ", saved_->c_str(), 1) : ::unsetenv("TZ");
        ::tzset();
    }
    TimeZone(const TimeZone&) = delete;
    TimeZone& operator=(const TimeZone&) = delete;

private:
    std::optional<std::string> saved_;
};
