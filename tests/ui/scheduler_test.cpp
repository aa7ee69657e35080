#include "window_fixture.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <sys/stat.h>
#include <thread>

#include <QAction>
#include <QTimer>

#include "support/file_size_limit.h"
#include "support/test_server.h"
#include "ui/scheduler.h"

namespace {

/// A site whose page /NAME/ shows NAME.gif: a.gif is small, d.gif 5 000
/// bytes, the others missing; /stall/ answers once released. The scheduler's
/// clock stands on Monday 2007/05/14 at 10:00.
class Pass : public WindowTest {
protected:
    void SetUp() override {
        server.server().Get(R"(/(\w+)/)", [this](const httplib::Request& request, httplib::Response& response) {
            const std::string page = request.matches[1];
            {
                const std::lock_guard lock(mutex);
                visits.push_back(page);
                on_disk_at_visit.push_back(planifs());
            }
            for (int waited = 0; page == "stall" && !released && waited < 2000; waited += 10)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            response.set_content("<img src=\"" + page + ".gif\">", "text/html");
        });
        server.server().Get(R"(/\w+/(a|d)\.gif)", [](const httplib::Request& request, httplib::Response& response) {
            response.set_content("GIF89a" + std::string(request.matches[1] == "d" ? 5'000 : 4, '-'), "image/gif");
        });
        server.start();
        clock.moment = FixedClock::at("2007/05/14 10:00");
        tray.icon_shown = true;
        WindowTest::SetUp();
    }
    void TearDown() override {
        released = true;
        window.reset();
        transfer.reset();
    }

    /// A line of `kind` due at 10:00: hourly, last run at 08:00, or daily
    /// from 08:30, last run the day before.
    ScheduleLine due(const std::string& title, const std::string& kind, const std::string& page) {
        ScheduleLine line = stored(title, destination.path());
        line.set_field(field::start_address, server.url("/" + page + "/"));
        line.set_field(field::schedule_kind, kind);
        line.set_field(field::start_hour, "8");
        line.set_field(field::start_minute_index, "2");
        line.set_field(field::last_run_date, kind == "2" ? "2007/05/13" : "2007/05/14");
        line.set_field(field::last_run_time, kind == "2" ? "09:00" : "08:00");
        return line;
    }
    std::string stamp(int number) const {
        const ScheduleLine& line = window->table().line(number);
        return line.field(field::last_run_date) + " " + line.field(field::last_run_time);
    }
    void tick(int ticks = Scheduler::ticks_per_pass) {
        for (int i = 0; i < ticks; ++i)
            window->scheduler()->Timer1_Timer();
    }

    TestServer server;
    TempDir destination;
    std::mutex mutex;
    std::vector<std::string> visits, on_disk_at_visit;
    std::atomic<bool> released{false};
};

TEST_F(Pass, DueLinesRunInOrderEachStampedAndSavedBeforeTheNextWhateverFails) {
    // R's destination is on a drive that is gone: a file stands where its
    // folder was. D's image finds the disk full.
    write_file(home.file("débranché"), "");
    ScheduleLine refused = due("R", "1", "r");
    refused.set_field(field::destination, home.file("débranché/images"));
    open_with({due("A", "1", "a"), stored("B"), refused, due("D", "1", "d"), due("C", "2", "c")});
    clock.step_minutes = 1;
    {
        FileSizeLimit disk_full(3'000);
        window->scheduler()->traite_ligne();
    }

    EXPECT_EQ(visits, (std::vector<std::string>{"a", "d", "c"}));
    ASSERT_EQ(on_disk_at_visit.size(), 3u);
    EXPECT_NE(on_disk_at_visit[1].find(R"("2007/05/14","10:02")"), std::string::npos) << "A saved before D ran";
    EXPECT_NE(on_disk_at_visit[2].find(R"("2007/05/14","10:04")"), std::string::npos) << "D saved before C ran";
    // Read at 10:00 (the pass), 10:01 and 10:02 (A), 10:03 and 10:04 (D),
    // 10:05 and 10:06 (C): an hourly line keeps the end of its run, a daily
    // one its start.
    EXPECT_EQ(stamp(1), "2007/05/14 10:02");
    EXPECT_EQ(stamp(3), "2007/05/14 08:00");
    EXPECT_EQ(stamp(4), "2007/05/14 10:04");
    EXPECT_EQ(stamp(5), "2007/05/14 10:05");
    EXPECT_EQ(planifs(), format_schedule(window->table()));
    EXPECT_EQ(list_directory(destination.path()), std::vector<std::string>{"a.gif"});
    const std::vector<std::string> notices{
        "A : 1 image copiée",
        "« R » n'a pas pu démarrer : Le répertoire de destination « " + home.file("débranché/images") +
            " » ne peut pas être créé (un élément du chemin n'est pas un dossier).",
        "D : aucune image copiée, 1 en échec", "C : aucune image copiée, 1 en échec"};
    EXPECT_EQ(tray.notices, notices);
    EXPECT_TRUE(prompter.shown.empty());

    // R is still due and still refused: told once is enough.
    window->scheduler()->traite_ligne();
    EXPECT_EQ(tray.notices, notices);
    EXPECT_EQ(visits.size(), 3u);
}

TEST_F(Pass, APassThatRunsNothingLeavesTheFileAsItWasAndTellsAnUnreadableLineOnce) {
    ScheduleLine later = due("Plus tard", "1", "a");
    later.set_field(field::last_run_time, "09:30");
    ScheduleLine malformed = due("Abîmée", "2", "a");
    malformed.set_field(field::start_hour, "25");
    open_with({later, malformed});
    const timespec long_ago[2] = {{946'684'800, 0}, {946'684'800, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, data.file("planifs.txt").c_str(), long_ago, 0), 0);
    const std::string before = planifs();
    tick(2 * Scheduler::ticks_per_pass);

    struct stat status {};
    ::stat(data.file("planifs.txt").c_str(), &status);
    EXPECT_EQ(planifs(), before);
    EXPECT_EQ(status.st_mtime, 946'684'800);
    EXPECT_EQ(tray.notices, std::vector<std::string>{"« Abîmée » ne sera pas exécutée : champ 11 (heure de début) : "
                                                     "« 25 ». « Editer » puis « Plannifier » la remettent en état."});
    EXPECT_TRUE(visits.empty());
    EXPECT_EQ(window->scheduler()->tick_count(), 0);
    EXPECT_TRUE(form->Command2->isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    // A last run after now (the clock was set back) counts as now, and is saved so.
    later.set_field(field::last_run_date, "2030/01/01");
    open_with({later});
    window->scheduler()->traite_ligne();
    EXPECT_EQ(stamp(1), "2007/05/14 10:00");
    EXPECT_EQ(planifs(), format_schedule(window->table()));
}

TEST_F(Pass, APassWaitsForARunInProgressAndForAnOpenQuestion) {
    open_with({due("Lente", "0", "stall"), due("A", "1", "a")});
    select(1);
    bool locked_after_skipped_pass = false;
    QTimer::singleShot(100, window.get(), [&] {
        tick();
        locked_after_skipped_pass = !form->Command2->isEnabled();
        EXPECT_EQ(window->scheduler()->tick_count(), 0) << "the count starts again";
        released = true;
    });
    click(grid->Command6);
    EXPECT_TRUE(locked_after_skipped_pass) << "a skipped pass unlocked the commands of the run";
    EXPECT_EQ(visits, std::vector<std::string>{"stall"});

    prompter.while_open = [&] { tick(); };
    window->m_apropos_Click();
    EXPECT_EQ(visits.size(), 1u) << "a pass ran under an open message box";
    tick(1);
    EXPECT_EQ(visits, (std::vector<std::string>{"stall", "a"}));
}

TEST_F(Pass, AFailedSaveKeepsTheStampsSaysSoOnceAndIsTriedAgain) {
    open_with({due("A", "1", "b")});
    const std::string before = planifs();
    {
        FileSizeLimit disk_full(16);
        window->scheduler()->traite_ligne();
        clock.moment = FixedClock::at("2007/05/14 10:20");
        window->scheduler()->traite_ligne();
    }
    EXPECT_EQ(planifs(), before);
    EXPECT_EQ(stamp(1), "2007/05/14 10:00");
    ASSERT_EQ(tray.notices.size(), 2u);
    EXPECT_TRUE(tray.notices[1].starts_with("Impossible d'enregistrer les planifications")) << tray.notices[1];

    window->scheduler()->traite_ligne();
    EXPECT_EQ(planifs(), format_schedule(window->table()));
    EXPECT_EQ(visits.size(), 1u);
}

TEST_F(Pass, QuittingStopsThePassWithoutStampingTheStoppedLine) {
    open_with({due("Lente", "1", "stall"), due("A", "1", "a")});
    const std::string before = planifs();
    QTimer::singleShot(200, window.get(), [this] { window->close(); });
    window->scheduler()->traite_ligne();
    EXPECT_EQ(visits, std::vector<std::string>{"stall"});
    EXPECT_EQ(planifs(), before);
    EXPECT_EQ(stamp(1), "2007/05/14 08:00");
    EXPECT_FALSE(window->scheduler()->Timer1->isActive());
}

TEST(RunNotice, CountsInTheRightNumberWhatFailedWithTheStartPage) {
    RunCounters counters;
    counters.images_copied = 12;
    counters.failed_images.server = 2;
    counters.start_page_failed = true;
    EXPECT_EQ(run_notice(" Galerie de printemps ", counters).toStdString(),
              "Galerie de printemps : 12 images copiées, 3 en échec");
}

} // namespace
