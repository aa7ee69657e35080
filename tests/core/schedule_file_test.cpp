#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>

#include "schedule/schedule_file.h"
#include "schedule/schedule_line.h"
#include "schedule/text_encoding.h"
#include "support/file_size_limit.h"
#include "support/temp_dir.h"

namespace {

// The line of an extraction run at 08:30 on weekdays, two levels deep,
// replacing images, building a tree, as a Windows machine stored it.
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
    line.set_field(field::start_address, "http://host/");
    line.set_field(field::last_run_date, "2007/05/14");
    line.set_field(field::last_run_time, "08:45");
    return line;
}

mode_t permissions(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    return status.st_mode & 07777;
}

} // namespace

TEST(ScheduleFile, ExampleLineReadsAndWritesBackIdentically) {
    TempDir dir;
    write_file(dir.file("planifs.txt"), example_line);

    ScheduleTable table;
    const LoadReport report = load_schedule(dir.path() + "/", table);
    ASSERT_TRUE(report.ok) << report.error;
    EXPECT_TRUE(report.repairs.empty());
    EXPECT_TRUE(report.backup_path.empty());
    ASSERT_EQ(table.line_count(), 1);
    const ScheduleLine& line = table.line(1);
    EXPECT_EQ(line.field(field::title), "Galerie de printemps");
    EXPECT_EQ(line.field(field::destination), R"(C:\Images\Printemps)");
    EXPECT_EQ(line.field(field::start_hour), "8");
    EXPECT_EQ(line.field(field::sunday), "0");
    EXPECT_EQ(line.field(field::first_include + 1), "*");
    EXPECT_EQ(line.field(field::drive), "c:");
    EXPECT_EQ(line.field(field::reserved), "");
    EXPECT_EQ(line.field(field::last_run_date), "2007/05/14");
    EXPECT_EQ(line.field(field::last_run_time), "08:45");

    EXPECT_EQ(format_schedule(table), example_line);
    ASSERT_EQ(save_schedule(dir.path() + "/", table), "");
    EXPECT_EQ(read_file(dir.file("planifs.txt")), example_line);
}

TEST(ScheduleFile, FieldTextsAreQuotedAndReadBackUnchanged) {
    struct Case {
        std::string text;
        std::string written; // the field as it appears in the file
    };
    const Case cases[] = {
        {"  Galerie, de printemps ", "\"  Galerie, de printemps \""},
        {"Créer été", "\"Créer été\""},
        {"dire \"bonjour\"", "\"dire \"\"bonjour\"\"\""},
        {"\"", "\"\"\"\""},
        {"a\",\"b", "\"a\"\",\"\"b\""},
        {"", "\"\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        TempDir dir;
        ScheduleTable table;
        ScheduleLine line = titled_line(c.text);
        line.set_field(field::password, c.text);
        ASSERT_TRUE(table.append(line));
        ASSERT_EQ(save_schedule(dir.path() + "/", table), "");

        std::string expected = c.written + ",\"http://host/\",\"\",\"\"," + c.written;
        for (int f = field::password + 1; f < field::last_run_date; ++f)
            expected += ",\"\"";
        expected += ",\"2007/05/14\",\"08:45\"\r\n";
        EXPECT_EQ(read_file(dir.file("planifs.txt")), expected);

        ScheduleTable loaded;
        const LoadReport report = load_schedule(dir.path() + "/", loaded);
        EXPECT_TRUE(report.repairs.empty());
        ASSERT_EQ(loaded.line_count(), 1);
        EXPECT_EQ(loaded.line(1), line);
    }
}

TEST(ScheduleFile, EmptyScheduleIsAnEmptyFileAndAMissingFileIsEmpty) {
    TempDir dir;
    ScheduleTable table;
    table.append(titled_line("stale"));
    EXPECT_TRUE(load_schedule(dir.path() + "/", table).ok);
    EXPECT_EQ(table.line_count(), 0);
    EXPECT_TRUE(list_directory(dir.path()).empty());

    write_file(dir.file("planifs.txt"), example_line);
    ASSERT_EQ(save_schedule(dir.path() + "/", table), "");
    ASSERT_TRUE(file_exists(dir.file("planifs.txt")));
    EXPECT_EQ(read_file(dir.file("planifs.txt")), "");

    table.append(titled_line("stale"));
    const LoadReport report = load_schedule(dir.path() + "/", table);
    EXPECT_TRUE(report.ok);
    EXPECT_TRUE(report.repairs.empty());
    EXPECT_EQ(table.line_count(), 0);
}

TEST(ScheduleFile, UnreadableFileIsAnError) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("planifs.txt"));
    ScheduleTable table;
    table.append(titled_line("stale"));
    const LoadReport report = load_schedule(dir.path() + "/", table);
    EXPECT_FALSE(report.ok);
    EXPECT_NE(report.error.find(dir.file("planifs.txt")), std::string::npos) << report.error;
    EXPECT_EQ(table.line_count(), 0);
}

