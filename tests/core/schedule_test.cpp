// The schedule layer: planifs.txt, its lines read for the grid and for a run, and the due rule.
#include "schedule/due_rule.h"
#include "schedule/job_from_line.h"
#include "schedule/schedule_file.h"
#include "schedule/schedule_line.h"

#include <gtest/gtest.h>

#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <tuple>

#include "support/file_size_limit.h"
#include "support/temp_dir.h"

namespace {

const std::string example_line =
    R"("Galerie de printemps","http://host/printemps/","2","","","2","C:\Images\Printemps","2","2","2","8","2","0",)"
    R"("1","1","1","1","1","0","0","","*","","*","","*","","*","c:","","","*","","*","","*","","*","2007/05/14",)"
    R"("08:45")"
    "\r\n";

/// A file line of `count` quoted fields "<prefix>1", "<prefix>2", ...
std::string numbered_line(const std::string& prefix, int count) {
    std::string out;
    for (int f = 1; f <= count; ++f)
        out += (f > 1 ? ",\"" : "\"") + prefix + std::to_string(f) + "\"";
    return out + "\r\n";
}

TEST(ScheduleFile, LinesWriteBackByteForByteReadableByTheOwnerOnly) {
    TempDir dir;
    const std::string folder = dir.path() + "/", path = dir.file("planifs.txt");
    ScheduleTable table;
    EXPECT_TRUE(load_schedule(folder, table).ok()) << "a missing file is an empty schedule";
    const std::string rest = numbered_line("f", 40).substr(4); // the fields after field::title
    const std::string quoted_line = R"(" dire ""oui"",""non"" ")" + rest;
    // The second line is Windows-1252, as older versions wrote it; it comes back as UTF-8.
    write_file(path, example_line + "\"\xE9t\xE9\"" + rest + quoted_line);
    ::chmod(path.c_str(), 0644);
    EXPECT_TRUE(load_schedule(folder, table)->repairs.empty());
    ASSERT_EQ(table.line_count(), 3);
    EXPECT_EQ(table.line(1).field(field::destination), R"(C:\Images\Printemps)");
    EXPECT_EQ(table.line(3).field(field::title), " dire \"oui\",\"non\" ");
    ASSERT_TRUE(save_schedule(folder, table).ok());
    const std::string saved = example_line + "\"été\"" + rest + quoted_line;
    EXPECT_EQ(read_file(path), saved);
    EXPECT_EQ(static_cast<unsigned>(std::filesystem::status(path).permissions()), 0600u);
    ASSERT_TRUE(save_schedule(folder, ScheduleTable{}).ok());
    EXPECT_EQ(read_file(path), "") << "an empty table saves an empty file";
    std::filesystem::create_directories(dir.file("d/planifs.txt"));
    EXPECT_FALSE(load_schedule(dir.file("d/"), table).ok());
}

TEST(ScheduleFile, DamagedFilesLoadRepairedWithoutWritingAndTheFirstSaveKeepsACopy) {
    const std::string line = numbered_line("f", 40);
    const std::string rest = line.substr(4, line.size() - 6); // the fields after field::title, no line end
    std::string lines_201, accents;
    for (int n = 0; n < 201; ++n)
        lines_201 += line;
    for (int n = 0; n < 400000; ++n)
        accents += "é";
    // The bytes; the lines loaded, the sentences of repairs, one field of the last line and its value.
    const std::tuple<std::string, int, std::size_t, int, std::string> cases[] = {
        {example_line + numbered_line("s", 38), 2, 1, field::count, ""},
        {numbered_line("x", 42), 1, 1, field::count, "x40"},
        {"\r\n" + example_line + " \t\r\n\n" + line + "  ", 2, 0, field::count, "f40"},
        {lines_201, 200, 1, field::count, "f40"},
        {'"' + std::string(max_field_length + 1, 'x') + '"' + rest, 1, 1, field::title,
         std::string(max_field_length, 'x')},
        {"\"a\rb\"" + rest, 1, 1, field::title, "ab"},
        // Far too long lines: the fields before the cut stay UTF-8 wherever the cut falls in a character.
        {"\"été\"" + rest + std::string(1000000, ','), 1, 2, field::title, "été"},
        {"\"été\"" + rest + ",\"" + accents, 1, 2, field::title, "été"},
        {"\"été\"" + rest + ",\"x" + accents, 1, 2, field::title, "été"},
    };
    for (const auto& [bytes, line_count, repairs, checked_field, value] : cases) {
        SCOPED_TRACE(bytes.substr(0, 20));
        TempDir dir;
        write_file(dir.file("planifs.txt"), bytes);
        ScheduleTable table;
        LoadReport report = *load_schedule(dir.path() + "/", table);
        EXPECT_EQ(report.repairs.size(), repairs);
        ASSERT_EQ(table.line_count(), line_count);
        EXPECT_EQ(table.line(line_count).field(checked_field), value);
        EXPECT_EQ(list_directory(dir.path()), std::vector<std::string>{"planifs.txt"}) << "a load writes nothing";
        ASSERT_TRUE(save_schedule(dir.path() + "/", table, &report).ok());
        EXPECT_EQ(report.backup_path, repairs ? dir.file("planifs.txt.bak") : "");
        EXPECT_TRUE(read_file(dir.file("planifs.txt.bak")) == (repairs ? bytes : ""));
        EXPECT_EQ(list_directory(dir.path()).size(), repairs ? 2u : 1u);
        EXPECT_TRUE(load_schedule(dir.path() + "/", table)->repairs.empty());
    }
}

TEST(ScheduleFile, CopiesAreNeverTwiceTheSameAndAtMostFiveTheOldestReplaced) {
    TempDir dir;
    const std::string path = dir.file("planifs.txt");
    auto save_over = [&](const std::string& damaged) {
        write_file(path, damaged);
        LoadReport report;
        EXPECT_TRUE(save_schedule(dir.path() + "/", ScheduleTable{}, &report).ok());
        return report.backup_path;
    };
    EXPECT_EQ(save_over("A"), path + ".bak");
    EXPECT_EQ(save_over("A"), path + ".bak");
    for (const std::string name : {"B", "C", "D", "E"})
        EXPECT_EQ(save_over(name), path + ".bak-" + std::to_string(name[0] - 'A'));
    const timespec long_ago[2] = {{1000, 0}, {1000, 0}};
    ::utimensat(AT_FDCWD, (path + ".bak-2").c_str(), long_ago, 0);
    EXPECT_EQ(save_over("F"), path + ".bak-2");
    EXPECT_EQ(read_file(path + ".bak-2") + read_file(path + ".bak-3"), "FD");
    EXPECT_EQ(list_directory(dir.path()).size(), 6u);
}

TEST(ScheduleFile, ASaveRefusedOrFailingPartWayLeavesTheFileAsItWas) {
    // What the file holds, the title to save. Files stop at 4096 bytes: the last two cases fail part-way.
    const std::pair<std::string, std::string> cases[] = {{example_line, "a\nb"},
                                                         {example_line, "a\rb"},
                                                         {example_line, std::string(max_field_length + 1, 'x')},
                                                         {example_line, std::string(max_field_length, 'x')},
                                                         {numbered_line("d", 39) + std::string(20000, 'x'), "ok"}};
    for (const auto& [on_disk, title] : cases) {
        SCOPED_TRACE(title.substr(0, 10));
        TempDir dir;
        write_file(dir.file("planifs.txt"), on_disk);
        ScheduleTable table;
        table.append(ScheduleLine{});
        table.line(1).set_field(field::title, title);
        FileSizeLimit limit(4096);
        EXPECT_FALSE(save_schedule(dir.path() + "/", table).ok());
        EXPECT_EQ(read_file(dir.file("planifs.txt")), on_disk);
        EXPECT_EQ(list_directory(dir.path()), std::vector<std::string>{"planifs.txt"});
    }
}

TEST(ScheduleFile, OnlyLeftoverTemporaryFilesOfSavesAreRemoved) {
    TempDir dir;
    for (const char* name : {".planifs.txt.Ab3xYz", ".planifs.txt.000000", ".planifs.txt.Ab3xYz1",
                             ".planifs.txt.Ab_xYz", ".pref1.txt.Ab3xYz", "planifs.txt"})
        write_file(dir.file(name), "x");
    std::filesystem::create_directory(dir.file(".planifs.txt.folder"));
    std::filesystem::create_symlink("planifs.txt", dir.file(".planifs.txt.linkto"));
    EXPECT_EQ(remove_leftover_save_files(dir.path() + "/"), 2);
    const std::vector<std::string> kept{".planifs.txt.Ab3xYz1", ".planifs.txt.Ab_xYz", ".planifs.txt.folder",
                                        ".planifs.txt.linkto",  ".pref1.txt.Ab3xYz",   "planifs.txt"};
    EXPECT_EQ(list_directory(dir.path()), kept);
}

TEST(ScheduleLine, RowText) {
    // Depth, schedule kind, day step; then the route and schedule cells, the latter "" when not known.
    const std::array<std::string, 5> cases[] = {{"0", "2", "6", "Non", "Tous les 7 jours"}, {"2", "3", "0", "Oui", ""}};
    for (const auto& [depth, kind, day_step, route, schedule] : cases) {
        SCOPED_TRACE("kind " + kind + " step " + day_step);
        ScheduleLine line;
        line.set_field(field::depth, depth);
        line.set_field(field::schedule_kind, kind);
        line.set_field(field::day_interval_index, day_step);
        const RowText row = row_text(line);
        EXPECT_EQ(row.cells[2], route);
        EXPECT_EQ(row.cells[4], schedule);
        EXPECT_EQ(row.schedule_known, !schedule.empty());
    }
}

TEST(JobFromLine, LeadingNumberAndPatternPairs) {
    const std::pair<const char*, int> numbers[] = {{" 3", 3}, {"2.5", 3}, {"2.4", 2}, {"abc", 0}, {"", 0}, {"4x", 4}};
    for (const auto& [text, value] : numbers)
        EXPECT_EQ(leading_number(text), value) << text;
    // Every field its own text: the pattern pairs come from their own fields.
    ScheduleLine line;
    for (int f = 1; f <= field::count; ++f)
        line.set_field(f, 'f' + std::to_string(f));
    const ExtractionJob job = job_from_line(line);
    std::string patterns;
    for (const PatternSet& set : {job.include_patterns, job.exclude_patterns})
        for (const PatternPair& pair : set)
            patterns += pair.name + "." + pair.extension + " ";
    EXPECT_EQ(patterns, "f21.f22 f23.f24 f25.f26 f27.f28 f31.f32 f33.f34 f35.f36 f37.f38 ");
}

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

TEST(DueRule, Table) {
    const Case cases[] = {
        // Daily from 08:30, stored Monday at 10:00 (or 07:00): not that Monday, then Tuesday from 08:30.
        {.now = "2007/05/14 23:59"},
        {.time = "07:00", .now = "2007/05/14 09:00"},
        {.now = "2007/05/15 08:29"},
        {.now = "2007/05/15 08:30", .want = due},
        // Monday only: the first Monday on or after the next date.
        {.weekdays = "1000000", .now = "2007/05/15 09:00"},
        {.weekdays = "1000000", .now = "2007/05/21 08:30", .want = due},
        {.hour = "9", .quarter = "3", .now = "2007/05/15 09:44"},
        {.hour = "9", .quarter = "3", .now = "2007/05/15 09:45", .want = due},
        {.hour = "08", .now = "2007/05/15 08:30", .want = due},
        // Every 7 days across a year, every day across a leap day.
        {.step = "6", .date = "2007/12/30", .now = "2008/01/05 09:00"},
        {.step = "6", .date = "2007/12/30", .now = "2008/01/06 09:00", .want = due},
        {.date = "2008/02/28", .now = "2008/02/29 09:00", .want = due},
        // Several times a day: from a minute before the last run plus the interval (the timer's ticks are not
        // exact), across midnight and days.
        {.kind = "1", .time = "09:40", .now = "2007/05/14 10:38"},
        {.kind = "1", .time = "09:40", .now = "2007/05/14 10:39", .want = due},
        {.kind = "1", .interval = "1", .time = "09:50", .now = "2007/05/14 10:19", .want = due},
        {.kind = "1", .interval = "3", .time = "09:50", .now = "2007/05/14 13:48"},
        {.kind = "1", .interval = "4", .time = "20:00", .now = "2007/05/14 23:00"},
        {.kind = "1", .interval = "4", .time = "20:00", .now = "2007/05/15 03:59", .want = due},
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
}

} // namespace
