#include "app/headless_runner.h"

#include <csignal>
#include <optional>
#include <ostream>
#include <unistd.h>

#include "net/internet_transfer.h"
#include "store/database.h"
#include "store/destination.h"
#include "store/image_memory.h"
#include "engine/extraction_run.h"
#include "journal/journal.h"
#include "journal/run_record.h"
#include "schedule/clock.h"
#include "schedule/job_from_line.h"
#include "schedule/schedule_file.h"
#include "schedule/schedule_line.h"
#include "app/data_folder.h"
#include "app/instance_lock.h"
#include "app/journal_listing.h"
#include "app/run_report.h"
#include "app/status_printer.h"
#include "quillmoor_version.h"

namespace {

volatile std::sig_atomic_t stop_signal_caught = 0;

void on_stop_signal(int signal_number) {
    stop_signal_caught = signal_number;
}

/// The data folder, after telling its warning, or why it cannot be used.
Result<DataFolder> usable_data_folder(const CommandLineContext& context) {
    Result<DataFolder> folder = context.data_folder();
    if (!folder)
        context.err << "quillmoor : " << folder.error() << '\n';
    else if (!folder->warning.empty())
        context.err << "quillmoor : " << folder->warning << '\n';
    return folder;
}

/// The status of a command whose output is its whole result: output that
/// could not be written (a full disk, a closed pipe) is no success.
int output_status(const CommandLineContext& context) {
    if (context.out.flush())
        return exit_status::ok;
    context.err << "quillmoor : la sortie standard n'a pas pu être écrite.\n";
    return exit_status::failure;
}

/// Loads planifs.txt, telling what was repaired, or why it cannot be read.
Result<LoadReport> load(const CommandLineContext& context, const std::string& folder, ScheduleTable& table) {
    Result<LoadReport> report = load_schedule(folder, table);
    if (!report) {
        context.err << "quillmoor : " << report.error() << '\n';
        return report;
    }
    for (const auto& repair : report->repairs)
        context.err << "quillmoor : " << folder << schedule_file_name << " : " << repair << '\n';
    return report;
}

int list_extractions(const CommandLineContext& context) {
    const Result<DataFolder> folder = usable_data_folder(context);
    if (!folder)
        return exit_status::failure;
    ScheduleTable table;
    if (!load(context, folder->path, table))
        return exit_status::failure;
    for (int number = 1; number <= table.line_count(); ++number) {
        const RowText row = row_text(table.line(number));
        context.out << number;
        // An unknown schedule kind leaves its cell empty.
        for (const auto& cell : row.cells)
            context.out << '\t' << cell;
        context.out << '\n';
    }
    return output_status(context);
}

int run_extraction(const CommandLineContext& context, const std::string& title) {
    const Result<DataFolder> folder = usable_data_folder(context);
    if (!folder)
        return exit_status::failure;

    // Held from before the load until after the save, so that no other
    // process rewrites planifs.txt between the two.
    InstanceLock lock;
    if (const Result<void, LockFailure> locked = lock.acquire(folder->path + InstanceLock::file_name); !locked) {
        if (locked.kind() == LockFailure::held_elsewhere) {
            context.err << "quillmoor : une autre instance de Quillmoor travaille déjà dans " << folder->path
                        << " ; réessayez quand elle aura fini.\n";
            return exit_status::locked;
        }
        context.err << "quillmoor : " << locked.error() << '\n';
        return exit_status::failure;
    }

    remove_leftover_save_files(folder->path);

    ScheduleTable table;
    Result<LoadReport> report = load(context, folder->path, table);
    if (!report)
        return exit_status::failure;
    const int number = table.find_title(title);
    if (number == 0) {
        context.err << "quillmoor : aucune extraction enregistrée n'a pour titre « " << title
                    << " » (quillmoor --list les affiche).\n";
        return exit_status::usage;
    }

    ExtractionJob job = job_from_line(table.line(number));
    // As the window would run it.
    job.all_image_formats = ::access((folder->path + all_image_formats_file).c_str(), F_OK) == 0;
    // Checked before anything is fetched: a relative destination would put
    // the images wherever the program was started from.
    if (const Result<void> checked = m_qmr::check_destination(job.destination); !checked) {
        context.err << "quillmoor : " << checked.error() << '\n';
        return exit_status::failure;
    }
    // Made now, so that what the run leaves empty goes when this returns, after
    // a stop too. A destination that cannot be made or written stops nothing
    // here: its images fail one by one as disk errors, which the exit status
    // and the summary tell.
    const Result<m_qmr::PreparedDestination> destination = m_qmr::prepare_destination(job.destination);

    // Opened under the lock, like planifs.txt: the window shares it.
    OpenedDatabase database = open_data_database(folder->path);
    const std::unique_ptr<ImageMemory> memory = image_memory_in(database);
    const std::unique_ptr<RunJournal> journal = run_journal_in(database);
    const std::unique_ptr<InternetTransfer> transfer = context.make_transfer();
    StatusPrinter printer(context.out, context.out_is_terminal, context.stop_signal);
    ExtractionRun run(*transfer, printer, *memory);
    const std::int64_t started = real_seconds(context.now());
    const RunOutcome outcome = run.run(job, RunMode::interactive);
    printer.finish();
    // Once, at its end: the journal never slows a run down.
    if (outcome != RunOutcome::already_running)
        journal->record(
            run_record(run, job.title, {RunOrigin::terminal, started, real_seconds(context.now()), outcome, {}}));
    for (const std::string& notice : {memory->take_notice(), journal->take_notice()})
        if (!notice.empty())
            context.err << "quillmoor : " << notice << '\n';

    if (outcome == RunOutcome::stopped) {
        context.err << "quillmoor : extraction interrompue ; " << schedule_file_name << " n'a pas été modifié.\n";
        const int signal_number = context.stop_signal ? context.stop_signal() : 0;
        return 128 + (signal_number != 0 ? signal_number : SIGINT);
    }
    if (outcome != RunOutcome::completed) {
        context.err << "quillmoor : une extraction est déjà en cours.\n";
        return exit_status::failure;
    }
    // For cron, stderr and the exit status are all there is to tell a run
    // that did its job from one that did not, or what it left as it was.
    if (const std::string summary = run_summary(run.counters(), job.destination); !summary.empty())
        context.err << "quillmoor : " << summary << '\n';

    // A run that went to its end is stamped, failures or not, as the window does.
    stamp_line(table.line(number), context.now());
    const Result<void> saved = save_schedule(folder->path, table, &*report);
    if (!report->backup_path.empty())
        context.err << "quillmoor : le fichier d'origine a été copié dans " << report->backup_path << '\n';
    if (!saved) {
        context.err << "quillmoor : " << folder->path << schedule_file_name
                    << " n'a pas pu être enregistré : " << saved.error() << '\n';
        return exit_status::failure;
    }
    return run_incomplete(run.counters()) ? exit_status::incomplete : exit_status::ok;
}

/// Prints the journal's last runs, of every title or of `title`, then the
/// failures of the newest. Reads without the lock: a run that ends meanwhile
/// is shown whole or not at all.
int show_journal(const CommandLineContext& context, const std::optional<std::string>& title) {
    const Result<DataFolder> folder = usable_data_folder(context);
    if (!folder)
        return exit_status::failure;
    const Result<std::unique_ptr<RunJournal>> journal = run_journal_to_read(folder->path);
    if (!journal) {
        context.err << "quillmoor : " << journal.error() << '\n';
        return exit_status::failure;
    }
    const std::vector<RunRecord> runs = (*journal)->recent(RunJournal::kept_runs, title);
    const std::vector<RunFailure> failures =
        runs.empty() ? std::vector<RunFailure>{} : (*journal)->failures_of(runs[0].id);
    if (const std::string notice = (*journal)->take_notice(); !notice.empty()) {
        context.err << "quillmoor : " << notice << '\n';
        return exit_status::failure;
    }
    // A title stored in planifs.txt that has not run yet is no mistake.
    if (runs.empty() && title) {
        ScheduleTable table;
        if (!load(context, folder->path, table))
            return exit_status::failure;
        if (table.find_title(*title) == 0) {
            context.err << "quillmoor : aucune extraction n'a pour titre « " << *title
                        << " », ni dans le journal ni dans planifs.txt (quillmoor --list les affiche).\n";
            return exit_status::usage;
        }
    }
    print_journal(context.out, runs, failures, title);
    return output_status(context);
}

/// What the arguments ask for.
struct Command {
    enum class Kind { usage, run, list, journal, version, help, invalid };
    Kind kind = Kind::usage;
    std::optional<std::string> title; ///< for Kind::run, and Kind::journal when given
    std::string problem;              ///< for Kind::invalid, in French
};

/// Reads the arguments (without the program's name).
Command parse_command_line(const std::vector<std::string>& args);

Command parse_command_line(const std::vector<std::string>& args) {
    Command command;
    if (args.empty())
        return command;
    const std::string& option = args[0];
    const std::size_t expected = option == "--run" || option == "--journal" ? 2 : 1;
    if (option == "--run" && args.size() < 2) {
        command.kind = Command::Kind::invalid;
        command.problem = "--run demande le titre d'une extraction.";
    } else if (option != "--run" && option != "--list" && option != "--journal" && option != "--version" &&
               option != "--help") {
        command.kind = Command::Kind::invalid;
        command.problem = "option inconnue : " + option;
    } else if (args.size() > expected) {
        command.kind = Command::Kind::invalid;
        command.problem = "argument en trop : " + args[expected];
    } else if (option == "--run" || option == "--journal") {
        command.kind = option == "--run" ? Command::Kind::run : Command::Kind::journal;
        if (args.size() > 1)
            command.title = args[1];
    } else {
        command.kind = option == "--list"      ? Command::Kind::list
                       : option == "--version" ? Command::Kind::version
                                               : Command::Kind::help;
    }
    return command;
}

std::string usage_text() {
    return "Utilisation : quillmoor [OPTION]\n"
           "\n"
           "  --run TITRE   lance maintenant l'extraction enregistrée sous ce titre,\n"
           "                puis note la date et l'heure de son passage\n"
           "  --list        affiche les extractions enregistrées, une par ligne\n"
           "  --journal [TITRE]\n"
           "                affiche le journal : les dernières extractions faites (toutes,\n"
           "                ou celles de ce titre), la plus récente d'abord, une par ligne,\n"
           "                puis les adresses en échec de la plus récente et pourquoi\n"
           "  --version     affiche la version\n"
           "  --help        affiche cette aide\n"
           "\n"
           "Les extractions enregistrées sont dans planifs.txt, dans le dossier de données\n"
           "$XDG_DATA_HOME/Qmr/ (par défaut ~/.local/share/Qmr/), ou, si celui-ci ne peut\n"
           "pas être créé, dans qmrsetin/ à côté du programme.\n"
           "\n"
           "Après une extraction, une ligne sur la sortie d'erreur compte les pages et les\n"
           "images qui n'ont pas pu être récupérées, et les images laissées telles quelles\n"
           "parce qu'elles n'avaient pas changé, s'il y en a. Chaque extraction, de la\n"
           "fenêtre, de la planification ou de --run, est notée dans le journal, qui garde\n"
           "les 1000 dernières.\n"
           "\n"
           "État de sortie :\n"
           "  0    réussite\n"
           "  1    dossier de données, planifs.txt ou journal inutilisable, destination\n"
           "       qui n'est pas un chemin absolu, ou sortie standard impossible à écrire\n"
           "  2    option incorrecte, ou aucune extraction n'a ce titre\n"
           "  3    une autre instance de Quillmoor travaille dans le dossier de données\n"
           "  4    extraction incomplète : la page de départ n'a pas pu être lue, ou une\n"
           "       image n'a pas pu être écrite dans la destination ; la date est notée\n"
           "  130  extraction interrompue par Ctrl+C (SIGINT), 143 par SIGTERM ;\n"
           "       la date n'est pas notée\n";
}

} // namespace

int run_command_line(const std::vector<std::string>& args, const CommandLineContext& context) {
    const Command command = parse_command_line(args);
    switch (command.kind) {
    case Command::Kind::usage:
    case Command::Kind::help:
        context.out << usage_text();
        return output_status(context);
    case Command::Kind::version:
        context.out << program_and_version << '\n';
        return output_status(context);
    case Command::Kind::list:
        return list_extractions(context);
    case Command::Kind::run:
        return run_extraction(context, *command.title);
    case Command::Kind::journal:
        return show_journal(context, command.title);
    case Command::Kind::invalid:
        break;
    }
    context.err << "quillmoor : " << command.problem << "\n\n" << usage_text();
    return exit_status::usage;
}

void catch_stop_signals() {
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    // SA_RESETHAND: if the run does not stop, a second signal ends the process.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void ignore_write_signals() {
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

int caught_stop_signal() {
    return stop_signal_caught;
}
