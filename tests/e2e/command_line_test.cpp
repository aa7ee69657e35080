// The program's command line, run as a separate process: options, --list and
// the exit statuses that need no web site.
#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

#include "program.h"
#include "stored_line.h"
#include "support/temp_dir.h"

namespace {

/// A data home for one test, with its Qmr folder and planifs.txt.
struct DataHome {
    TempDir home;
    std::string folder() const { return home.file("Qmr/"); }
    EnvironmentChanges environment() const { return {{"XDG_DATA_HOME", home.path()}}; }
    void store(const std::string& planifs) const {
        std::filesystem::create_directories(folder());
        write_file(folder() + "planifs.txt", planifs);
    }
};

TEST(CommandLine, OptionsWithoutData) {
    struct Case {
        std::vector<std::string> args;
        int exit_code;
        std::string out_start;
        std::string err_start;
    };
    const Case cases[] = {
        {{"--version"}, 0, "Quillmoor v2.0\n", ""},
        {{"--help"}, 0, "Utilisation : quillmoor", ""},
        {{}, 0, "Utilisation : quillmoor", ""},
        {{"--bogus"}, 2, "", "quillmoor : option inconnue : --bogus"},
        {{"--run"}, 2, "", "quillmoor : --run demande"},
        {{"--version", "extra"}, 2, "", "quillmoor : argument en trop : extra"},
        {{"--run", "A", "B"}, 2, "", "quillmoor : argument en trop : B"},
    };
    const DataHome data;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "(none)" : c.args[0]);
        const ProgramResult result = run_program(c.args, data.environment());
        EXPECT_EQ(result.exit_code, c.exit_code);
        EXPECT_EQ(result.out.substr(0, c.out_start.size()), c.out_start);
        EXPECT_EQ(result.err.substr(0, c.err_start.size()), c.err_start);
        if (c.exit_code == 2) { // a usage error shows the usage where errors go
            EXPECT_NE(result.err.find("Utilisation : quillmoor"), std::string::npos);
        }
    }
}

TEST(CommandLine, ListShowsNumberAndGridCells) {
    const DataHome data;
    StoredLine on_demand = StoredLine::extraction("Galerie, de printemps", "http://h/p/", 0, "/img/a");
    StoredLine several = StoredLine::extraction(" Tour ", "https://h/", 3, "/img/b");
    several.fields[9] = "1";
    StoredLine every_days = StoredLine::extraction("Jours", "http://j/", 1, "/img/c");
    every_days.fields[9] = "2";
    every_days.fields[13] = "1";
    StoredLine unknown_kind = StoredLine::extraction("Inconnu", "http://k/", 0, "/img/d");
    unknown_kind.fields[9] = "7";
    data.store(on_demand.text() + several.text() + every_days.text() + unknown_kind.text());

    const ProgramResult result = run_program({"--list"}, data.environment());
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.out, "1\tGalerie, de printemps\thttp://h/p/\tNon\t/img/a\tA la demande\n"
                          "2\t Tour \thttps://h/\tOui\t/img/b\tPlusieurs fois par jour\n"
                          "3\tJours\thttp://j/\tOui\t/img/c\tTous les 2 jours\n"
                          "4\tInconnu\thttp://k/\tNon\t/img/d\t\n");
    EXPECT_EQ(result.err, "");
}

TEST(CommandLine, EmptyDataHomeGetsAPrivateFolderAndAnEmptyList) {
    const DataHome data;
    const ProgramResult result = run_program({"--list"}, {{"XDG_DATA_HOME", data.home.file("new/share")}});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.out, "");
    struct stat status {};
    ASSERT_EQ(stat(data.home.file("new/share/Qmr").c_str(), &status), 0);
    EXPECT_TRUE(S_ISDIR(status.st_mode));
    EXPECT_EQ(status.st_mode & 0777, 0700u);
}

TEST(CommandLine, UnusableScheduleOrLockExitsWithOne) {
    struct Case {
        const char* name;
        const char* directory_in_the_way;
    };
    const Case cases[] = {{"planifs.txt is a directory", "planifs.txt"}, {"the lock is a directory", "verrou"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const DataHome data;
        std::filesystem::create_directories(data.folder() + c.directory_in_the_way);
        const ProgramResult result = run_program({"--run", "Galerie"}, data.environment());
        EXPECT_EQ(result.exit_code, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_NE(result.err, "");
    }
}

TEST(CommandLine, UnknownTitleExitsWithTwoAndChangesNothing) {
    const DataHome data;
    const std::string planifs = StoredLine::extraction("Galerie", "http://127.0.0.1:1/", 0, "/tmp/x").text();
    data.store(planifs);
    const ProgramResult result = run_program({"--run", "Galeries"}, data.environment());
    EXPECT_EQ(result.exit_code, 2);
    EXPECT_NE(result.err.find("« Galeries »"), std::string::npos) << result.err;
    EXPECT_EQ(read_file(data.folder() + "planifs.txt"), planifs);
}

TEST(CommandLine, UnusableUserFolderFallsBackBesideTheProgram) {
    // A copy of the program, so that its fallback folder lies in a temporary place.
    const TempDir place;
    std::filesystem::create_directories(place.file("bin"));
    std::filesystem::copy_file(QUILLMOOR_BINARY, place.file("bin/quillmoor"));
    write_file(place.file("not-a-folder"), "x");
    const EnvironmentChanges environment{{"XDG_DATA_HOME", place.file("not-a-folder")}};

    ProgramResult result = run_program({"--list"}, environment, place.file("bin/quillmoor"));
    EXPECT_EQ(result.exit_code, 0) << result.err;
    struct stat status {};
    ASSERT_EQ(stat(place.file("bin/qmrsetin").c_str(), &status), 0);
    EXPECT_TRUE(S_ISDIR(status.st_mode));

    // With the fallback unusable too, nothing is left to work in.
    std::filesystem::remove(place.file("bin/qmrsetin"));
    write_file(place.file("bin/qmrsetin"), "x");
    result = run_program({"--list"}, environment, place.file("bin/quillmoor"));
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_NE(result.err, "");
}

} // namespace
