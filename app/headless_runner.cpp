#include "app/headless_runner.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <ostream>

#include "engine/extraction_run.h"
#include "net/internet_transfer.h"
#include "engine/run_observer.h"
#include "schedule/clock.h"
#include "schedule/job_from_line.h"
#include "schedule/schedule_file.h"
#include "schedule/schedule_line.h"
#include "app/data_folder.h"
#include "app/instance_lock.h"

namespace {

volatile std::sig_atomic_t stop_signal_caught = 0;

void on_stop_signal(int signal_number) {
    stop_signal_caught = signal_number;
}

/// Prints the run's status texts. There is no event loop to serve, so yield
/// has nothing to do; the stop request is the caught signal.
class PrintingObserver final : public RunObserver {
public:
    PrintingObserver(std::ostream& out, bool in_place, const std::function<int()>& stop_signal)
        : out_(out), in_place_(in_place), stop_signal_(stop_signal) {}

    void show_status(const std::string& text) override {
        if (in_place_) {
            // Back to the start of the line, the new text, then erase what a
            // longer previous text left behind.
            out_ << '\r' << text << "\x1b[K";
            line_open_ = true;
        } else if (!text.empty()) {
            out_ << text << '\n';
        }
        // A reader at the end of a pipe follows the run within a tenth of a
        // second; flushing every one of thousands of texts would cost more
        // system calls than the images' files.
        const auto now = std::chrono::steady_clock::now();
        if (now - last_flush_ >= flush_interval) {
            out_.flush();
            last_flush_ = now;
        }
    }
    void set_background(StatusBackground) override {}
    void yield() override {}
    bool stop_requested() const override { return stop_signal_ && stop_signal_() != 0; }

