// The program: its command line in this process, then the built program as a separate process, against sites
// on 127.0.0.1.
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <future>
#include <poll.h>
#include <regex>
#include <sstream>
#include <sys/file.h>
#include <thread>

#include "app/data_folder.h"
#include "app/headless_runner.h"
#include "app/instance_lock.h"
#include "app/window_launcher.h"
#include "program.h"
#include "schedule/clock.h"
#include "support/fake_transfer.h"
#include "support/site.h"
#include "support/time_zone.h"

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

TEST(CommandLine, StatusOutputDataFolderImagesAndSchedule) {
    struct Case {
        const char* name;
        std::vector<std::string> args;
        /// 'l': the test holds the lock; 'p' / 'v' / 'q': planifs.txt / verrou / qmrsetin in the way; 'o': the
        /// output fails; 'n' / 'f': the start page unreachable / not found; 'd': a file where the destination goes;
        /// 't': SIGTERM came
        char obstacle;
        int status;
        std::string out;
        std::string err;          ///< a part of the error output, or "" for none
        const char* xdg = "xdg";  ///< XDG_DATA_HOME in the test's folder, "" for none; "file" and "qmrsetin" are files
        const char* made = "";    ///< the data folder that must be made, 0700; "" when the test prepares xdg/Qmr
        std::string journal = ""; ///< a part of what --journal prints then, "D" for each date and time
    };
    const TempDir images;
    const std::string destination = images.file("été");
    // Images and pages that fail in every way: missing.gif and p.html are not found, error.gif is an error page, and
    // what is not served is unreachable (lost.gif, listed twice and counted once, q.html). Or a start page not found.
    FakeTransfer site, start_not_found, unreachable;
    site.serve("http://site/", "<img src=a.gif ><img src=missing.gif ><img src=error.gif ><img src=lost.gif >"
                               "<img src=lost.gif ><a href=p.html ><a href=q.html >");
    site.serve("http://site/a.gif", "GIF89a");
    site.serve("http://site/error.gif", "<html>");
    for (const std::string missing : {"http://site/missing.gif", "http://site/p.html"})
        site.serve(missing, "", 404);
    start_not_found.serve("http://site/", "", 404);
    const std::vector<StoredLine> lines = {{"Galerie", "http://site/", "1", destination},
                                           {" Tour, du soir ", "https://h/", "3", "/img/b", "1"},
                                           {"Printemps", "http://site/", "0", "C:\\Images\\Printemps"}};
    const std::string list = "1\tGalerie\thttp://site/\tOui\t" + destination + "\tA la demande\n" +
                             "2\t Tour, du soir \thttps://h/\tOui\t/img/b\tPlusieurs fois par jour\n"
                             "3\tPrintemps\thttp://site/\tNon\tC:\\Images\\Printemps\tA la demande\n";
    const std::string visited = "1 page visitée\n2 pages visitées\n3 pages visitées\n", run = "--run";
    const std::string journaled = "D\tGalerie\tterminal\t",
                      failures = "\n\nÉchecs de la dernière extraction (« Galerie », D) :\n";
    const Case cases[] = {
        {"--list", {"--list"}, ' ', 0, list, ""},
        {"--list does not wait for a run", {"--list"}, 'l', 0, list, ""},
        {"--list on a full disk", {"--list"}, 'o', 1, "", "sortie standard"},
        {"--version", {"--version"}, ' ', 0, "Quillmoor v2.0\n", ""},
        {"unknown option", {"--bogus"}, ' ', 2, "", "option inconnue : --bogus"},
        {"unknown title", {run, "Galeries"}, ' ', 2, "", "« Galeries »"},
        {"what failed, told",
         {run, "Galerie"},
         ' ',
         0,
         visited + "1 image copiée\n",
         "quillmoor : 1 page n'a pas pu être lue (réseau) ; 1 page n'a pas pu être lue (réponse d'erreur du serveur) ; "
         "1 image n'a pas pu être téléchargée (réseau) ; 2 images n'ont pas pu être téléchargées (réponse d'erreur du "
         "serveur).\n",
         "xdg",
         "",
         journaled + "incomplète\t\t3 pages visitées, 1 image copiée, 0 inchangée, 3 en échec" + failures +
             "http://site/p.html\tréponse du serveur : 404\nhttp://site/q.html\tréseau : unreachable\n"
             "http://site/missing.gif\tréponse du serveur : 404\nhttp://site/error.gif\tréponse du serveur : 200 sans "
             "image\nhttp://site/lost.gif\tréseau : unreachable\n"},
        {"start page unreachable", {run, "Galerie"}, 'n', 4, "1 page visitée\n", "lue (réseau)."},
        {"start page not found",
         {run, "Galerie"},
         'f',
         4,
         "1 page visitée\n",
         "lue (réponse d'erreur du serveur).",
         "xdg",
         "",
         failures + "http://site/\tréponse du serveur : 404\n"},
        {"destination unusable",
         {run, "Galerie"},
         'd',
         4,
         visited,
         "4 images n'ont pas pu être écrites dans « ",
         "xdg",
         "",
         "\nhttp://site/a.gif\tdisque : "},
        {"stopped", {run, "Galerie"}, 't', 143, "", "interrompue", "xdg", "", journaled + "interrompue\t"},
        {"--journal of an unknown title", {"--journal", "Galeries"}, ' ', 2, "", "« Galeries »"},
        {"--journal of a title not run yet",
         {"--journal", " Printemps"},
         ' ',
         0,
         "Aucune extraction de « Printemps » n'est notée dans le journal.\n",
         ""},
        {"relative destination", {run, "Printemps"}, ' ', 1, "", "n'est pas un chemin absolu."},
        {"lock held by another process", {run, "Galerie"}, 'l', 3, "", "une autre instance"},
        {"planifs.txt unreadable", {run, "Galerie"}, 'p', 1, "", "planifs.txt"},
        {"lock unusable", {run, "Galerie"}, 'v', 1, "", "verrou"},
        {"made under XDG_DATA_HOME", {"--list"}, ' ', 0, "", "", "new", "new/Qmr"},
        {"no XDG_DATA_HOME: under HOME", {"--list"}, ' ', 0, "", "", "", "home/.local/share/Qmr"},
        {"XDG_DATA_HOME unusable: beside the program", {"--list"}, ' ', 0, "", "qmrsetin/ :", "file", "qmrsetin"},
        {"no folder can be made", {"--list"}, 'q', 1, "", "Aucun dossier de données", "qmrsetin"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TimeZone five_past_five(zone_at_five_past_five().c_str());
        const TempDir root; // the program's folder too
        const std::string folder = root.file("xdg/Qmr/");
        write_file(root.file(c.obstacle == 'q' ? "qmrsetin" : "file"), "");
        fs::create_directories(folder + (c.obstacle == 'v' ? "verrou" : c.obstacle == 'p' ? "planifs.txt" : ""));
        if (c.obstacle != 'p')
            write_file(folder + "planifs.txt", schedule_text(lines));
        if (c.obstacle == 'd')
            write_file(destination, "");
        InstanceLock held;
        ASSERT_TRUE(c.obstacle != 'l' || held.acquire(folder + InstanceLock::file_name));
        std::ostringstream out, err, journal;
        if (c.obstacle == 'o')
            out.setstate(std::ios::badbit);
        const DataFolderSources sources{*c.xdg ? root.file(c.xdg) : "", root.file("home"), root.path() + "/"};
        const FakeTransfer& answers = c.obstacle == 'n' ? unreachable : c.obstacle == 'f' ? start_not_found : site;
        const auto printing_to = [&](std::ostream& output) {
            return CommandLineContext{.out = output,
                                      .err = err,
                                      .data_folder = [&] { return choose_data_folder(sources); },
                                      .make_transfer = [&] { return std::make_unique<FakeTransfer>(answers); },
                                      .now = [] { return SystemClock().now(); },
                                      .stop_signal = [&] { return c.obstacle == 't' ? SIGTERM : 0; }};
        };
        EXPECT_EQ(run_command_line(c.args, printing_to(out)), c.status) << err.str();
        if (!c.journal.empty()) {
            EXPECT_EQ(run_command_line({"--journal"}, printing_to(journal)), 0);
            const std::string listed =
                std::regex_replace(journal.str(), std::regex(R"(\d{4}/\d\d/\d\d \d\d:\d\d)"), "D");
            EXPECT_NE(listed.find(c.journal), std::string::npos) << listed;
        }
        EXPECT_EQ(out.str(), c.out);
        EXPECT_TRUE(c.err.empty() ? err.str().empty() : err.str().find(c.err) != std::string::npos) << err.str();
        // A run that went to its end is stamped, failures or not.
        const bool stamped = c.args[0] == run && (c.status == 0 || c.status == 4);
        EXPECT_EQ(read_file(folder + "planifs.txt"), c.obstacle == 'p' ? "" : schedule_text(lines, stamped ? 0 : -1));
        EXPECT_TRUE(!*c.made || fs::status(root.file(c.made)).permissions() == fs::perms::owner_all) << c.made;
        EXPECT_EQ(files_under(images.path()).size(), c.out.ends_with("copiée\n") || c.obstacle == 'd')
            << "an image, or a destination made for nothing";
        fs::remove_all(destination);
    }
}

TEST(SiteRun, ExitStatusOutputImagesAndStamp) {
    struct Case {
        const char* name;
        const char* page;
        /// 'r': a read-only data folder; 'f': files capped at 2 500 bytes, and no XDG_DATA_HOME: the data under
        /// HOME; 'p': output read through a pipe, closed after two lines while a.gif stalls; 'i': SIGINT while a.gif
        /// stalls; 'a': with every image format (pref2.txt); 'd' / 'o': the database damaged / read-only; 'u': run a
        /// second time
        char setup;
        int status;
        const char* files; ///< the destination's content
        std::string out;
        std::string err; ///< without "quillmoor : " and ".\n"; "DEST" / "DATA" stand for the destination / data folder
        const char* memory = ""; ///< a part of the line that tells of the database, "" for none
    };
    const Case cases[] = {
        {"read-only data folder", "a", 'r', 1, "", "",
         "Le dossier de données DATA n'est pas accessible en écriture (accès refusé)"},
        {"full disk", "abcd", 'f', 4, "a.gif b.gif", "1 page visitée\n1 image copiée\n2 images copiées\n",
         "1 image n'a pas pu être téléchargée (réponse d'erreur du serveur) ; 1 image n'a pas pu être écrite dans "
         "« DEST » (disque)",
         "n'est pas utilisable (erreur d'entrée-sortie du disque) : les extractions se font sans elle"},
        {"output closed during a stall", "ba", 'p', 0, "a.gif b.gif", "1 page visitée\n1 image copiée\n", ""},
        {"SIGINT", "a", 'i', 130, "", "1 page visitée\n", "extraction interrompue ; planifs.txt n'a pas été modifié"},
        {"database damaged", "ab", 'd', 0, "a.gif b.gif", "1 page visitée\n1 image copiée\n2 images copiées\n", "",
         "mise de côté sous « DATA/quillmoor.db.bak »"},
        {"database read-only", "ab", 'o', 0, "a.gif b.gif", "1 page visitée\n1 image copiée\n2 images copiées\n", "",
         "n'est pas utilisable (fichier en lecture seule)"},
        {"second run", "ab", 'u', 0, "a.gif b.gif", "1 page visitée\n", "2 images inchangées, laissées telles quelles"},
        {"every image format, p.png?v=2 named p.png", "abp", 'a', 0, "a.gif b.gif p.png",
         "1 page visitée\n1 image copiée\n2 images copiées\n3 images copiées\n", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TimeZone five_past_five(zone_at_five_past_five().c_str());
        Site site;
        site.stall = c.setup == 'p' || c.setup == 'i' ? 'i' : 0;
        site.start();
        const TempDir home;
        const std::string data = home.file(c.setup == 'f' ? ".local/share/Qmr" : "Qmr");
        const std::string schedule = data + "/planifs.txt", destination = home.file("mes images/été");
        fs::create_directories(data);
        const std::vector<StoredLine> lines{{"Autre", site.url("b"), "0", "/nulle/part"},
                                            {" Galerie ", " " + site.url(c.page), "0", destination}};
        write_file(schedule, schedule_text(lines));
        if (c.setup == 'a')
            write_file(data + "/pref2.txt", "\"1\"\r\n");
        const std::string database = data + "/quillmoor.db";
        if (c.setup == 'd' || c.setup == 'o')
            write_file(database, c.setup == 'd' ? "damaged" : "");
        if (c.setup == 'o')
            fs::permissions(database, fs::perms::owner_read);
        if (c.setup == 'r')
            fs::permissions(data, fs::perms::owner_read | fs::perms::owner_exec);

        Supervision supervision{.file_size_limit = c.setup == 'f' ? 2'500 : RLIM_INFINITY};
        if (c.setup == 'i') {
            supervision.watch = [&](pid_t child, int out) {
                for (int waited_ms = 0; !site.stalled && waited_ms < 10'000; waited_ms += 10)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                kill(child, SIGINT);
                return read_lines(out);
            };
        } else if (c.setup == 'p') {
            // As `| head -2` would: read two lines, which must come while a.gif stalls, then go away.
            supervision.watch = [&](pid_t, int out) {
                const std::string text = read_lines(out, 2);
                site.release();
                return text;
            };
        }
        const std::vector<std::string> program{c.setup == 'f' ? "--unset=XDG_DATA_HOME"
                                                              : "XDG_DATA_HOME=" + home.path(),
                                               "HOME=" + home.path(), QUILLMOOR_BINARY};
        fs::file_time_type written;
        if (c.setup == 'u')
            run_program({"--run", "Galerie"}, program), written = fs::last_write_time(destination + "/a.gif");
        auto [status, out, err] = run_program({"--run", "Galerie"}, program, supervision);
        // What the database had to tell, on a line of its own before the summary.
        std::string told;
        if (const auto at = err.find("quillmoor : la mémoire "); at != std::string::npos)
            told = err.substr(at, err.find('\n', at) + 1 - at), err.erase(at, told.size());
        std::string memory = c.memory;
        if (const auto at = memory.find("DATA"); at != std::string::npos)
            memory.replace(at, 4, data);
        EXPECT_TRUE(memory.empty() ? told.empty() : told.find(memory) != std::string::npos) << told;
        EXPECT_TRUE(c.setup != 'u' || fs::last_write_time(destination + "/a.gif") == written) << "left as it was";
        EXPECT_EQ(status, c.status) << err;
        EXPECT_EQ(out, c.out);
        std::string expected_err = c.err;
        for (const auto& [name, path] : {std::pair{"DEST", destination}, {"DATA", data}})
            if (const auto at = expected_err.find(name); at != std::string::npos)
                expected_err.replace(at, 4, path);
        EXPECT_EQ(err, expected_err.empty() ? "" : "quillmoor : " + expected_err + ".\n");
        EXPECT_TRUE(c.setup != 'p' || !site.stall_ran_out) << "the texts waited for the image";
        std::string names;
        for (const auto& name : list_directory(destination)) {
            names += (names.empty() ? "" : " ") + name;
            EXPECT_EQ(read_file(destination + "/" + name), "GIF89a" + std::string(2'000, name[0])) << name;
        }
        EXPECT_EQ(names, c.files);
        EXPECT_EQ(fs::exists(home.file("mes images")), *c.files != '\0') << "made for nothing";
        // Only the run's date and time changed, on its own line.
        EXPECT_EQ(read_file(schedule), schedule_text(lines, c.status == 0 || c.status == 4 ? 1 : -1));
    }
}

TEST(Window, OfTwoStartedAtOnceOneSaysSoTheOtherWaitsForTheLockAndRunWillNotWriteBeside) {
    const TempDir root;
    const std::string folder = root.file("xdg/Qmr/");
    fs::create_directories(folder);
    // Damaged: a message waits at start-up, and the stop must not wait for its answer.
    const std::string planifs =
        schedule_text({{"Galerie", "http://127.0.0.1:1/", "0", root.file("images")}}) + "\"court\"\r\n";
    write_file(folder + "planifs.txt", planifs);
    // Held as a `quillmoor --run` from cron would hold it.
    const int lock = open((folder + "verrou").c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_EQ(flock(lock, LOCK_EX | LOCK_NB), 0);
    const std::vector<std::string> command{"QT_QPA_PLATFORM=offscreen", "XDG_DATA_HOME=" + root.file("xdg"),
                                           "XDG_RUNTIME_DIR=" + root.path(), QUILLMOOR_BINARY};
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
                                                     "XDG_RUNTIME_DIR=" + root.path(), prefix + "/bin/quillmoor"},
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
