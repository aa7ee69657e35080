// The commands of the schedule: "Plannifier" under the form, and "Supprimer",
// "Editer" and "Extraire maintenant !" under the grid. Each one changes the
// table, saves it, and only then the grid: a save that fails takes the table
// back, so that the window always shows what is on disk.

#include "ui/f_qmr.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "journal/journal.h"
#include "journal/run_record.h"
#include "net/text.h"
#include "schedule/clock.h"
#include "schedule/due_rule.h"
#include "schedule/job_from_line.h"
#include "schedule/schedule_file.h"
#include "store/destination.h"
#include "store/image_memory.h"
#include "ui/extraction_form.h"
#include "ui/prompter.h"
#include "ui/schedule_grid.h"

Result<void> f_qmr::write_schedule(std::string& copy) {
    // An empty table written over a file that could not be read would lose
    // every stored extraction.
    if (!unread_error_.empty())
        return Error{unread_error_ + " Rien n'est enregistré tant qu'il ne peut pas être lu."};
    const std::string copy_before = load_report_.backup_path;
    Result<void> saved = save_schedule(services_.data_folder, table_, &load_report_);
    if (saved && load_report_.backup_path != copy_before)
        copy = load_report_.backup_path;
    return saved;
}

namespace {

QString copy_kept_text(const std::string& copy) {
    return QStringLiteral("Le fichier des planifications abîmé a été copié dans « %1 » avant d'être remplacé.")
        .arg(QString::fromStdString(copy));
}

} // namespace

bool f_qmr::save_table() {
    std::string copy;
    if (const Result<void> saved = write_schedule(copy); !saved) {
        services_.prompter.error(this, QString::fromStdString(saved.error()));
        return false;
    }
    if (!copy.empty())
        services_.prompter.ask(this, PromptIcon::information, QStringLiteral("Quillmoor"), copy_kept_text(copy),
                               {PromptButton::ok});
    return true;
}

Result<void> f_qmr::save_scheduled_lines() {
    std::string copy;
    Result<void> saved = write_schedule(copy);
    if (!copy.empty())
        notify(copy_kept_text(copy), 0);
    return saved;
}

bool f_qmr::schedule_readable() {
    if (unread_error_.empty())
        return true;
    ScheduleTable loaded;
    const Result<LoadReport> report = load_schedule(services_.data_folder, loaded);
    if (!report) {
        unread_error_ = report.error();
        services_.prompter.error(
            this, QString::fromStdString(unread_error_ + " Rien n'est enregistré tant qu'il ne peut pas être lu."));
        return false;
    }
    // Readable at last: the commands work on what it holds from now on.
    unread_error_.clear();
    table_ = std::move(loaded);
    grid_->fill(table_);
    load_report_ = *report;
    tell_load_problems(report);
    return true;
}

void f_qmr::Command2_Click() {
    if (run_.running() || !form_->settle_checks())
        return;
    if (m_qmr::trim_spaces_view(form_->Text1->text().toStdString()).empty()) {
        services_.prompter.error(this, QStringLiteral("Veuillez donner un titre à cette planification"));
        ExtractionForm::focus_quietly(form_->Text1);
        return;
    }
    if (!ExtractionForm::is_web_address(form_->Text2->text())) {
        services_.prompter.error(this, QStringLiteral("Veuillez indiquer une adresse internet valide"));
        ExtractionForm::focus_quietly(form_->Text2);
        return;
    }
    if (const QString refusal = form_->control_character_refusal(); !refusal.isEmpty()) {
        services_.prompter.error(this, refusal);
        return;
    }
    if (!schedule_readable())
        return;

    ScheduleLine line = form_->line();
    const ScheduleTable before = table_;
    int number = table_.find_title(line.field(field::title));
    if (number == 0) {
        if (table_.full()) {
            services_.prompter.error(
                this, QStringLiteral("Nombre de planifications limité à %1.").arg(ScheduleTable::max_lines));
            return;
        }
        // A new line counts as having just run.
        stamp_line(line, services_.clock.now());
        table_.append(line);
        number = table_.line_count();
    } else {
        const ScheduleLine& replaced = table_.line(number);
        if (has_readable_stamp(replaced)) {
            line.set_field(field::last_run_date, replaced.field(field::last_run_date));
            line.set_field(field::last_run_time, replaced.field(field::last_run_time));
        } else {
            stamp_line(line, services_.clock.now());
        }
        table_.line(number) = line;
    }
    if (!save_table()) {
        table_ = before;
        return;
    }
    grid_->show_line(number, line);
    reinit();
}