    /// Ends the line that the in-place texts were written on, and shows
    /// whatever is still buffered.
    void finish() {
        if (line_open_) {
            out_ << '\n';
            line_open_ = false;
        }
        out_.flush();
    }

private:
    std::ostream& out_;
    bool in_place_;
    const std::function<int()>& stop_signal_;
    bool line_open_ = false;
    static constexpr std::chrono::milliseconds flush_interval{100};
    std::chrono::steady_clock::time_point last_flush_{};
};

/// The data folder, or nothing after telling why it cannot be used.
bool usable_data_folder(const CommandLineContext& context, DataFolder& folder) {
    folder = context.data_folder();
    if (folder.path.empty()) {
        context.err << "quillmoor : " << folder.error << '\n';
        return false;
    }
    return true;
}

/// Loads planifs.txt, telling what was repaired; false when it cannot be read.
bool load(const CommandLineContext& context, const std::string& folder, ScheduleTable& table, LoadReport& report) {
    report = load_schedule(folder, table);
    if (!report.ok) {
        context.err << "quillmoor : " << report.error << '\n';
        return false;
    }
    for (const auto& repair : report.repairs)
        context.err << "quillmoor : " << folder << schedule_file_name << " : " << repair << '\n';
    return true;
}

int list_extractions(const CommandLineContext& context) {
    DataFolder folder;
    if (!usable_data_folder(context, folder))
        return exit_status::failure;
    ScheduleTable table;
    LoadReport report;
    if (!load(context, folder.path, table, report))
        return exit_status::failure;
    for (int number = 1; number <= table.line_count(); ++number) {
        const RowText row = row_text(table.line(number));
        context.out << number;
        // An unknown schedule kind leaves its cell empty.
        for (const auto& cell : row.cells)
            context.out << '\t' << cell;
        context.out << '\n';
    }
    context.out.flush();
    return exit_status::ok;
}

int run_extraction(const CommandLineContext& context, const std::string& title) {
    DataFolder folder;
    if (!usable_data_folder(context, folder))
        return exit_status::failure;

    // Held from before the load until after the save, so that no other
    // process rewrites planifs.txt between the two.
    InstanceLock lock;
    switch (lock.acquire(folder.path + InstanceLock::file_name)) {
    case InstanceLock::State::held:
        break;
    case InstanceLock::State::held_elsewhere:
        context.err << "quillmoor : une autre instance de Quillmoor travaille déjà dans " << folder.path
                    << " ; réessayez quand elle aura fini.\n";
        return exit_status::locked;
    default:
        context.err << "quillmoor : " << lock.error() << '\n';
        return exit_status::failure;
    }

    remove_leftover_save_files(folder.path);

    ScheduleTable table;
    LoadReport report;
    if (!load(context, folder.path, table, report))
        return exit_status::failure;
    const int number = table.find_title(title);
    if (number == 0) {
        context.err << "quillmoor : aucune extraction enregistrée n'a pour titre « " << title
                    << " » (quillmoor --list les affiche).\n";
        return exit_status::usage;
    }

    const std::unique_ptr<InternetTransfer> transfer = context.make_transfer();
    PrintingObserver observer(context.out, context.out_is_terminal, context.stop_signal);
    ExtractionRun run(*transfer, observer);
    const RunOutcome outcome = run.run(job_from_line(table.line(number)), RunMode::interactive);
    observer.finish();

    if (outcome == RunOutcome::stopped) {
        context.err << "quillmoor : extraction interrompue ; " << schedule_file_name << " n'a pas été modifié.\n";
        const int signal_number = context.stop_signal ? context.stop_signal() : 0;
        return 128 + (signal_number != 0 ? signal_number : SIGINT);
    }
    if (outcome != RunOutcome::completed) {
        context.err << "quillmoor : une extraction est déjà en cours.\n";
        return exit_status::failure;
    }

    stamp_line(table.line(number), context.now());
    const std::string error = save_schedule(folder.path, table, &report);
    if (!report.backup_path.empty())
        context.err << "quillmoor : le fichier d'origine a été copié dans " << report.backup_path << '\n';
    if (!error.empty()) {
        context.err << "quillmoor : " << folder.path << schedule_file_name << " n'a pas pu être enregistré : " << error
                    << '\n';
        return exit_status::failure;
    }
    return exit_status::ok;
}

/// What the arguments ask for.
struct Command {
    enum class Kind { usage, run, list, version, help, invalid };
    Kind kind = Kind::usage;
    std::string title;   ///< for Kind::run
    std::string problem; ///< for Kind::invalid, in French
};

/// Reads the arguments (without the program's name).
Command parse_command_line(const std::vector<std::string>& args);

Command parse_command_line(const std::vector<std::string>& args) {
    Command command;
    if (args.empty())
        return command;
    const std::string& option = args[0];
    const std::size_t expected = option == "--run" ? 2 : 1;
    if (option == "--run" && args.size() < 2) {
        command.kind = Command::Kind::invalid;
        command.problem = "--run demande le titre d'une extraction.";
    } else if (option != "--run" && option != "--list" && option != "--version" && option != "--help") {
        command.kind = Command::Kind::invalid;
        command.problem = "option inconnue : " + option;
    } else if (args.size() > expected) {
        command.kind = Command::Kind::invalid;
        command.problem = "argument en trop : " + args[expected];
    } else if (option == "--run") {
        command.kind = Command::Kind::run;
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
           "  --version     affiche la version\n"
           "  --help        affiche cette aide\n"
           "\n"
           "Les extractions enregistrées sont dans planifs.txt, dans le dossier de données\n"
           "$XDG_DATA_HOME/Qmr/ (par défaut ~/.local/share/Qmr/).\n";
}

} // namespace

int run_command_line(const std::vector<std::string>& args, const CommandLineContext& context) {
    const Command command = parse_command_line(args);
    switch (command.kind) {
    case Command::Kind::usage:
    case Command::Kind::help:
        context.out << usage_text();
        context.out.flush();
        return exit_status::ok;
    case Command::Kind::version:
        context.out << "Quillmoor v2.0\n";
        context.out.flush();
        return exit_status::ok;
    case Command::Kind::list:
        return list_extractions(context);
    case Command::Kind::run:
        return run_extraction(context, command.title);
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

int caught_stop_signal() {
    return stop_signal_caught;
}
