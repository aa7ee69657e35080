// The built program as a separate process: options, exit statuses, data folder, runs against a site on 127.0.0.1.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <future>
#include <sys/file.h>

#include "program.h"
#include "support/test_server.h"

namespace {

namespace fs = std::filesystem;

TEST(CommandLine, StatusOutputDataFolderAndScheduleLeftAsItWas) {
    struct Case {
        const char* name;
        std::vector<std::string> args;
        const char* xdg;  ///< XDG_DATA_HOME in the test's folder, "" to unset it
        char obstacle;    ///< 'l': the test holds the lock; 'p' / 'v' / 'q': planifs.txt / verrou / qmrsetin in the way
        const char* made; ///< the data folder the program must make, 0700; "" when the test prepares xdg/Qmr
        int status;
        std::string out;
        const char* err; ///< a part of the error output, or "" for none
    };
    // Nothing listens on port 1: a run that went ahead would still end, and stamp its line.
    const std::string planifs = StoredLine{"Galerie", "http://127.0.0.1:1/", "0", "/img/a"}.text() +
                                StoredLine{" Tour, du soir ", "https://h/", "3", "/img/b", "1"}.text() +
                                StoredLine{"Inconnu", "http://k/", "0", "/img/d", "7"}.text();
    const std::string list = "1\tGalerie\thttp://127.0.0.1:1/\tNon\t/img/a\tA la demande\n"
                             "2\t Tour, du soir \thttps://h/\tOui\t/img/b\tPlusieurs fois par jour\n"
                             "3\tInconnu\thttp://k/\tNon\t/img/d\t\n";
    const Case cases[] = {
        {"--list", {"--list"}, "xdg", ' ', "", 0, list, ""},
        {"--list does not wait for a run", {"--list"}, "xdg", 'l', "", 0, list, ""},
        {"--version", {"--version"}, "xdg", ' ', "", 0, "Quillmoor v2.0\n", ""},
        {"unknown option", {"--bogus"}, "xdg", ' ', "", 2, "", "option inconnue : --bogus"},
        {"unknown title", {"--run", "Galeries"}, "xdg", ' ', "", 2, "", "« Galeries »"},
        {"lock held by another process", {"--run", "Galerie"}, "xdg", 'l', "", 3, "", "une autre instance"},
        {"planifs.txt unreadable", {"--run", "Galerie"}, "xdg", 'p', "", 1, "", "planifs.txt"},
        {"lock unusable", {"--run", "Galerie"}, "xdg", 'v', "", 1, "", "verrou"},
        {"made under XDG_DATA_HOME", {"--list"}, "new", ' ', "new/Qmr", 0, "", ""},
        {"no XDG_DATA_HOME: under HOME", {"--list"}, "", ' ', "home/.local/share/Qmr", 0, "", ""},
        {"XDG_DATA_HOME unusable: beside the program", {"--list"}, "quillmoor", ' ', "qmrsetin", 0, "", ""},
        {"no folder can be made", {"--list"}, "quillmoor", 'q', "", 1, "", "Aucun dossier de données"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // A copy of the program, so that its fallback folder lies in the test's folder.
        const TempDir root;
        const std::string folder = root.file("xdg/Qmr/");
        fs::copy_file(QUILLMOOR_BINARY, root.file("quillmoor"));
        if (c.obstacle == 'q')
            write_file(root.file("qmrsetin"), "x");
        fs::create_directories(folder + (c.obstacle == 'v' ? "verrou" : c.obstacle == 'p' ? "planifs.txt" : ""));
        if (c.obstacle != 'p')
            write_file(folder + "planifs.txt", planifs);
        const int lock = open((folder + "verrou").c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_TRUE(c.obstacle != 'l' || flock(lock, LOCK_EX | LOCK_NB) == 0);

        const auto [status, out, err] =
            run_program(c.args, {*c.xdg ? "XDG_DATA_HOME=" + root.file(c.xdg) : "--unset=XDG_DATA_HOME",
                                 "HOME=" + root.file("home"), root.file("quillmoor")});
        close(lock);
        EXPECT_EQ(status, c.status) << err;
        EXPECT_EQ(out, c.out);
        EXPECT_TRUE(*c.err ? err.find(c.err) != std::string::npos : err.empty()) << err;
        EXPECT_EQ(read_file(folder + "planifs.txt"), c.obstacle == 'p' ? "" : planifs);
        EXPECT_TRUE(!*c.made || fs::status(root.file(c.made)).permissions() == fs::perms::owner_all) << c.made;
    }
}

TEST(SiteRun, CopiesTwoLevelsAndStampsItsLineThenStopsOnSigintWithoutStamping) {
    const TempDir home;
    const std::string schedule = home.file("Qmr/planifs.txt");
    const std::map<std::string, std::string> files = {
        {"/index.html", "<img src=\"a.gif\"><img src=missing.gif >\n<a href=\"page2.html\">suite</a>"},
        {"/page2.html", "<IMG SRC='b.jpg'> <img src=\"a.gif\"> <a href=\"page3.html#haut\">3</a> <a href=index.html>"},
        {"/page3.html", "<img src=\"c.gif\">"},
        {"/lent.html", "<img src=\"slow.gif\"> <img src=\"a.gif\">"},
        {"/a.gif", "GIF89a" + std::string(2'000, 'a')},
        {"/b.jpg", "\xFF\xD8\xFF\xE0" + std::string(3'000, 'b')},
        {"/c.gif", "GIF89a" + std::string(2'500, 'c')}};
    std::promise<void> arrived;
    TestServer site; // last: it stops before what its handler uses goes
    site.server().Get("/.*", [&](const httplib::Request& request, httplib::Response& response) {
        if (request.path == "/slow.gif") {
            arrived.set_value();
            // A byte every 5 ms for a minute: only a cancel ends the fetch early.
            response.set_chunked_content_provider("image/gif", [](std::size_t offset, httplib::DataSink& sink) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                return offset < 12'000 && sink.write("G", 1);
            });
        } else if (const auto file = files.find(request.path); file != files.end()) {
            response.set_content(file->second, request.path.ends_with(".html") ? "text/html" : "image/gif");
        } else {
            response.status = 404;
            response.set_content("<html><body>404 Not Found</body></html>", "text/html");
        }
    });
    site.start();
    fs::create_directories(home.file("Qmr"));
    const StoredLine other{"Autre", site.url("/page3.html"), "0", "/nulle/part"};
    StoredLine line{" Galerie ", " " + site.url("/index.html"), "1", home.file("images")};
    write_file(schedule, other.text() + line.text());

    const std::string before = stamp_now();
    auto [status, out, err] = run_program({"--run", "Galerie"}, {"XDG_DATA_HOME=" + home.path(), QUILLMOOR_BINARY});
    const std::string after = stamp_now();
    EXPECT_EQ(status, 0) << err;
    EXPECT_EQ(out + err, "1 page visitée\n2 pages visitées\n1 image copiée\n2 images copiées\n");
    EXPECT_EQ(list_directory(home.file("images")), (std::vector<std::string>{"a.gif", "b.jpg"}));
    for (const std::string name : {"a.gif", "b.jpg"})
        EXPECT_EQ(read_file(home.file("images/" + name)), files.at("/" + name)) << name;
    // Only the run's date and time changed, on its own line.
    const std::string stored = read_file(schedule);
    line.date = stored.substr(stored.size() - 21, 10), line.time = stored.substr(stored.size() - 8, 5);
    EXPECT_EQ(stored, other.text() + line.text());
    EXPECT_TRUE(before <= line.date + " " + line.time && line.date + " " + line.time <= after) << stored;

    // SIGINT once the slow image is on its way.
    const std::string planifs = StoredLine{"Lent", site.url("/lent.html"), "0", home.file("lent")}.text();
    write_file(schedule, planifs);
    std::tie(status, out, err) =
        run_program({"--run", "Lent"}, {"XDG_DATA_HOME=" + home.path(), QUILLMOOR_BINARY}, [&](pid_t child) {
            arrived.get_future().wait_for(std::chrono::seconds(60)); // only a guard against hanging
            kill(child, SIGINT);
        });
    EXPECT_EQ(status, 130) << err;
    EXPECT_EQ(out, "1 page visitée\n");
    // Neither the image being fetched nor the next one is written.
    EXPECT_EQ(list_directory(home.file("lent")), std::vector<std::string>{});
    EXPECT_EQ(read_file(schedule), planifs);
}

} // namespace
