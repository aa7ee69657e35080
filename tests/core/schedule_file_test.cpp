#include <gtest/gtest.h>

#include <sys/stat.h>

#include "schedule/schedule_file.h"
#include "schedule/schedule_line.h"
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

ScheduleLine titled_line(const std::string& title) {
    ScheduleLine line;
    line.set_field(field::title, title);
    return line;
}

} // namespace

TEST(ScheduleFile, ExampleLineReadsAndWritesBackIdenticallyOwnerOnly) {
    TempDir dir;
    write_file(dir.file("planifs.txt"), example_line);
    ::chmod(dir.file("planifs.txt").c_str(), 0644);
    ScheduleTable table;
    EXPECT_TRUE(load_schedule(dir.path() + "/", table).repairs.empty());
    ASSERT_EQ(table.line_count(), 1);
    EXPECT_EQ(table.line(1).field(field::destination), R"(C:\Images\Printemps)");
    save_schedule(dir.path() + "/", table);
    EXPECT_EQ(read_file(dir.file("planifs.txt")), example_line);
    struct stat status {};
    ASSERT_EQ(::stat(dir.file("planifs.txt").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
}

TEST(ScheduleFile, TitleWithCommasSpacesAndQuotesRoundTrips) {
    TempDir dir;
    ScheduleTable table;
    table.append(titled_line(" dire \"oui\",\"non\" "));
    save_schedule(dir.path() + "/", table);
    EXPECT_EQ(read_file(dir.file("planifs.txt")).rfind(R"(" dire ""oui"",""non"" ",)", 0), 0u);
    ScheduleTable loaded;
    load_schedule(dir.path() + "/", loaded);
    EXPECT_EQ(format_schedule(loaded), format_schedule(table));
}

TEST(ScheduleFile, MissingFileLoadsEmptyNoLinesSaveZeroBytesAndAFolderFails) {
    TempDir dir;
    ScheduleTable table;
    EXPECT_TRUE(load_schedule(dir.path() + "/", table).ok);
    EXPECT_EQ(table.line_count(), 0);
    write_file(dir.file("planifs.txt"), example_line);
    ASSERT_EQ(save_schedule(dir.path() + "/", table), "");
    EXPECT_TRUE(file_exists(dir.file("planifs.txt")));
    EXPECT_EQ(read_file(dir.file("planifs.txt")), "");
    ::mkdir(dir.file("d").c_str(), 0700);
    ::mkdir(dir.file("d/planifs.txt").c_str(), 0700);
    EXPECT_FALSE(load_schedule(dir.file("d/"), table).ok);
}

TEST(ScheduleFile, Windows1252LineLoadsAsUtf8BesideAUtf8Line) {
    TempDir dir;
    const std::string rest = numbered_line("f", 40).substr(4);
    write_file(dir.file("planifs.txt"), "\"\xE9t\xE9\"" + rest + "\"été\"" + rest);
    ScheduleTable table;
    load_schedule(dir.path() + "/", table);
    EXPECT_EQ(format_schedule(table), "\"été\"" + rest + "\"été\"" + rest);
}

TEST(ScheduleFile, DamagedFilesLoadWithAReportAndCopiesThatNeverOverwrite) {
    std::string many;
    for (int n = 1; n <= 201; ++n)
        many += numbered_line(std::to_string(n) + "-", 40);
    struct Case {
        const char* name;
        std::string bytes;
        int line_count;
        std::string last_field; // field 40 of the last loaded line
    };
    const Case cases[] = {
        {"short line", example_line + numbered_line("s", 38), 2, ""},
        {"long line", numbered_line("x", 42), 1, "x40"},
        {"blank line", example_line + "\r\n" + numbered_line("b", 40), 2, "b40"},
        {"more than 200 lines", many, 200, "200-40"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = dir.file("planifs.txt");
        write_file(path, c.bytes);
        ScheduleTable table;
        const LoadReport first = load_schedule(dir.path() + "/", table);
        EXPECT_EQ(first.repairs.size(), 1u);
        EXPECT_EQ(first.backup_path, path + ".bak");
        ASSERT_EQ(table.line_count(), c.line_count);
        EXPECT_EQ(table.line(c.line_count).field(field::count), c.last_field);
        write_file(path + ".bak", "older");
        EXPECT_EQ(load_schedule(dir.path() + "/", table).backup_path, path + ".bak-1");
        EXPECT_EQ(read_file(path + ".bak"), "older");
        EXPECT_EQ(read_file(path + ".bak-1"), c.bytes);
    }
}

TEST(ScheduleFile, FailedSaveKeepsTheOldFileWhole) {
    TempDir dir;
    write_file(dir.file("planifs.txt"), example_line);
    ScheduleTable big;
    big.append(titled_line(std::string(8000, 'x')));
    {
        FileSizeLimit limit(4096);
        EXPECT_NE(save_schedule(dir.path() + "/", big), "");
    }
    EXPECT_EQ(read_file(dir.file("planifs.txt")), example_line);
    EXPECT_EQ(list_directory(dir.path()), std::vector<std::string>{"planifs.txt"});
}

TEST(ScheduleLine, RowTextTable) {
    struct Case {
        std::string depth, kind, day_step, route, schedule; // schedule "": not known
    };
    const Case cases[] = {
        {"2", "0", "3", "Oui", "A la demande"},
        {"0", "1", "0", "Non", "Plusieurs fois par jour"},
        {"1", "2", "6", "Oui", "Tous les 7 jours"},
        {"1", "3", "0", "Oui", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("kind " + c.kind + " step " + c.day_step);
        ScheduleLine line = titled_line("Galerie");
        line.set_field(field::depth, c.depth);
        line.set_field(field::schedule_kind, c.kind);
        line.set_field(field::day_interval_index, c.day_step);
        const RowText row = row_text(line);
        EXPECT_EQ(row.cells[2], c.route);
        EXPECT_EQ(row.cells[4], c.schedule);
        EXPECT_EQ(row.schedule_known, !c.schedule.empty());
    }
}