void f_qmr::Command3_Click() {
    const int number = grid_->selected_line(table_.line_count());
    if (number == 0 || run_.running())
        return;
    const ScheduleTable before = table_;
    table_.remove(number);
    if (!save_table()) {
        table_ = before;
        return;
    }
    grid_->remove_line(number, before.line_count());
}

void f_qmr::Command4_Click() {
    const int number = grid_->selected_line(table_.line_count());
    if (number == 0 || run_.running())
        return;
    form_->load(table_.line(number));
    // Until the next "Plannifier" or "Réinitialiser" the form holds this line.
    for (QPushButton* command : {grid_->Command3, grid_->Command4, grid_->Command6})
        command->setEnabled(false);
}

RunOutcome f_qmr::traite_ligne_detail(int numligne, RunMode mode) {
    std::int64_t recorded = 0;
    return run_and_record(numligne, mode, std::nullopt, recorded);
}

RunOutcome f_qmr::run_and_record(int number, RunMode mode, std::optional<std::int64_t> due, std::int64_t& recorded) {
    if (run_.running())
        return RunOutcome::already_running;
    if (number < 1 || number > table_.line_count())
        return RunOutcome::completed;
    // A message box opened from one of the run's yields holds the run's wait
    // until it is answered; the servers would drop connections left unread
    // meanwhile.
    transfer_timer_->start();
    ExtractionJob job = job_from_line(table_.line(number));
    job.all_image_formats = m_formats->isChecked();
    const std::int64_t started = real_seconds(services_.clock.now());
    const RunOutcome outcome = run_.run(job, mode);
    transfer_timer_->stop();
    // Once, at its end: the journal never slows a run down.
    const RunOrigin origin = mode == RunMode::scheduled ? RunOrigin::schedule : RunOrigin::button;
    recorded = services_.journal.record(
        run_record(run_, job.title, {origin, started, real_seconds(services_.clock.now()), outcome, due}));
    tell_memory_notice();
    return outcome;
}

void f_qmr::tell_memory_notice() {
    // Written to follow "quillmoor : " on the command line; a sentence of its own here.
    for (const std::string& text : {services_.memory.take_notice(), services_.journal.take_notice()}) {
        if (QString notice = QString::fromStdString(text); !notice.isEmpty()) {
            notice[0] = notice[0].toUpper();
            notify(notice, 0);
        }
    }
}

ScheduledRun f_qmr::run_scheduled(int number, std::optional<std::time_t> due) {
    ScheduledRun run;
    run.outcome = run_and_record(number, RunMode::scheduled, due, run.journal_id);
    run.counters = run_.counters();
    return run;
}

bool f_qmr::stamp_and_save(int number) {
    const ScheduleLine before = table_.line(number);
    stamp_line(table_.line(number), services_.clock.now());
    if (save_table())
        return true;
    table_.line(number) = before;
    return false;
}

void f_qmr::Command6_Click() {
    const int number = grid_->selected_line(table_.line_count());
    if (number == 0 || run_.running())
        return;
    set_commands_locked(true);
    // Refused or unwritable: said before anything is fetched, and the line is
    // not stamped as if it had run. Made for the run and left empty by it: gone
    // again when this returns.
    const Result<m_qmr::PreparedDestination> destination =
        m_qmr::prepare_destination(table_.line(number).field(field::destination));
    if (!destination) {
        set_commands_locked(false);
        services_.prompter.error(this, QString::fromStdString(destination.error()));
        return;
    }
    const RunOutcome outcome = traite_ligne_detail(number, RunMode::interactive);
    set_commands_locked(false);
    // A run stopped by the window's closing did not finish: no stamp.
    if (outcome == RunOutcome::completed)
        stamp_and_save(number);
}
