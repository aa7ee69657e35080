#include "app/window_main.h"

#include <cstdlib>
#include <iostream>

#include <QApplication>
#include <QDir>

#include "app/data_folder.h"
#include "app/headless_runner.h"
#include "app/instance_lock.h"
#include "net/curl_transfer.h"
#include "schedule/clock.h"
#include "schedule/schedule_file.h"
#include "ui/f_qmr.h"
#include "ui/prompter.h"

int run_window(int& argc, char** argv) {
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
    MessageBoxPrompter prompter;
    auto fail = [&prompter](const std::string& text, int status) {
        prompter.error(nullptr, QString::fromStdString(text));
        return status;
    };

    const DataFolder folder = choose_data_folder(current_data_folder_sources());
    if (folder.path.empty())
        return fail(folder.error, exit_status::failure);

    // Held for the window's whole life, so that `quillmoor --run` never
    // rewrites planifs.txt under it.
    InstanceLock lock;
    switch (lock.acquire(folder.path + InstanceLock::file_name)) {
    case InstanceLock::State::held:
        break;
    case InstanceLock::State::held_elsewhere:
        return fail("Une autre instance de Quillmoor travaille déjà dans " + folder.path +
                        " ; réessayez quand elle aura fini.",
                    exit_status::locked);
    default:
        return fail(lock.error(), exit_status::failure);
    }

    // A file that cannot be read is never replaced by an empty schedule.
    ScheduleTable table;
    const LoadReport report = load_schedule(folder.path, table);
    if (!report.ok)
        return fail(report.error, exit_status::failure);

    CurlTransfer transfer;
    SystemClock clock;
    const QString home = QDir::homePath();
    f_qmr window({folder.path, transfer, clock, prompter, [home] { return mounted_volumes(home.toStdString()); }, home},
                 std::move(table));
    QObject::connect(&window, &f_qmr::quit_requested, &application, &QCoreApplication::quit, Qt::QueuedConnection);
    window.show();
    return QApplication::exec();
}
