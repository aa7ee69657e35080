// The built program as a separate process: options, exit statuses, data folder, runs against a site on 127.0.0.1.
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <future>
#include <poll.h>
#include <regex>
#include <sys/file.h>
#include <thread>

#include "app/window_launcher.h"
#include "program.h"
#include "support/test_server.h"

namespace {

namespace fs = std::filesystem;

/// Waits up to five seconds for another process to hold the lock file `path`.
bool locked_elsewhere(const std::string& path) {
    for (int tries = 0; tries < 100; ++tries) {
        const int probe = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        const bool held = probe >= 0 && flock(probe, LOCK_EX | LOCK_NB) != 0;
        close(probe);
        if (held)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

/// Waits up to ten seconds for process `pid` to have a handler for SIGTERM.
bool catches_sigterm(pid_t pid) {
    for (int tries = 0; tries < 200; ++tries) {
        const std::string status = read_file("/proc/" + std::to_string(pid) + "/status");
        if (const auto at = status.find("SigCgt:");
            at != std::string::npos && (std::stoull(status.substr(at + 7), nullptr, 16) >> (SIGTERM - 1) & 1))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

TEST(CommandLine, StatusOutputDataFolderAndScheduleLeftAsItWas) {
    struct Case {
        const char* name;
        std::vector<std::string> args;
        const char* xdg; ///< XDG_DATA_HOME in the test's folder, "" to unset it
        /// 'l': the test holds the lock; 'p' / 'v' / 'q': planifs.txt / verrou / qmrsetin in the way; 'r': xdg/Qmr
        /// read-only; 'o': standard output on a full disk
        char obstacle;
        const char* made; ///< the data folder the program must make, 0700; "" when the test prepares xdg/Qmr
        int status;
        std::string out;
        const char* err; ///< a part of the error output, or "" for none
        int stamped = -1;
    };
    // Nothing listens on port 1: a run that went ahead would still end, and stamp its line.
    const std::vector<StoredLine> lines = {{"Galerie", "http://127.0.0.1:1/", "0", "/img/a"},
                                           {" Tour, du soir ", "https://h/", "3", "/img/b", "1"},
                                           {"Inconnu", "http://k/", "0", "/img/d", "7"},
                                           {"Printemps", "http://127.0.0.1:1/", "0", "C:\\Images\\Printemps"}};
    const std::string planifs = schedule_text(lines);
    const std::string list = "1\tGalerie\thttp://127.0.0.1:1/\tNon\t/img/a\tA la demande\n"
                             "2\t Tour, du soir \thttps://h/\tOui\t/img/b\tPlusieurs fois par jour\n"
                             "3\tInconnu\thttp://k/\tNon\t/img/d\t\n"
                             "4\tPrintemps\thttp://127.0.0.1:1/\tNon\tC:\\Images\\Printemps\tA la demande\n";
    const Case cases[] = {
        {"--list", {"--list"}, "xdg", ' ', "", 0, list, ""},
        {"--list does not wait for a run", {"--list"}, "xdg", 'l', "", 0, list, ""},
        {"--list on a full disk", {"--list"}, "xdg", 'o', "", 1, "", "sortie standard"},
        {"--version", {"--version"}, "xdg", ' ', "", 0, "Quillmoor v2.0\n", ""},
        {"unknown option", {"--bogus"}, "xdg", ' ', "", 2, "", "option inconnue : --bogus"},
        {"unknown title", {"--run", "Galeries"}, "xdg", ' ', "", 2, "", "« Galeries »"},
        {"start page unreachable", {"--run", "Galerie"}, "xdg", ' ', "", 4, "1 page visitée\n", "lue (réseau).", 0},
        {"relative destination", {"--run", "Printemps"}, "xdg", ' ', "", 1, "", "n'est pas un chemin absolu."},
        {"lock held by another process", {"--run", "Galerie"}, "xdg", 'l', "", 3, "", "une autre instance"},
        {"planifs.txt unreadable", {"--run", "Galerie"}, "xdg", 'p', "", 1, "", "planifs.txt"},
        {"lock unusable", {"--run", "Galerie"}, "xdg", 'v', "", 1, "", "verrou"},
        {"read-only data folder", {"--run", "Galerie"}, "xdg", 'r', "", 1, "", "xdg/Qmr n'est pas accessible"},
        {"made under XDG_DATA_HOME", {"--list"}, "new", ' ', "new/Qmr", 0, "", ""},
        {"no XDG_DATA_HOME: under HOME", {"--list"}, "", ' ', "home/.local/share/Qmr", 0, "", ""},
        {"XDG_DATA_HOME unusable: beside the program", {"--list"}, "quillmoor", ' ', "qmrsetin", 0, "", "qmrsetin/ :"},
        {"no folder can be made", {"--list"}, "quillmoor", 'q', "", 1, "", "Aucun dossier de données"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        set_clock_to_five_past_five();
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
        if (c.obstacle == 'r')
            fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);

        const auto [status, out, err] =
            run_program(c.args,
                        {*c.xdg ? "XDG_DATA_HOME=" + root.file(c.xdg) : "--unset=XDG_DATA_HOME",
                         "HOME=" + root.file("home"), root.file("quillmoor")},
                        {.output_full = c.obstacle == 'o'});
        close(lock);
        EXPECT_EQ(status, c.status) << err;
        EXPECT_EQ(out, c.out);
        EXPECT_TRUE(*c.err ? err.find(c.err) != std::string::npos : err.empty()) << err;
        EXPECT_EQ(read_file(folder + "planifs.txt"), c.obstacle == 'p' ? "" : schedule_text(lines, c.stamped));
        EXPECT_TRUE(!*c.made || fs::status(root.file(c.made)).permissions() == fs::perms::owner_all) << c.made;
    }
}

TEST(SiteRun, ExitStatusOutputImagesAndStamp) {
    struct Case {
        const char* name;
        const char* page;
        /// 'r': read-only destination; 'f': files capped at 2 500 bytes; 'p': output read through a pipe, closed
        /// after two lines while the third page stalls; 'i': SIGINT once the slow image is on its way; 'a': with
        /// every image format (pref2.txt); 'd' / 'o': the database damaged / read-only; 'u': run a second time
        char setup;
        int status;
        const char* files; ///< the destination's content
        std::string out;
        std::string err;         ///< without "quillmoor : " and ".\n"; "DEST" stands for the destination
        const char* memory = ""; ///< a part of the line that tells of the database, "" for none
    };
    // a.gif is tried again for its second reference when the first attempt failed, and counted once. Nothing is
    // fetched for a destination that cannot be written.
    const Case cases[] = {
        {"two levels", "index", ' ', 0, "a.gif b.jpg",
         "1 page visitée\n2 pages visitées\n1 image copiée\n2 images copiées\n",
         "1 image n'a pas pu être téléchargée (réponse d'erreur du serveur)"},
        {"read-only destination", "index", 'r', 4, "", "1 page visitée\n2 pages visitées\n",
         "3 images n'ont pas pu être écrites dans « DEST » (disque)"},
        {"full disk", "index", 'f', 4, "a.gif", "1 page visitée\n2 pages visitées\n1 image copiée\n",
         "1 image n'a pas pu être téléchargée (réponse d'erreur du serveur) ; 1 image n'a pas pu être écrite dans "
         "« DEST » (disque)",
         "n'est pas utilisable (erreur d'entrée-sortie du disque) : les extractions se font sans elle"},
        {"database damaged", "index", 'd', 0, "a.gif b.jpg",
         "1 page visitée\n2 pages visitées\n1 image copiée\n2 images copiées\n",
         "1 image n'a pas pu être téléchargée (réponse d'erreur du serveur)", "mise de côté sous « DATA.bak »"},
        {"database read-only", "index", 'o', 0, "a.gif b.jpg",
         "1 page visitée\n2 pages visitées\n1 image copiée\n2 images copiées\n",
         "1 image n'a pas pu être téléchargée (réponse d'erreur du serveur)",
         "n'est pas utilisable (fichier en "
         "lecture seule)"},
        {"second run", "index", 'u', 0, "a.gif b.jpg", "1 page visitée\n2 pages visitées\n",
         "1 image n'a pas pu être téléchargée (réponse d'erreur du serveur) ; 2 images inchangées, laissées telles "
         "quelles"},
        {"addresses with spaces", "espaces", ' ', 0, "c.gif mon image.gif",
         "1 page visitée\n2 pages visitées\n1 image copiée\n2 images copiées\n", ""},
        {"start page not found", "absent", ' ', 4, "", "1 page visitée\n",
         "1 page n'a pas pu être lue (réponse d'erreur du serveur)"},
        {"output closed during a stall", "attente", 'p', 0, "a.gif b.jpg c.gif", "1 page visitée\n2 pages visitées\n",
         ""},
        {"SIGINT", "lent", 'i', 130, "", "1 page visitée\n",
         "extraction interrompue ; planifs.txt n'a pas été modifié"},
        {"every image format, p.png twice: the same bytes left as they are", "formats", 'a', 0,
         "p.png s.svg v.avif w.webp",
         "1 page visitée\n1 image copiée\n2 images copiées\n3 images copiées\n4 images copiées\n",
         "1 image inchangée, laissée telle quelle"},
    };
    const std::map<std::string, std::string> files = {
        {"/index.html", "<img src=\"a.gif\"><img src=missing.gif >\n<a href=\"page2.html\">suite</a>"},
        {"/page2.html", "<IMG SRC='b.jpg'> <img src=\"a.gif\"> <a href=\"page3.html#haut\">3</a> <a href=index.html>"},
        {"/page3.html", "<img src=\"c.gif\">"},
        {"/attente.html", "<a href=page3.html >3</a> <a href=pause.html >4</a> <img src=\"a.gif\">"},
        {"/pause.html", "<img src=\"b.jpg\">"},
        {"/espaces.html", "<img src=\"../mon image.gif\"> <a href=\"page 3.html\">3</a>"},
        {"/page 3.html", "<img src=\"c.gif\">"},
        {"/mon image.gif", "GIF89a" + std::string(2'100, 'm')},
        {"/lent.html", "<img src=\"slow.gif\"> <img src=\"a.gif\">"},
        {"/a.gif", "GIF89a" + std::string(2'000, 'a')},
        {"/b.jpg", "\xFF\xD8\xFF\xE0" + std::string(3'000, 'b')},
        {"/c.gif", "GIF89a" + std::string(2'500, 'c')},
        {"/formats.html", R"(<img src="p.png" srcset="p.png 1x, w.webp 2x"><img src=s.svg?v=3 ><img src="p.png?x=2">)"
                          R"-(<p style="background:url('v.avif')">)-"},
        {"/p.png", "\x89PNG\r\n\x1A\n" + std::string(2'000, 'p')},
        {"/w.webp", "RIFF\x10\x01\x01\x01WEBPVP8 "},
        {"/v.avif", "\x01\x01\x01\x1C"
                    "ftypavif"},
        {"/s.svg", R"(<svg xmlns="http://www.w3.org/2000/svg"/>)"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        set_clock_to_five_past_five();
        std::promise<void> arrived, released;
        bool released_in_time = true;
        TestServer site; // last: it stops before what its handler uses goes
        site.server().Get("/.*", [&](const httplib::Request& request, httplib::Response& response) {
            if (request.path == "/slow.gif") {
                arrived.set_value();
                // A byte every 5 ms for a minute: only a cancel ends the fetch early.
                response.set_chunked_content_provider("image/gif", [](std::size_t offset, httplib::DataSink& sink) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                    return offset < 12'000 && sink.write("G", 1);
                });
                return;
            }
            // The program must have shown the texts before, while this fetch waits.
            if (request.path == "/pause.html")
                released_in_time = released.get_future().wait_for(std::chrono::seconds(5)) == std::future_status::ready;
            const auto file = files.find(request.path);
            if (file == files.end())
                response.status = 404;
            // Its images as a server that keeps validators sends them.
            if (const std::string etag = '"' + request.path + '"';
                file != files.end() && request.path != "/index.html") {
                response.set_header("ETag", etag);
                if (request.get_header_value("If-None-Match") == etag)
                    return static_cast<void>(response.status = 304);
            }
            response.set_content(file != files.end() ? file->second : "<html><body>404 Not Found</body></html>",
                                 request.path.ends_with(".html") ? "text/html" : "image/gif");
        });
        site.start();
        const TempDir home;
        const std::string schedule = home.file("Qmr/planifs.txt"), destination = home.file("mes images/été");
        fs::create_directories(home.file("Qmr"));
        const std::vector<StoredLine> lines{
            {"Autre", site.url("/page3.html"), "0", "/nulle/part"},
            {" Galerie ", " " + site.url("/" + std::string(c.page) + ".html"), "1", destination}};
        write_file(schedule, schedule_text(lines));
        if (c.setup == 'r')
            fs::create_directories(destination),
                fs::permissions(destination, fs::perms::owner_read | fs::perms::owner_exec);
        if (c.setup == 'a')
            write_file(home.file("Qmr/pref2.txt"), "\"1\"\r\n");
        const std::string database = home.file("Qmr/quillmoor.db");
        if (c.setup == 'd' || c.setup == 'o')
            write_file(database, c.setup == 'd' ? "damaged" : "");
        if (c.setup == 'o')
            fs::permissions(database, fs::perms::owner_read);

        Supervision supervision{.file_size_limit = c.setup == 'f' ? 2'500 : RLIM_INFINITY};
        if (c.setup == 'i') {
            supervision.watch = [&](pid_t child, int out) {
                arrived.get_future().wait_for(std::chrono::seconds(60)); // only a guard against hanging
                kill(child, SIGINT);
                return read_lines(out);
            };
        } else if (c.setup == 'p') {
            // As `| head -2` would: read two lines, then go away.
            supervision.watch = [&](pid_t, int out) {
                const std::string text = read_lines(out, 2);
                released.set_value();
                return text;
            };
        }
        const std::vector<std::string> program{"XDG_DATA_HOME=" + home.path(), QUILLMOOR_BINARY};
        fs::file_time_type written;
        if (c.setup == 'u')
            run_program({"--run", "Galerie"}, program), written = fs::last_write_time(destination + "/a.gif");
        auto [status, out, err] = run_program({"--run", "Galerie"}, program, supervision);
        // What the database had to tell, on a line of its own before the summary.
        std::string told;
        if (const auto at = err.find("quillmoor : la mémoire "); at != std::string::npos)
            told = err.substr(at, err.find('\n', at) + 1 - at), err.erase(at, told.size());
        const std::string memory = std::regex_replace(c.memory, std::regex("DATA"), database);
        EXPECT_TRUE(memory.empty() ? told.empty() : told.find(memory) != std::string::npos) << told;
        EXPECT_TRUE(c.setup != 'u' || fs::last_write_time(destination + "/a.gif") == written) << "left as it was";
        EXPECT_EQ(status, c.status) << err;
        EXPECT_EQ(out, c.out);
        std::string expected_err = c.err;
        if (const auto at = expected_err.find("DEST"); at != std::string::npos)
            expected_err.replace(at, 4, destination);
        EXPECT_EQ(err, expected_err.empty() ? "" : "quillmoor : " + expected_err + ".\n");
        EXPECT_TRUE(released_in_time);
        std::string names;
        for (const auto& name : list_directory(destination)) {
            names += (names.empty() ? "" : " ") + name;
            EXPECT_EQ(read_file(destination + "/" + name), files.at("/" + name)) << name;
        }
        EXPECT_EQ(names, c.files);
        EXPECT_EQ(fs::exists(home.file("mes images")), *c.files || c.setup == 'r') << "made for nothing";
        // Only the run's date and time changed, on its own line.
        EXPECT_EQ(read_file(schedule), schedule_text(lines, c.status == 130 ? -1 : 1));
    }
}

TEST(Window, OfTwoStartedAtOnceOneSaysSoTheOtherWaitsForTheLockAndRunWillNotWriteBeside) {
    const TempDir root;
    const std::string folder = root.file("xdg/Qmr/");
    fs::create_directories(folder);
    fs::create_directories(root.file("run"));
    fs::permissions(root.file("run"), fs::perms::owner_all);
    // Damaged: a message waits at start-up, and the stop must not wait for its answer.
    const std::string planifs =
        schedule_text({{"Galerie", "http://127.0.0.1:1/", "0", root.file("images")}}) + "\"court\"\r\n";
    write_file(folder + "planifs.txt", planifs);
    // Held as a `quillmoor --run` from cron would hold it.
    const int lock = open((folder + "verrou").c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_EQ(flock(lock, LOCK_EX | LOCK_NB), 0);
    const std::vector<std::string> command{"QT_QPA_PLATFORM=offscreen", "XDG_DATA_HOME=" + root.file("xdg"),
                                           "XDG_RUNTIME_DIR=" + root.file("run"), QUILLMOOR_BINARY};
    std::atomic<int> ended{0};
    bool waited = false, took_lock = false, stopped = false;
    std::tuple<int, std::string, std::string> run;
    // The one that says the other is open ends by itself. The other waits for the lock, takes it once the test lets
    // it go, makes a --run beside it give up, and ends on SIGTERM without asking.
    const Supervision supervision{.watch = [&](pid_t child, int out) {
        pollfd output{out, POLLIN, 0};
        for (int waiting = 0; waiting < 10'000 && ended == 0 && poll(&output, 1, 50) == 0; waiting += 50) {
        }
        if (poll(&output, 1, 0) == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            waited = waitpid(child, nullptr, WNOHANG) == 0;
            close(lock);
            took_lock = locked_elsewhere(folder + "verrou");
            run = run_program({"--run", "Galerie"}, command);
            kill(child, SIGTERM);
            stopped = poll(&output, 1, 5000) == 1;
            if (!stopped)
                kill(child, SIGKILL);
        }
        ++ended;
        return read_lines(out);
    }};
    auto other = std::async(std::launch::async, [&] { return run_program({}, command, supervision); });
    const auto [one, one_out, one_err] = run_program({}, command, supervision);
    const auto [two, two_out, two_err] = other.get();

    EXPECT_TRUE(waited) << "the window did not wait for the lock";
    EXPECT_TRUE(took_lock);
    EXPECT_TRUE(stopped) << "SIGTERM did not end the window";
    EXPECT_EQ(one, 0);
    EXPECT_EQ(two, 0);
    const std::string said = "quillmoor : Quillmoor est déjà ouvert ; sa fenêtre passe au premier plan.\n";
    EXPECT_NE(one_err.find(said) == std::string::npos, two_err.find(said) == std::string::npos) << one_err << two_err;
    const auto [status, out, err] = run;
    EXPECT_EQ(status, 3);
    EXPECT_NE(err.find("une autre instance de Quillmoor"), std::string::npos) << err;
    EXPECT_EQ(read_file(folder + "planifs.txt"), planifs);
    EXPECT_FALSE(fs::exists(root.file("images")));
}

// Installed as a packager would, the window keeps its data beside quillmoor when it must keep them beside the
// program, where --run looks. SIGTERM before the window exists, while a message waits (the warning about that folder,
// or the wait for the lock that another Quillmoor holds), ends the program as it ends the window: with status 0.
TEST(Window, InstalledKeepsItsDataBesideQuillmoorAndEndsOnSigtermBeforeItsWindowExists) {
    const TempDir root;
    const std::string prefix = root.file("usr");
    const auto [installed, listed, install_err] =
        run_program({"--install", QUILLMOOR_BUILD_DIR, "--prefix", prefix}, {QUILLMOOR_CMAKE});
    ASSERT_EQ(installed, 0) << install_err;
    fs::create_directories(root.file("xdg/Qmr"));
    fs::create_directories(root.file("run"));
    fs::permissions(root.file("run"), fs::perms::owner_all);
    write_file(root.file("file"), "");
    const int lock = open(root.file("xdg/Qmr/verrou").c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_EQ(flock(lock, LOCK_EX | LOCK_NB), 0);
    for (const std::string& data : {root.file("file"), root.file("xdg")}) {
        SCOPED_TRACE(data);
        // Killed when SIGTERM did not end it: its status then tells.
        const Supervision supervision{.watch = [](pid_t child, int output) {
            pollfd ended{output, POLLIN, 0};
            if (catches_sigterm(child) && kill(child, SIGTERM) == 0)
                poll(&ended, 1, 10'000);
            kill(child, SIGKILL);
            return read_lines(output);
        }};
        const auto [status, out, err] = run_program({},
                                                    {"QT_QPA_PLATFORM=offscreen", "XDG_DATA_HOME=" + data,
                                                     "XDG_RUNTIME_DIR=" + root.file("run"), prefix + "/bin/quillmoor"},
                                                    supervision);
        EXPECT_EQ(status, 0) << err;
    }
    close(lock);
    EXPECT_TRUE(fs::is_directory(prefix + "/bin/qmrsetin"));
    EXPECT_FALSE(fs::exists(prefix + "/libexec/quillmoor/qmrsetin"));
}

// Without a folder of its own, the program never runs a window found through the current folder.
TEST(Window, NeverLookedForThroughTheCurrentFolder) {
    const TempDir here;
    fs::create_directories(here.file("sub"));
    const fs::path previous = fs::current_path();
    fs::current_path(here.path());
    for (const std::string folder : {"", "sub/"}) {
        fs::copy_file(QUILLMOOR_BINARY, folder + window_program_name);
        EXPECT_EQ(find_window_program(folder), "") << folder;
    }
    fs::current_path(previous);
}

} // namespace
