#include "app/window_main.h"

#include <chrono>
#include <cstdlib>
#include <iostream>

#include <QApplication>
#include <QDir>

#include "app/data_folder.h"
#include "app/headless_runner.h"
#include "app/instance_lock.h"
#include "app/stop_signal_watch.h"
#include "app/window_launcher.h"
#include "journal/journal.h"
#include "net/curl_transfer.h"
#include "schedule/clock.h"
#include "schedule/schedule_file.h"
#include "store/database.h"
#include "store/image_memory.h"
#include "journal/journal.h"
#include "ui/f_qmr.h"
#include "ui/app_icon.h"
#include "ui/desktop_integration.h"
#include "ui/prompter.h"
#include "ui/single_instance.h"
#include "ui/wait_box.h"
#include "quillmoor_version.h"

namespace {

/// Keeps no run: the journal window shows none.
class NoRunJournal final : public RunJournal {
public:
    std::int64_t record(const RunRecord&) override { return 0; }
    std::vector<RunRecord> recent(int, const std::optional<std::string>&) override { return {}; }
    std::vector<RunFailure> failures_of(std::int64_t) override { return {}; }
    std::vector<std::string> files_of(std::int64_t) override { return {}; }
    std::string take_notice() override { return {}; }
};

/// Takes the data folder's lock, waiting with a message while another process
/// holds it: a `quillmoor --run` started by cron rewrites planifs.txt when it
/// ends, and the window must read the file after that, not before. Returns
/// the exit status to end with, or -1 once the lock is held.
int take_lock(InstanceLock& lock, const std::string& folder, Prompter& prompter) {
    const std::string path = folder + InstanceLock::file_name;
    const QString text = QString::fromStdString(
        "Une autre instance de Quillmoor (par exemple « quillmoor --run », lancé par cron) travaille dans « " + folder +
        " ».\nLa fenêtre s'ouvrira dès qu'elle aura fini.");
    std::string failure;
    const bool ended = wait_with_message(
        text,
        [&] {
            const Result<void, LockFailure> locked = lock.acquire(path);
            if (locked)
                return true;
            failure = locked.error();
            return locked.kind() != LockFailure::held_elsewhere;
        },
        std::chrono::milliseconds(500));
    if (!ended)
        return exit_status::locked;
    if (!lock.held()) {
        prompter.error(nullptr, QString::fromStdString(failure));
        return exit_status::failure;
    }
    return -1;
}

} // namespace

int run_window(int& argc, char** argv) {
    // Qt's threads, started from here on, inherit this: the signals can only
    // come to the watch below, on this thread.
    StopSignalWatch::hold_signals();
    // Without a display Qt would abort; say what to do instead.
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") && !std::getenv("QT_QPA_PLATFORM")) {
        std::cerr << "quillmoor : aucun affichage pour ouvrir la fenêtre (ni DISPLAY ni WAYLAND_DISPLAY) ; "
                     "quillmoor --help donne les commandes sans fenêtre.\n";
        return exit_status::failure;
    }
    QApplication application(argc, argv);
    // Closing the help window must not end the program: the main window
    // decides when it ends.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(app_icon());
    // Its menu entry: the desktop then matches the windows and notices with it.
    QGuiApplication::setDesktopFileName(QString::fromUtf8(desktop_id));
    MessageBoxPrompter prompter;

    // Asked to stop before the window exists: the box open then (a warning,
    // the wait for the lock) is ended, and the program ends as it does once
    // the window is up, with status 0 and no other question.
    f_qmr* window = nullptr;
    bool stopped = false;
    const StopSignalWatch stop_signals([&] {
        if (window) {
            window->close_without_asking();
        } else {
            stopped = true;
            QCoreApplication::exit(exit_status::ok);
        }
    });
    const auto end_with = [&stopped](int status) { return stopped ? exit_status::ok : status; };

    // Beside quillmoor, not beside this program, when the data must go
    // beside the program: quillmoor --run looks there.
    DataFolderSources sources = current_data_folder_sources();
    sources.program_folder = launcher_folder(sources.program_folder);
    const Result<DataFolder> chosen = choose_data_folder(sources);
    if (!chosen) {
        prompter.error(nullptr, QString::fromStdString(chosen.error()));
        return end_with(exit_status::failure);
    }
    const DataFolder& folder = *chosen;
    // One window per user and data folder: a second start brings the first
    // one to the front instead of opening a window that would rewrite the same
    // schedule. Without the socket (a failure) the data folder's lock still
    // protects it.
    SingleInstance instance(SingleInstance::default_server_name(QString::fromStdString(folder.path)));
    if (instance.start() == SingleInstance::Role::secondary) {
        // Started from a terminal, the user would otherwise see nothing happen.
        std::cerr << "quillmoor : Quillmoor est déjà ouvert ; sa fenêtre passe au premier plan.\n";
        return exit_status::ok;
    }
    if (!folder.warning.empty())
        prompter.ask(nullptr, PromptIcon::exclamation, QStringLiteral("Quillmoor"),
                     QString::fromStdString(folder.warning), {PromptButton::ok});
    if (stopped)
        return exit_status::ok;

    // Held for the window's whole life, so that `quillmoor --run` never
    // rewrites planifs.txt under it.
    InstanceLock lock;
    if (const int status = take_lock(lock, folder.path, prompter); status >= 0 || stopped)
        return end_with(status);
    remove_leftover_save_files(folder.path);

    // A file that cannot be read leaves the window empty, and refusing to
    // save over it: the window says so.
    ScheduleTable table;
    const Result<LoadReport> report = load_schedule(folder.path, table);

    // Opened under the lock, like planifs.txt: `quillmoor --run` shares it.
    OpenedDatabase database = open_data_database(folder.path);
    const std::unique_ptr<ImageMemory> memory = image_memory_in(database);
    const std::unique_ptr<RunJournal> journal = run_journal_in(database);
    CurlTransfer transfer;
    SystemClock clock;
    DesktopIntegration tray;
    const QString home = QDir::homePath();
    const VolumeSource volumes = [home] { return mounted_volumes(home.toStdString()); };
    WindowServices services{folder.path, transfer, *memory, *journal, clock, prompter, tray, volumes, home};
    if (sources.program_folder.starts_with('/'))
        services.launcher = sources.program_folder + launcher_program_name;
    f_qmr main_window(std::move(services), std::move(table));
    window = &main_window;
    QObject::connect(&instance, &SingleInstance::activation_requested, &main_window, &f_qmr::bring_to_front);
    // exit(), not quit(): it also ends a message box still open at start-up,
    // before the main loop has begun.
    QObject::connect(
        &main_window, &f_qmr::quit_requested, &application, [] { QCoreApplication::exit(exit_status::ok); },
        Qt::QueuedConnection);
    // Logging off or shutting down: no question the session could not wait for.
    QObject::connect(&application, &QGuiApplication::commitDataRequest, &main_window, &f_qmr::close_without_asking);
    main_window.Form_Load(report);
    // Stopped while a start-up message was open: that box's loop took the quit.
    if (main_window.stop_requested())
        return exit_status::ok;
    const int status = QApplication::exec();
    window = nullptr;
    return status;
}
