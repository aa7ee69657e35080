#include <gtest/gtest.h>

#include "schedule/job_from_line.h"

TEST(JobFromLine, LeadingNumberTable) {
    struct Case {
        const char* text;
        int value;
    };
    const Case cases[] = {
        {"2", 2},
        {" 3", 3},
        {"2.6", 3},
        {"2.4", 2},
        {"2.5", 3},
        {"-2.5", -3},
        {"abc", 0},
        {"", 0},
        {"4x", 4},
        {"-1", -1},
        {"+7", 7},
        {"-", 0},
        {"12", 12},
        {"3 4", 3},
        {".6", 1},
        {"99999", 32767},
        {"-40000", -32768},
        {"32767.9", 32767},
        {"123456789012345678901234", 32767},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("\"") + c.text + "\"");
        EXPECT_EQ(leading_number(c.text), c.value);
    }
}

TEST(JobFromLine, EachJobFieldComesFromItsOwnField) {
    ScheduleLine line;
    for (int f = 1; f <= field::count; ++f)
        line.set_field(f, "f" + std::to_string(f));
    line.set_field(field::title, " Galerie ");
    line.set_field(field::start_address, " http://host/ ");
    line.set_field(field::depth, "2");
    line.set_field(field::existing_policy, "3");
    line.set_field(field::layout, "1");

    const ExtractionJob job = job_from_line(line);
    EXPECT_EQ(job.title, " Galerie ");
    EXPECT_EQ(job.start_address, " http://host/ ");
    EXPECT_EQ(job.depth, 2);
    EXPECT_EQ(job.user_name, "f4");
    EXPECT_EQ(job.password, "f5");
    EXPECT_EQ(job.existing_policy, 3);
    EXPECT_EQ(job.destination, "f7");
    EXPECT_EQ(job.layout, 1);
    for (int k = 0; k < 4; ++k) {
        SCOPED_TRACE(k);
        const auto index = static_cast<std::size_t>(k);
        EXPECT_EQ(job.include_patterns[index].name, "f" + std::to_string(21 + 2 * k));
        EXPECT_EQ(job.include_patterns[index].extension, "f" + std::to_string(22 + 2 * k));
        EXPECT_EQ(job.exclude_patterns[index].name, "f" + std::to_string(31 + 2 * k));
        EXPECT_EQ(job.exclude_patterns[index].extension, "f" + std::to_string(32 + 2 * k));
    }
}