TEST(ScheduleFile, ToleratedVariationsNeedNoRepair) {
    struct Case {
        const char* name;
        std::string bytes;
        int line_count;
        std::vector<std::pair<int, std::string>> fields; // of the last line
    };
    const std::string sound = numbered_line("f", 40);
    const std::string lf_only = sound.substr(0, sound.size() - 2) + "\n";
    const Case cases[] = {
        {"LF line ends", lf_only + lf_only, 2, {{1, "f1"}, {40, "f40"}}},
        {"no final line end", sound + sound.substr(0, sound.size() - 2), 2, {{1, "f1"}, {40, "f40"}}},
        {"spaces between fields", " \"a\" , \"b\"\t," + sound.substr(sound.find("\"f3\"")), 1, {{1, "a"}, {2, "b"}}},
        {"unquoted numbers", "\"t\",\"u\",2 , 3" + sound.substr(sound.find(",\"f5\"")), 1, {{3, "2"}, {4, "3"}}},
        {"quote written unescaped",
         "\"dire \"oui\" ici\"" + sound.substr(sound.find(",\"f2\"")),
         1,
         {{1, "dire \"oui\" ici"}, {2, "f2"}}},
        {"byte-order mark", "\xEF\xBB\xBF" + sound, 1, {{1, "f1"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        write_file(dir.file("planifs.txt"), c.bytes);
        ScheduleTable table;
        const LoadReport report = load_schedule(dir.path() + "/", table);
        EXPECT_TRUE(report.ok);
        EXPECT_TRUE(report.repairs.empty()) << report.repairs.front();
        EXPECT_TRUE(report.backup_path.empty());
        EXPECT_EQ(list_directory(dir.path()), std::vector<std::string>{"planifs.txt"});
        ASSERT_EQ(table.line_count(), c.line_count);
        for (const auto& [number, text] : c.fields)
            EXPECT_EQ(table.line(c.line_count).field(number), text) << "field " << number;
    }
}

TEST(ScheduleFile, EachLineIsDecodedOnItsOwn) {
    TempDir dir;
    // Line 1 in the Windows 8-bit code page, line 2 in UTF-8.
    const std::string windows = "\"Galerie d'\xE9t\xE9 \x80\"" + numbered_line("w", 40).substr(4);
    const std::string utf8 = "\"Créer une nouvelle version\"" + numbered_line("u", 40).substr(4);
    write_file(dir.file("planifs.txt"), windows + utf8);

    ScheduleTable table;
    const LoadReport report = load_schedule(dir.path() + "/", table);
    EXPECT_TRUE(report.repairs.empty());
    ASSERT_EQ(table.line_count(), 2);
    EXPECT_EQ(table.line(1).field(field::title), "Galerie d'été €");
    EXPECT_EQ(table.line(1).field(2), "w2");
    EXPECT_EQ(table.line(2).field(field::title), "Créer une nouvelle version");

    ASSERT_EQ(save_schedule(dir.path() + "/", table), "");
    EXPECT_EQ(read_file(dir.file("planifs.txt")),
              "\"Galerie d'été €\"" + windows.substr(windows.find(",\"w2\"")) + utf8);
}

TEST(TextEncoding, Windows1252BytesBecomeTheirCharacters) {
    struct Case {
        std::string byte;
        std::string utf8;
    };
    const Case cases[] = {
        {"A", "A"},           {"\xE9", "é"},
        {"\x80", "€"},        {"\x9F", "Ÿ"},
        {"\x92", "\u2019"},   {"\x81", "\xC2\x81"},
        {"\x8D", "\xC2\x8D"}, {"\x8F", "\xC2\x8F"},
        {"\x90", "\xC2\x90"}, {"\x9D", "\xC2\x9D"},
        {"\xA0", "\xC2\xA0"}, {"\xFF", "ÿ"},
        {"\x7F", "\x7F"},     {std::string(1, '\0'), std::string(1, '\0')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(static_cast<unsigned char>(c.byte[0])));
        EXPECT_EQ(windows1252_to_utf8(c.byte), c.utf8);
    }
}

TEST(TextEncoding, Utf8ValidityIsStrict) {
    struct Case {
        const char* name;
        std::string bytes;
        bool valid;
    };
    const Case cases[] = {
        {"two bytes", "été", true},
        {"four bytes", "\xF0\x9F\x98\x80", true},
        {"Windows-1252 accents", "\xE9t\xE9", false},
        {"cut short", "a\xC3", false},
        {"overlong", "\xC0\xAF", false},
        {"surrogate", "\xED\xA0\x80", false},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(is_valid_utf8(c.bytes), c.valid);
    }
}

TEST(ScheduleFile, DamagedFilesLoadAndTheOriginalIsKept) {
    std::string many;
    for (int n = 1; n <= 203; ++n)
        many += numbered_line("l" + std::to_string(n) + "-", 40);
    struct Case {
        const char* name;
        std::string bytes;
        int line_count;
        std::vector<std::string> repairs;
        std::vector<std::pair<int, std::string>> fields; // of the last loaded line
    };
    const Case cases[] = {
        {"short line",
         example_line + numbered_line("s", 38),
         2,
         {"Ligne 2 : 38 champs au lieu de 40, complétée par des champs vides."},
         {{38, "s38"}, {39, ""}, {40, ""}}},
        {"long line",
         numbered_line("x", 42) + example_line,
         2,
         {"Ligne 1 : 42 champs au lieu de 40, les champs en trop sont ignorés."},
         {{1, "Galerie de printemps"}}},
        {"one field",
         "bonjour\r\n",
         1,
         {"Ligne 1 : 1 champ au lieu de 40, complétée par des champs vides."},
         {{1, "bonjour"}, {2, ""}}},
        {"blank lines",
         example_line + "\r\n  \r\n" + numbered_line("b", 40) + "\n",
         2,
         {"Ligne 2 : ligne vide ignorée.", "Ligne 3 : ligne vide ignorée.", "Ligne 5 : ligne vide ignorée."},
         {{1, "b1"}, {40, "b40"}}},
        {"more than 200 lines",
         many,
         200,
         {"3 lignes au-delà de la 200e n'ont pas été chargées (200 planifications au plus)."},
         {{1, "l200-1"}, {40, "l200-40"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = dir.file("planifs.txt");
        write_file(path, c.bytes);
        ScheduleTable table;
        const LoadReport report = load_schedule(dir.path() + "/", table);
        EXPECT_TRUE(report.ok);
        EXPECT_EQ(report.repairs, c.repairs);
        ASSERT_EQ(table.line_count(), c.line_count);
        for (const auto& [number, text] : c.fields)
            EXPECT_EQ(table.line(c.line_count).field(number), text) << "field " << number;

        EXPECT_EQ(report.backup_path, path + ".bak");
        EXPECT_EQ(read_file(path + ".bak"), c.bytes);
        EXPECT_EQ(permissions(path + ".bak"), 0600u);
        EXPECT_EQ(read_file(path), c.bytes) << "loading never rewrites the file";
    }
}

TEST(ScheduleFile, KeptCopyNeverReplacesAnEarlierOne) {
    TempDir dir;
    const std::string path = dir.file("planifs.txt");
    const std::string damaged = numbered_line("d", 12);
    write_file(path, damaged);
    write_file(path + ".bak", "older");
    write_file(path + ".bak-1", "old");

    ScheduleTable table;
    EXPECT_EQ(load_schedule(dir.path() + "/", table).backup_path, path + ".bak-2");
    EXPECT_EQ(load_schedule(dir.path() + "/", table).backup_path, path + ".bak-3");
    EXPECT_EQ(read_file(path + ".bak"), "older");
    EXPECT_EQ(read_file(path + ".bak-1"), "old");
    EXPECT_EQ(read_file(path + ".bak-2"), damaged);
    EXPECT_EQ(read_file(path + ".bak-3"), damaged);
}

TEST(ScheduleFile, FailedCopyIsReportedAndLeavesNothingBehind) {
    TempDir dir;
    std::string many;
    for (int n = 1; n <= 201; ++n)
        many += numbered_line("l", 40);
    write_file(dir.file("planifs.txt"), many);

    ScheduleTable table;
    LoadReport report;
    {
        FileSizeLimit limit(4096);
        report = load_schedule(dir.path() + "/", table);
    }
    EXPECT_TRUE(report.ok);
    EXPECT_EQ(table.line_count(), 200);
    EXPECT_TRUE(report.backup_path.empty());
    ASSERT_EQ(report.repairs.size(), 2u);
    EXPECT_NE(report.repairs[1].find("n'a pas pu être copié"), std::string::npos) << report.repairs[1];
    EXPECT_EQ(list_directory(dir.path()), std::vector<std::string>{"planifs.txt"});
}

TEST(ScheduleFile, FailedSaveKeepsThePreviousFile) {
    ScheduleTable big;
    for (int n = 1; n <= 100; ++n)
        big.append(titled_line("Galerie " + std::to_string(n)));

    {
        SCOPED_TRACE("disk full half-way");
        TempDir dir;
        write_file(dir.file("planifs.txt"), example_line);
        std::string failure;
        {
            FileSizeLimit limit(4096);
            failure = save_schedule(dir.path() + "/", big);
        }
        EXPECT_NE(failure.find(dir.file("planifs.txt")), std::string::npos) << failure;
        EXPECT_EQ(read_file(dir.file("planifs.txt")), example_line);
        EXPECT_EQ(list_directory(dir.path()), std::vector<std::string>{"planifs.txt"});
    }
    {
        SCOPED_TRACE("planifs.txt is a folder");
        TempDir dir;
        std::filesystem::create_directory(dir.file("planifs.txt"));
        write_file(dir.file("planifs.txt/inside"), "x");
        EXPECT_NE(save_schedule(dir.path() + "/", big), "");
        EXPECT_EQ(read_file(dir.file("planifs.txt/inside")), "x");
        EXPECT_EQ(list_directory(dir.path()), std::vector<std::string>{"planifs.txt"});
    }
}

TEST(ScheduleFile, SavedFileIsReadableByItsOwnerOnly) {
    TempDir dir;
    write_file(dir.file("planifs.txt"), example_line);
    ::chmod(dir.file("planifs.txt").c_str(), 0644);
    ScheduleTable table;
    table.append(titled_line("Galerie"));
    ASSERT_EQ(save_schedule(dir.path() + "/", table), "");
    EXPECT_EQ(permissions(dir.file("planifs.txt")), 0600u);
}

TEST(ScheduleLine, RowTextTable) {
    struct Case {
        std::string depth, kind, day_step;
        std::string route, schedule; // cells 2 and 4
        bool known;
    };
    const Case cases[] = {
        {"2", "0", "3", "Oui", "A la demande", true},
        {"0", "1", "0", "Non", "Plusieurs fois par jour", true},
        {"4", "2", "0", "Oui", "Tous les jours", true},
        {"1", "2", "1", "Oui", "Tous les 2 jours", true},
        {"0", "2", "6", "Non", "Tous les 7 jours", true},
        {"1", "2", "7", "Oui", "", false},
        {"1", "2", "", "Oui", "", false},
        {"1", "2", "x", "Oui", "", false},
        {"1", "3", "0", "Oui", "", false},
        {"1", "", "0", "Oui", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("depth " + c.depth + " kind " + c.kind + " step " + c.day_step);
        ScheduleLine line = titled_line(" Galerie ");
        line.set_field(field::destination, "/home/images");
        line.set_field(field::depth, c.depth);
        line.set_field(field::schedule_kind, c.kind);
        line.set_field(field::day_interval_index, c.day_step);
        line.set_field(field::interval_index, "4");
        const RowText row = row_text(line);
        EXPECT_EQ(row.cells[0], " Galerie ");
        EXPECT_EQ(row.cells[1], "http://host/");
        EXPECT_EQ(row.cells[2], c.route);
        EXPECT_EQ(row.cells[3], "/home/images");
        EXPECT_EQ(row.schedule_known, c.known);
        if (c.known) {
            EXPECT_EQ(row.cells[4], c.schedule);
        }
    }
}

TEST(ScheduleLine, FindTitleComparesTrimmedTitles) {
    ScheduleTable table;
    for (const char* title : {"  Alpha ", "Beta", "Alpha", "\tGamma"})
        table.append(titled_line(title));
    struct Case {
        const char* wanted;
        int number;
    };
    const Case cases[] = {
        {"Alpha", 1}, {" Alpha  ", 1}, {"Beta ", 2}, {"alpha", 0}, {"Gamma", 0}, {"\tGamma", 4}, {"", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.wanted);
        EXPECT_EQ(table.find_title(c.wanted), c.number);
    }
}

TEST(ScheduleLine, TableHoldsTwoHundredLinesAndRemovalMovesLinesUp) {
    ScheduleTable table;
    for (int n = 1; n <= ScheduleTable::max_lines; ++n)
        ASSERT_TRUE(table.append(titled_line(std::to_string(n))));
    EXPECT_FALSE(table.append(titled_line("201")));
    table.remove(3);
    EXPECT_EQ(table.line_count(), 199);
    EXPECT_EQ(table.line(3).field(field::title), "4");
}
