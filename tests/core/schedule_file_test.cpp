#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <tuple>

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

} // namespace

TEST(ScheduleFile, LinesWriteBackByteForByteOwnerOnlyAndAFailedSaveKeepsTheOldFile) {
    TempDir dir;
    const std::string path = dir.file("planifs.txt");
    const std::string rest = numbered_line("f", 40).substr(4); // fields 2 to 40
    const std::string quoted_line = R"(" dire ""oui"",""non"" ")" + rest;
    // The second line is Windows-1252, as older versions wrote it; it comes back as UTF-8.
    write_file(path, example_line + "\"\xE9t\xE9\"" + rest + quoted_line);
    ::chmod(path.c_str(), 0644);
    ScheduleTable table;
    EXPECT_TRUE(load_schedule(dir.path() + "/", table).repairs.empty());
    ASSERT_EQ(table.line_count(), 3);
    EXPECT_EQ(table.line(1).field(field::destination), R"(C:\Images\Printemps)");
    EXPECT_EQ(table.line(3).field(field::title), " dire \"oui\",\"non\" ");
    ASSERT_EQ(save_schedule(dir.path() + "/", table), "");
    const std::string saved = example_line + "\"été\"" + rest + quoted_line;
    EXPECT_EQ(read_file(path), saved);
    EXPECT_EQ(static_cast<unsigned>(std::filesystem::status(path).permissions()), 0600u);
    table.line(1).set_field(field::title, std::string(8000, 'x'));
    {
        FileSizeLimit limit(4096);
        EXPECT_NE(save_schedule(dir.path() + "/", table), "");
    }
    EXPECT_EQ(read_file(path), saved);
    EXPECT_EQ(list_directory(dir.path()), std::vector<std::string>{"planifs.txt"});
}

TEST(ScheduleFile, MissingFileIsEmptyAnEmptyTableSavesZeroBytesAndAFolderFails) {
    TempDir dir;
    ScheduleTable table;
    EXPECT_TRUE(load_schedule(dir.path() + "/", table).ok);
    EXPECT_EQ(table.line_count(), 0);
    write_file(dir.file("planifs.txt"), example_line);
    ASSERT_EQ(save_schedule(dir.path() + "/", table), "");
    EXPECT_EQ(std::filesystem::file_size(dir.file("planifs.txt")), 0u);
    std::filesystem::create_directories(dir.file("d/planifs.txt"));
    EXPECT_FALSE(load_schedule(dir.file("d/"), table).ok);
}

TEST(ScheduleFile, DamagedFilesLoadWithAReportAndCopiesThatNeverOverwrite) {
    std::string many;
    for (int n = 1; n <= 201; ++n)
        many += numbered_line(std::to_string(n) + "-", 40);
    // The bytes: a short line, a long line, a blank line, 201 lines; the lines loaded, field 40 of the last.
    const std::tuple<std::string, int, std::string> cases[] = {
        {example_line + numbered_line("s", 38), 2, ""},
        {numbered_line("x", 42), 1, "x40"},
        {example_line + "\r\n" + numbered_line("b", 40), 2, "b40"},
        {many, 200, "200-40"}};
    for (const auto& [bytes, line_count, last_field] : cases) {
        SCOPED_TRACE(bytes.substr(0, 20));
        TempDir dir;
        const std::string path = dir.file("planifs.txt");
        write_file(path, bytes);
        ScheduleTable table;
        const LoadReport first = load_schedule(dir.path() + "/", table);
        EXPECT_EQ(first.repairs.size(), 1u);
        EXPECT_EQ(first.backup_path, path + ".bak");
        ASSERT_EQ(table.line_count(), line_count);
        EXPECT_EQ(table.line(line_count).field(field::count), last_field);
        write_file(path + ".bak", "older");
        EXPECT_EQ(load_schedule(dir.path() + "/", table).backup_path, path + ".bak-1");
        EXPECT_EQ(read_file(path + ".bak"), "older");
        EXPECT_EQ(read_file(path + ".bak-1"), bytes);
    }
}

TEST(ScheduleLine, RowTextTable) {
    // Depth, schedule kind, day step; then the route and schedule cells, the latter "" when not known.
    const std::array<std::string, 5> cases[] = {{"2", "0", "3", "Oui", "A la demande"},
                                                {"0", "1", "0", "Non", "Plusieurs fois par jour"},
                                                {"1", "2", "6", "Oui", "Tous les 7 jours"},
                                                {"1", "3", "0", "Oui", ""}};
    for (const auto& [depth, kind, day_step, route, schedule] : cases) {
        SCOPED_TRACE("kind " + kind + " step " + day_step);
        ScheduleLine line;
        line.set_field(field::title, "Galerie");
        line.set_field(field::depth, depth);
        line.set_field(field::schedule_kind, kind);
        line.set_field(field::day_interval_index, day_step);
        const RowText row = row_text(line);
        EXPECT_EQ(row.cells[2], route);
        EXPECT_EQ(row.cells[4], schedule);
        EXPECT_EQ(row.schedule_known, !schedule.empty());
    }
}

TEST(ScheduleFile, AFieldHoldingALineBreakIsRefusedAndNothingIsWritten) {
    TempDir dir;
    write_file(dir.file("planifs.txt"), example_line);
    for (const char* title : {"deux\nlignes", "retour\r"}) {
        ScheduleTable table;
        ScheduleLine line;
        line.set_field(field::title, title);
        table.append(line);
        EXPECT_NE(save_schedule(dir.path() + "/", table).find("saut de ligne"), std::string::npos) << title;
        EXPECT_EQ(read_file(dir.file("planifs.txt")), example_line);
    }
}
