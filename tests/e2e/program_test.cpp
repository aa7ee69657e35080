// The built program run as a separate process: its options, exit statuses and
// data folder, then runs against a small site served on 127.0.0.1.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <future>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

#include "program.h"
#include "support/test_server.h"

namespace {

TEST(CommandLine, StatusOutputAndScheduleLeftAsItWas) {
    struct Case {
        const char* name;
        std::vector<std::string> args;
        char obstacle; ///< 'l': the test holds the lock; 'p' / 'v': planifs.txt / verrou is a folder
        int status;
        std::string out;
        const char* err; ///< a part of the error output, or "" for none
    };
    StoredLine several(" Tour, du soir ", "https://h/", 3, "/img/b"), unknown_kind("Inconnu", "http://k/", 0, "/img/d");
    several.fields[9] = "1";
    unknown_kind.fields[9] = "7";
    // Nothing listens on port 1: a run that went ahead would still end, and stamp its line.
    const std::string planifs =
        StoredLine("Galerie", "http://127.0.0.1:1/", 0, "/img/a").text() + several.text() + unknown_kind.text();
    const std::string list = "1\tGalerie\thttp://127.0.0.1:1/\tNon\t/img/a\tA la demande\n"
                             "2\t Tour, du soir \thttps://h/\tOui\t/img/b\tPlusieurs fois par jour\n"
                             "3\tInconnu\thttp://k/\tNon\t/img/d\t\n";
    const Case cases[] = {
        {"--list", {"--list"}, ' ', 0, list, ""},
        {"--list does not wait for a run", {"--list"}, 'l', 0, list, ""},
        {"--version", {"--version"}, ' ', 0, "Quillmoor v2.0\n", ""},
        {"unknown option", {"--bogus"}, ' ', 2, "", "option inconnue : --bogus"},
        {"unknown title", {"--run", "Galeries"}, ' ', 2, "", "« Galeries »"},
        {"lock held by another process", {"--run", "Galerie"}, 'l', 3, "", "une autre instance"},
        {"planifs.txt unreadable", {"--run", "Galerie"}, 'p', 1, "", "planifs.txt"},
        {"lock unusable", {"--run", "Galerie"}, 'v', 1, "", "verrou"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TempDir home;
        const std::string folder = home.file("Qmr/");
        std::filesystem::create_directories(folder + (c.obstacle == 'v'   ? "verrou"
                                                      : c.obstacle == 'p' ? "planifs.txt"
                                                                          : ""));
        if (c.obstacle != 'p')
            write_file(folder + "planifs.txt", planifs);
        const int lock = open((folder + "verrou").c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_TRUE(c.obstacle != 'l' || flock(lock, LOCK_EX | LOCK_NB) == 0);

        const Ended result = run_program(c.args, {{"XDG_DATA_HOME", home.path()}});
        close(lock);
        EXPECT_EQ(result.status, c.status) << result.err;
        EXPECT_EQ(result.out, c.out);
        EXPECT_TRUE(*c.err ? result.err.find(c.err) != std::string::npos : result.err.empty()) << result.err;
        EXPECT_EQ(read_file(folder + "planifs.txt"), c.obstacle == 'p' ? "" : planifs);
    }
}

TEST(CommandLine, DataFolderUnderTheUserElseBesideTheProgram) {
    struct Case {
        const char* name;
        const char* xdg_data_home; ///< relative to the test's folder; "" unsets it
        const char* in_the_way;    ///< a file put there first, or ""
        const char* folder;        ///< the folder made, or "" for none
        int status;
    };
    const Case cases[] = {
        {"XDG_DATA_HOME", "xdg/data", "", "xdg/data/Qmr", 0},
        {"no XDG_DATA_HOME: under HOME", "", "", "home/.local/share/Qmr", 0},
        {"XDG_DATA_HOME unusable: beside the program", "file", "", "bin/qmrsetin", 0},
        {"no folder can be made", "file", "bin/qmrsetin", "", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // A copy of the program, so that its fallback folder lies in the test's folder.
        const TempDir root;
        std::filesystem::create_directories(root.file("bin"));
        std::filesystem::copy_file(QUILLMOOR_BINARY, root.file("bin/quillmoor"));
        write_file(root.file("file"), "x");
        if (*c.in_the_way)
            write_file(root.file(c.in_the_way), "x");
        const std::string xdg = *c.xdg_data_home ? root.file(c.xdg_data_home) : "";

        const Ended result =
            run_program({"--list"}, {{"XDG_DATA_HOME", xdg}, {"HOME", root.file("home")}}, root.file("bin/quillmoor"));
        EXPECT_EQ(result.status, c.status) << result.err;
        if (*c.folder) {
            EXPECT_EQ(std::filesystem::status(root.file(c.folder)).permissions(), std::filesystem::perms::owner_all);
        }
    }
}

std::string stamp_now() {
    const std::time_t now = std::time(nullptr);
    char text[32];
    std::strftime(text, sizeof text, "%Y/%m/%d %H:%M", std::localtime(&now));
    return text;
}

class SiteRun : public ::testing::Test {
protected:
    void SetUp() override {
        site_.server().Get("/.*", [this](const httplib::Request& request, httplib::Response& response) {
            if (request.path == "/slow.gif") {
                arrived_.set_value();
                // A byte every 5 ms for a minute: only a cancel ends the fetch early.
                response.set_chunked_content_provider("image/gif", [](std::size_t offset, httplib::DataSink& sink) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                    return offset < 12'000 && sink.write("G", 1);
                });
            } else if (const auto file = files_.find(request.path); file != files_.end()) {
                response.set_content(file->second, request.path.ends_with(".html") ? "text/html" : "image/gif");
            } else {
                response.status = 404;
                response.set_content("<html><body>404 Not Found</body></html>", "text/html");
            }
        });
        site_.start();
        std::filesystem::create_directories(folder());
    }

    std::string folder() const { return home_.file("Qmr/"); }

    // The server's handler uses these: declared first, they outlive it.
    TempDir home_;
    const std::map<std::string, std::string> files_ = {
        {"/index.html", "<img src=\"a.gif\"><img src=missing.gif >\n<a href=\"page2.html\">suite</a>"},
        {"/page2.html", "<IMG SRC='b.jpg'> <img src=\"a.gif\"> <a href=\"page3.html#haut\">3</a> <a href=index.html>"},
        {"/page3.html", "<img src=\"c.gif\">"},
        {"/lent.html", "<img src=\"slow.gif\"> <img src=\"a.gif\">"},
        {"/a.gif", "GIF89a" + std::string(2'000, 'a')},
        {"/b.jpg", "\xFF\xD8\xFF\xE0" + std::string(3'000, 'b')},
        {"/c.gif", "GIF89a" + std::string(2'500, 'c')}};
    std::promise<void> arrived_;
    TestServer site_;
};

TEST_F(SiteRun, CopiesTheImagesOfTwoLevelsCountsThemAndStampsItsLine) {
    const StoredLine other("Autre", site_.url("/page3.html"), 0, "/nulle/part");
    StoredLine line(" Galerie ", " " + site_.url("/index.html"), 1, home_.file("images"));
    write_file(folder() + "planifs.txt", other.text() + line.text());

    const std::string before = stamp_now();
    const Ended result = run_program({"--run", "Galerie"}, {{"XDG_DATA_HOME", home_.path()}});
    const std::string after = stamp_now();
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "1 page visitée\n2 pages visitées\n1 image copiée\n2 images copiées\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(list_directory(home_.file("images")), (std::vector<std::string>{"a.gif", "b.jpg"}));
    for (const std::string name : {"a.gif", "b.jpg"})
        EXPECT_EQ(read_file(home_.file("images/" + name)), files_.at("/" + name)) << name;

    // Only the run's date and time changed, on its own line.
    const std::string stored = read_file(folder() + "planifs.txt");
    line.fields[39] = stored.substr(stored.size() - 21, 10);
    line.fields[40] = stored.substr(stored.size() - 8, 5);
    EXPECT_EQ(stored, other.text() + line.text());
    EXPECT_LE(before, line.fields[39] + " " + line.fields[40]);
    EXPECT_LE(line.fields[39] + " " + line.fields[40], after);
}

TEST_F(SiteRun, SigintDuringAFetchStopsTheRunWithoutStamping) {
    const std::string planifs = StoredLine("Lent", site_.url("/lent.html"), 0, home_.file("images")).text();
    write_file(folder() + "planifs.txt", planifs);

    const Ended result =
        run_program({"--run", "Lent"}, {{"XDG_DATA_HOME", home_.path()}}, QUILLMOOR_BINARY, [this](pid_t child) {
            arrived_.get_future().wait_for(std::chrono::seconds(60)); // only a guard against hanging
            kill(child, SIGINT);
        });
    EXPECT_EQ(result.status, 130) << result.err;
    EXPECT_EQ(result.out, "1 page visitée\n");
    // Neither the image being fetched nor the next one is written.
    EXPECT_EQ(list_directory(home_.file("images")), std::vector<std::string>{});
    EXPECT_EQ(read_file(folder() + "planifs.txt"), planifs);
}

} // namespace
