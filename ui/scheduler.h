#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <optional>
#include <set>
#include <string>

#include <QObject>
#include <QString>
#include <QStringList>

#include "engine/extraction_run.h"
#include "store/result.h"

class Clock;
class QTimer;
class ScheduleTable;

/// What a scheduled run did.
struct ScheduledRun {
    RunOutcome outcome = RunOutcome::completed;
    RunCounters counters;
    std::int64_t journal_id = 0; ///< the run in the journal; 0 when it was not recorded
};

/// What the scheduler needs of the window that owns it: the stored
/// extractions, a run, the lock on the commands, the file and the user.
class SchedulerHost {
public:
    virtual ScheduleTable& scheduled_lines() = 0;
    /// Runs line `number` as the scheduler does, "Récupère " and its title in
    /// the status line, and records it in the journal, late when `due` says
    /// when it was due.
    virtual ScheduledRun run_scheduled(int number, std::optional<std::time_t> due) = 0;
    /// An extraction is running (from the grid or from a pass).
    virtual bool run_in_progress() const = 0;
    /// A message box or the close question waits for the user.
    virtual bool question_open() const = 0;
    /// The program is ending: nothing more is to run.
    virtual bool quitting() const = 0;
    virtual void set_commands_locked(bool locked) = 0;
    /// Saves the schedule as it is in memory.
    virtual Result<void> save_scheduled_lines() = 0;
    /// Lets the window serve its pending events.
    virtual void serve_events() = 0;
    /// A short notice for a user who may only see the tray icon, about the
    /// run `run_id` of the journal, or 0 for none.
    virtual void notify(const QString& text, std::int64_t run_id) = 0;

protected:
    ~SchedulerHost() = default;
};

/// The notice of a scheduled run's end: "Galerie : 12 images copiées",
/// "1 image copiée" or "aucune image copiée", then ", 300 inchangées" when
/// images were found unchanged, and ", 3 en échec" when images or the start
/// page failed.
QString run_notice(const std::string& title, const RunCounters& counters);

/// Runs the stored extractions that are due, while the program lives. Its
/// timer `Timer1` ticks once a minute, also during a pass; every fifteenth
/// tick, a pass (`traite_ligne`) runs each due line in turn, stamps it and
/// saves the schedule after each line that ran, so that a quit in the middle
/// of a pass loses nothing of the lines already done.
class Scheduler final : public QObject {
    Q_OBJECT

public:
    static constexpr int tick_interval_ms = 60'000;
    static constexpr int ticks_per_pass = 15;

    Scheduler(SchedulerHost& host, const Clock& clock, QObject* parent = nullptr);

    /// Sets the tick count to 0 and starts the timer. A line due before
    /// then was missed while the program was not running: its run is late.
    void start();
    /// Stops the timer for good: the program is ending.
    void stop();

    /// The ticks since the last pass, or since start.
    int tick_count() const { return tick_count_; }
    bool pass_in_progress() const { return in_pass_; }

    /// The lines that the form could not have written (an hour of 25, a date
    /// of "2007/5/14") and that have not been told yet, one sentence each;
    /// they count as told from now on. Such a line never runs.
    QStringList untold_problems();

    QTimer* Timer1 = nullptr;

public slots:
    /// One tick of the timer: every fifteenth one locks the commands, shows
    /// the busy pointer and runs a pass, unless a run is in progress (the
    /// count then starts again) or a question is open (the pass then waits
    /// for the next tick). A skipped pass changes nothing on screen.
    void Timer1_Timer();

    /// One pass over the stored extractions, in line order.
    void traite_ligne();

private:
    /// Runs a due line, stamps it with `pass_time` and saves; false when the
    /// run was stopped because the program is ending. `due_at`: when it
    /// became due.
    bool run_line(int number, const std::tm& pass_time, std::time_t due_at);
    /// Stamps line `number` with the pass's date and time, and remembers the
    /// pass's moment while the line keeps that stamp.
    void stamp(int number, const std::tm& pass_time);
    /// When the pass that gave line `number` its stamp came, if one did.
    std::optional<std::time_t> stamped_at(int number) const;
    /// A problem told once: a line that cannot be read, or cannot start.
    bool first_time(const std::string& title, const std::string& problem);
    void forget_problems_of(const std::string& title);
    /// Saves, and says once when the save fails; the lines stay stamped in
    /// memory and the next save tries again.
    bool save();

    SchedulerHost& host_;
    const Clock& clock_;
    int tick_count_ = 0;
    /// When start() came, as real_seconds() counts: the lines due before were missed.
    std::optional<std::time_t> started_at_;
    bool in_pass_ = false;
    bool unsaved_ = false;
    bool save_failure_told_ = false;
    std::set<std::string> told_;
    /// The stamps keep the date and time of the day, which shows 02:00 to
    /// 02:59 twice in autumn. So the moment of the pass that stamped a line,
    /// kept here by line number with the title and stamp it gave, tells how
    /// long ago the line ran: across the autumn change an hourly line run at
    /// the first 02:30 runs again at the second, and across the spring one it
    /// waits its hour. A line stamped otherwise (from the grid, by
    /// "Plannifier", before the program started) is read from its stamp, and
    /// may run once up to an hour late in autumn, early in spring.
    std::map<int, std::pair<std::string, std::time_t>> pass_stamps_;
};
