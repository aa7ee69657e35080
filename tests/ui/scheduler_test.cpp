#include "window_fixture.h"

#include <sys/stat.h>

#include <QTimer>

#include "support/file_size_limit.h"
#include "support/time_zone.h"
#include "ui/journal_window.h"
#include "ui/scheduler.h"

namespace {

/// The scheduler's clock stands on Monday 2007/05/14 at 10:00; the site keeps
/// what planifs.txt holds at each of its pages.
class Pass : public WindowTest {
protected:
    void SetUp() override {
        site.on_visit = [this] { on_disk_at_visit.push_back(planifs()); };
        site.start();
        clock.moment = FixedClock::at("2007/05/14 10:00");
        tray.integration.show_icon();
        WindowTest::SetUp();
    }

    /// A line of `kind` fetching page /`page`/, due at 10:00: hourly, last run
    /// at 08:00, or daily from 08:30, last run the day before.
    ScheduleLine due(const std::string& title, const std::string& kind, const std::string& page) {
        ScheduleLine line = stored(title, home.file("images"));
        line.set_field(field::start_address, site.url(page));
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

    std::vector<std::string> on_disk_at_visit;
};

TEST_F(Pass, DueLinesRunInOrderEachStampedAndSavedBeforeTheNextWhateverFailsOnceNoQuestionIsOpen) {
    // R's destination is on a drive that is gone: a file stands where its
    // folder was. D's image finds the disk full, and the folder made for it goes.
    write_file(home.file("débranché"), "");
    ScheduleLine refused = due("R", "1", "r"), full = due("D", "1", "d");
    refused.set_field(field::destination, home.file("débranché/images"));
    full.set_field(field::destination, home.file("d"));
    open_with({due("A", "1", "a"), stored("B"), refused, full, due("C", "2", "c")});
    // A minute a reading: the runs before C carry the pass past midnight.
    clock.moment = FixedClock::at("2007/05/14 23:58");
    clock.step_minutes = 1;
    {
        FileSizeLimit disk_full(3'000);
        // Not under a question the user has not answered: the pass waits for the next tick.
        prompter.while_open = [&] { tick(); };
        window->m_apropos_Click();
        EXPECT_TRUE(site.visits().empty()) << "a pass ran under an open message box";
        prompter.shown.clear();
        tick(1);
    }

    EXPECT_EQ(site.visits(), (std::vector<std::string>{"a", "d", "c"}));
    ASSERT_EQ(on_disk_at_visit.size(), 3u);
    EXPECT_NE(on_disk_at_visit[1], on_disk_at_visit[0]) << "A saved before D ran";
    EXPECT_NE(on_disk_at_visit[2], on_disk_at_visit[1]) << "D saved before C ran";
    // Each line is stamped with the pass that found it due, not with the end
    // of its run, so that C still runs on the 15th.
    EXPECT_EQ(stamp(1) + ", " + stamp(3) + ", " + stamp(4) + ", " + stamp(5),
              "2007/05/14 23:58, 2007/05/14 08:00, 2007/05/14 23:58, 2007/05/14 23:58");
    EXPECT_EQ(planifs(), format_schedule(window->table()));
    EXPECT_EQ(list_directory(home.file("images")), std::vector<std::string>{"a.gif"});
    EXPECT_FALSE(file_exists(home.file("d")));
    const std::vector<std::string> notices{
        "Le journal des extractions n'a pas pu être lu ou écrit (erreur d'entrée-sortie du disque) : les extractions "
        "continuent sans lui.",
        "A : 1 image copiée",
        "« R » n'a pas pu démarrer : Le répertoire de destination « " + home.file("débranché/images") +
            " » ne peut pas être créé (un élément du chemin n'est pas un dossier).",
        "D : aucune image copiée, 1 en échec", "C : aucune image copiée, 1 en échec"};
    EXPECT_EQ(tray.notices, notices);
    EXPECT_TRUE(prompter.shown.empty());

    // R is still due and still refused: told once is enough.
    window->scheduler()->traite_ligne();
    EXPECT_EQ(tray.notices, notices);
    EXPECT_EQ(site.visits().size(), 3u);
}

TEST_F(Pass, ARunDueWhileTheProgramWasNotRunningIsJournaledLateWithWhenItWasDue) {
    // Due at 09:00 (hourly) and at 08:30 (daily), before the program started at 10:00; then A at 11:00, on time.
    open_with({due("A", "1", "a"), due("C", "2", "c")}, true);
    window->scheduler()->traite_ligne();
    clock.moment = FixedClock::at("2007/05/14 11:00");
    window->scheduler()->traite_ligne();
    const std::vector<RunRecord> runs = journal->recent(5);
    ASSERT_EQ(runs.size(), 3u);
    const std::optional<std::time_t> on_time;
    EXPECT_EQ(
        std::tuple(runs[0].title, runs[0].due, runs[1].title, runs[1].due, runs[2].title, runs[2].due),
        std::tuple("A", on_time, "C", FixedClock::at("2007/05/14 08:30"), "A", FixedClock::at("2007/05/14 09:00")));
    EXPECT_EQ(std::tuple(runs[2].origin, runs[2].started, runs[2].ending),
              std::tuple(RunOrigin::schedule, FixedClock::at("2007/05/14 10:00"), RunEnding::completed));
    EXPECT_EQ(journal->files_of(runs[2].id), std::vector<std::string>{home.file("images/a.gif")});
    // A click on the last notice shows its run in the journal, not a newer one, the window staying in the tray.
    journal->record({0, "Z", RunOrigin::terminal, 0, 0, RunEnding::completed, {}, 0, 0, 0, 0, {}, {}});
    window->hide_window();
    emit tray.icon().messageClicked();
    ASSERT_NE(window->journal_window(), nullptr);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->journal_window()->selected_run(), runs[0].id);
}

TEST_F(Pass, ALineRunsAtEachPassItIsDueWhateverItsRunsLastAndAcrossChangesOfTime) {
    // A line every quarter ("0"), every hour ("2") or daily from 02:30 ("j"); the minutes its runs last (the
    // timer ticks on, and a pass that comes meanwhile is put off); the seconds between ticks; its last run, when
    // the clock starts in Paris; the minutes the clock goes on. Then its stamps, "+" for a second run in a pass.
    const std::tuple<std::string, int, int, std::string, int, std::vector<std::string>> cases[] = {
        {"0", 2, 60, "2007/05/14 14:00", 65, {"14:15", "14:30", "14:45", "15:00"}},
        {"2", 20, 60, "2007/05/14 14:00", 145, {"15:00", "16:00"}},
        {"0", 20, 60, "2007/05/14 14:00", 100, {"14:15", "14:45", "15:15"}},
        // Each pass comes 15 seconds early: at 14:29:45 after the stamp of 14:15.
        {"0", 2, 59, "2007/05/14 14:15", 50, {"14:29", "14:44", "14:59"}},
        // 2026/03/29 has no 02:00 to 02:59: the hourly line still waits an hour, the daily one runs at 03:00.
        {"2", 2, 60, "2026/03/28 23:30", 330, {"00:30", "01:30", "03:30", "04:30", "05:30"}},
        {"j", 2, 60, "2026/03/28 23:30", 1440, {"03:00"}},
        // 2026/10/25 shows 02:00 to 02:59 twice: the hourly line runs at each 02:30, the daily one at the first.
        {"2", 2, 60, "2026/10/24 23:30", 390, {"00:30", "01:30", "02:30", "02:30", "03:30", "04:30"}},
        {"j", 2, 60, "2026/10/24 23:30", 1500, {"02:30"}},
    };
    const TimeZone paris("Europe/Paris");
    int run_minutes = 0, tick_seconds = 0;
    const auto minute = [&] {
        clock.moment += tick_seconds;
        tick(1);
    };
    // The site holds the page back while the run's minutes go by.
    site.stall = 'p';
    bool ticked = false;
    QTimer during_run;
    QObject::connect(&during_run, &QTimer::timeout, [&] {
        if (site.stalled && !std::exchange(ticked, true)) {
            for (int run_minute = 0; run_minute < run_minutes; ++run_minute)
                minute();
        } else if (site.stalled) {
            ticked = site.stalled = false;
            site.release();
        }
    });
    during_run.start(1);
    for (const auto& [schedule, run, seconds, start, minutes, want] : cases) {
        SCOPED_TRACE(start + ", " + schedule);
        std::tie(run_minutes, tick_seconds) = std::tie(run, seconds);
        ScheduleLine line = due("Q", schedule == "j" ? "2" : "1", "a");
        line.set_field(field::interval_index, schedule == "j" ? "2" : schedule);
        line.set_field(field::start_hour, "2");
        line.set_field(field::last_run_date, start.substr(0, 10));
        line.set_field(field::last_run_time, start.substr(11));
        open_with({line});
        std::vector<std::string> stamps;
        for (clock.moment = FixedClock::at(start); clock.moment < FixedClock::at(start) + minutes * 60;) {
            const std::size_t visits = site.visits().size();
            minute();
            if (site.visits().size() > visits)
                stamps.push_back(window->table().line(1).field(field::last_run_time) +
                                 std::string(site.visits().size() - visits - 1, '+'));
        }
        EXPECT_EQ(stamps, want);
    }
    EXPECT_FALSE(site.stall_ran_out);
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
    EXPECT_TRUE(site.visits().empty());
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

TEST_F(Pass, AFailedSaveKeepsTheStampsSaysSoOnceAndIsTriedAgain) {
    open_with({due("A", "1", "c")});
    const std::string before = planifs();
    {
        FileSizeLimit disk_full(16);
        window->scheduler()->traite_ligne();
        clock.moment = FixedClock::at("2007/05/14 10:20");
        window->scheduler()->traite_ligne();
    }
    EXPECT_EQ(planifs(), before);
    EXPECT_EQ(stamp(1), "2007/05/14 10:00");
    // The journal could not be written either: told once, and the run counted.
    ASSERT_EQ(tray.notices.size(), 3u);
    EXPECT_TRUE(tray.notices[0].starts_with("Le journal des extractions n'a pas pu")) << tray.notices[0];
    EXPECT_TRUE(tray.notices[2].starts_with("Impossible d'enregistrer les planifications")) << tray.notices[2];

    window->scheduler()->traite_ligne();
    EXPECT_EQ(planifs(), format_schedule(window->table()));
    EXPECT_EQ(site.visits().size(), 1u);
}

TEST_F(Pass, TheTimerTicksOnThroughAPassThatQuittingStopsWithoutStampingTheStoppedLine) {
    site.stall = 'p';
    open_with({due("Lente", "1", "x"), due("A", "1", "a")});
    const std::string before = planifs();
    QTimer* timer = window->scheduler()->Timer1;
    int ticks_in_pass = 0;
    QObject::connect(timer, &QTimer::timeout, [&] { ticks_in_pass += window->scheduler()->pass_in_progress(); });
    QTimer::singleShot(200, window.get(), [this] { window->close(); });
    tick(Scheduler::ticks_per_pass - 1);
    timer->start(1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !timer->isActive(); }));
    EXPECT_GT(ticks_in_pass, 0) << "the next pass would come a pass's length late";
    EXPECT_EQ(site.visits(), std::vector<std::string>{"x"});
    EXPECT_EQ(planifs(), before);
    EXPECT_EQ(stamp(1), "2007/05/14 08:00");
}

TEST(RunNotice, CountsInTheRightNumberWhatWasLeftAndWhatFailedWithTheStartPage) {
    RunCounters counters;
    counters.images_copied = 12;
    counters.images_unchanged = 300;
    counters.failed_images.server = 2;
    counters.start_page_failed = true;
    EXPECT_EQ(run_notice(" Galerie de printemps ", counters).toStdString(),
              "Galerie de printemps : 12 images copiées, 300 inchangées, 3 en échec");
    counters = {};
    counters.images_copied = counters.images_unchanged = 1;
    EXPECT_EQ(run_notice("G", counters).toStdString(), "G : 1 image copiée, 1 inchangée");
}

} // namespace
