#include "ui/scheduler.h"

#include <QTimer>

#include "net/text.h"
#include "schedule/clock.h"
#include "schedule/due_rule.h"
#include "schedule/schedule_line.h"
#include "store/destination.h"

namespace {

std::string title_of(const ScheduleLine& line) {
    return m_qmr::trim_spaces(line.field(field::title));
}

/// What a pass's stamp is remembered with: the line's title and stamp.
std::string stamp_key(const ScheduleLine& line) {
    return line.field(field::title) + '\n' + line.field(field::last_run_date) + ' ' + line.field(field::last_run_time);
}

QString unreadable_line_text(const std::string& title, const std::string& problem) {
    return QStringLiteral("« %1 » ne sera pas exécutée : %2. « Editer » puis « Plannifier » la remettent en état.")
        .arg(QString::fromStdString(title), QString::fromStdString(problem));
}

} // namespace

QString run_notice(const std::string& title, const RunCounters& counters) {
    const int copied = counters.images_copied;
    QString text = QString::fromStdString(m_qmr::trim_spaces(title)) + QStringLiteral(" : ");
    if (copied == 0)
        text += QStringLiteral("aucune image copiée");
    else if (copied == 1)
        text += QStringLiteral("1 image copiée");
    else
        text += QStringLiteral("%1 images copiées").arg(copied);
    if (const int unchanged = counters.images_unchanged; unchanged > 0)
        text += unchanged == 1 ? QStringLiteral(", 1 inchangée") : QStringLiteral(", %1 inchangées").arg(unchanged);
    const int failed = counters.failed_images.total() + (counters.start_page_failed ? 1 : 0);
    if (failed > 0)
        text += QStringLiteral(", %1 en échec").arg(failed);
    return text;
}

Scheduler::Scheduler(SchedulerHost& host, const Clock& clock, QObject* parent)
    : QObject(parent), host_(host), clock_(clock) {
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(tick_interval_ms);
    // Qt does not deliver a timer's tick while its previous one is being
    // handled: run from the tick itself, a pass would hold the timer still,
    // and each pass would put the next one off by its own length. Through the
    // event queue, the timer ticks on while a pass runs.
    connect(Timer1, &QTimer::timeout, this, &Scheduler::Timer1_Timer, Qt::QueuedConnection);
}

void Scheduler::start() {
    tick_count_ = 0;
    started_at_ = real_seconds(clock_.now());
    Timer1->start();
}

void Scheduler::stop() {
    Timer1->stop();
}

void Scheduler::Timer1_Timer() {
    if (tick_count_ < ticks_per_pass)
        ++tick_count_;
    if (tick_count_ < ticks_per_pass || host_.quitting())
        return;
    // An unanswered question may be about the very lines the pass would run:
    // the pass waits for the answer, and comes at the next tick.
    if (host_.question_open())
        return;
    // One run at a time: the lists and the transfer exist once.
    if (in_pass_ || host_.run_in_progress()) {
        tick_count_ = 0;
        return;
    }
    tick_count_ = 0;
    host_.set_commands_locked(true);
    traite_ligne();
    host_.set_commands_locked(false);
}

void Scheduler::traite_ligne() {
    if (in_pass_ || host_.run_in_progress())
        return;
    in_pass_ = true;
    const std::tm pass_time = clock_.now();
    ScheduleTable& table = host_.scheduled_lines();
    bool stopped = false;
    for (int number = 1; number <= table.line_count() && !stopped && !host_.quitting(); ++number) {
        const DueCheck check = check_due(table.line(number), pass_time, stamped_at(number));
        const std::string title = title_of(table.line(number));
        if (check.verdict == DueCheck::Verdict::malformed) {
            if (first_time(title, check.problem))
                host_.notify(unreadable_line_text(title, check.problem), 0);
        } else {
            // The clock was set back: the line counts as run now, and is
            // saved so, rather than waiting for the clock to catch up.
            if (check.stamp_in_future) {
                stamp(number, pass_time);
                unsaved_ = true;
            }
            if (check.verdict == DueCheck::Verdict::due)
                stopped = !run_line(number, pass_time, check.due_at);
        }
        host_.serve_events();
    }
    // A quit stops the pass where it is: the line it stopped is not stamped.
    if (unsaved_ && !stopped && !host_.quitting())
        save();
    in_pass_ = false;
}

bool Scheduler::run_line(int number, const std::tm& pass_time, std::time_t due_at) {
    ScheduleTable& table = host_.scheduled_lines();
    const std::string title = title_of(table.line(number));
    // Nobody is there to answer a message box: the line waits for the next
    // pass, and the user hears of it once.
    // Made for the run and left empty by it: gone again when this returns.
    const Result<m_qmr::PreparedDestination> destination =
        m_qmr::prepare_destination(table.line(number).field(field::destination));
    if (!destination) {
        if (first_time(title, destination.error()))
            host_.notify(QStringLiteral("« %1 » n'a pas pu démarrer : %2")
                             .arg(QString::fromStdString(title), QString::fromStdString(destination.error())),
                         0);
        return true;
    }
    forget_problems_of(title);

    // Due while the program was not running: the journal says it came late.
    const bool late = started_at_ && due_at < *started_at_;
    const ScheduledRun run = host_.run_scheduled(number, late ? std::optional(due_at) : std::nullopt);
    if (run.outcome != RunOutcome::completed)
        return false;
    // The line is stamped with the pass that found it due, not with the end
    // of its run: an interval line then keeps the passes' cadence however
    // long its runs, and a daily line the day even when earlier lines carried
    // the pass past midnight.
    stamp(number, pass_time);
    unsaved_ = true;
    host_.notify(run_notice(title, run.counters), run.journal_id);
    save();
    return true;
}

void Scheduler::stamp(int number, const std::tm& pass_time) {
    ScheduleLine& line = host_.scheduled_lines().line(number);
    stamp_line(line, pass_time);
    pass_stamps_[number] = {stamp_key(line), real_seconds(pass_time)};
}

std::optional<std::time_t> Scheduler::stamped_at(int number) const {
    const auto held = pass_stamps_.find(number);
    if (held == pass_stamps_.end() || held->second.first != stamp_key(host_.scheduled_lines().line(number)))
        return std::nullopt;
    return held->second.second;
}

QStringList Scheduler::untold_problems() {
    QStringList problems;
    const std::tm now = clock_.now();
    const ScheduleTable& table = host_.scheduled_lines();
    for (int number = 1; number <= table.line_count(); ++number) {
        const DueCheck check = check_due(table.line(number), now);
        const std::string title = title_of(table.line(number));
        if (check.verdict == DueCheck::Verdict::malformed && first_time(title, check.problem))
            problems << unreadable_line_text(title, check.problem);
    }
    return problems;
}

bool Scheduler::first_time(const std::string& title, const std::string& problem) {
    return told_.insert(title + '\n' + problem).second;
}

void Scheduler::forget_problems_of(const std::string& title) {
    const std::string prefix = title + '\n';
    for (auto told = told_.lower_bound(prefix); told != told_.end() && told->starts_with(prefix);)
        told = told_.erase(told);
}

bool Scheduler::save() {
    const Result<void> saved = host_.save_scheduled_lines();
    if (saved) {
        unsaved_ = false;
        save_failure_told_ = false;
        return true;
    }
    if (!save_failure_told_) {
        save_failure_told_ = true;
        host_.notify(QString::fromStdString(saved.error()) +
                         QStringLiteral(" Les extractions faites restent notées et seront enregistrées au prochain "
                                        "enregistrement."),
                     0);
    }
    return false;
}
