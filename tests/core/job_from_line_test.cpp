#include <gtest/gtest.h>

#include "schedule/job_from_line.h"

TEST(JobFromLine, LeadingNumberTable) {
    const std::pair<const char*, int> cases[] = {{" 3", 3}, {"2.5", 3}, {"2.4", 2}, {"abc", 0}, {"", 0}, {"4x", 4}};
    for (const auto& [text, value] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(leading_number(text), value);
    }
}

TEST(JobFromLine, PatternPairsComeFromTheirOwnFields) {
    ScheduleLine line;
    for (int f = 1; f <= field::count; ++f)
        line.set_field(f, "f" + std::to_string(f));
    const ExtractionJob job = job_from_line(line);
    for (std::size_t k = 0; k < 4; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(job.include_patterns[k].name, "f" + std::to_string(21 + 2 * k));
        EXPECT_EQ(job.include_patterns[k].extension, "f" + std::to_string(22 + 2 * k));
        EXPECT_EQ(job.exclude_patterns[k].name, "f" + std::to_string(31 + 2 * k));
        EXPECT_EQ(job.exclude_patterns[k].extension, "f" + std::to_string(32 + 2 * k));
    }
}
