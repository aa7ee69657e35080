#include "schedule/job_from_line.h"

#include <algorithm>
#include <cstdint>
#include <limits>

int leading_number(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Anything beyond the 16-bit range is clamped below, so the magnitude
    // only needs to be counted a little past it.
    constexpr std::int64_t ceiling = 100000;
    std::int64_t magnitude = 0;
    auto is_digit = [&](std::size_t at) { return at < text.size() && text[at] >= '0' && text[at] <= '9'; };
    for (; is_digit(i); ++i)
        magnitude = std::min(ceiling, magnitude * 10 + (text[i] - '0'));
    // Rounding half away from zero depends only on the first decimal.
    if (i < text.size() && text[i] == '.' && is_digit(i + 1) && text[i + 1] >= '5')
        ++magnitude;

    const std::int64_t value = negative ? -magnitude : magnitude;
    constexpr std::int64_t lowest = std::numeric_limits<std::int16_t>::min();
    constexpr std::int64_t highest = std::numeric_limits<std::int16_t>::max();
    return static_cast<int>(std::clamp(value, lowest, highest));
}

ExtractionJob job_from_line(const ScheduleLine& line) {
    ExtractionJob job;
    job.title = line.field(field::title);
    job.start_address = line.field(field::start_address);
    job.depth = leading_number(line.field(field::depth));
    job.user_name = line.field(field::user_name);
    job.password = line.field(field::password);
    job.existing_policy = static_cast<ExistingPolicy>(leading_number(line.field(field::existing_policy)));
    job.destination = line.field(field::destination);
    job.layout = static_cast<Layout>(leading_number(line.field(field::layout)));
    for (std::size_t k = 0; k < job.include_patterns.size(); ++k) {
        const int offset = 2 * static_cast<int>(k);
        job.include_patterns[k] = {line.field(field::first_include + offset),
                                   line.field(field::first_include + offset + 1)};
        job.exclude_patterns[k] = {line.field(field::first_exclude + offset),
                                   line.field(field::first_exclude + offset + 1)};
    }
    return job;
}
