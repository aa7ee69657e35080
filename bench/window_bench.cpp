// The window's two figures, on the offscreen platform unless QT_QPA_PLATFORM
// says otherwise:
//
//   window_bench --make FOLDER     writes planifs.txt with 200 extractions
//   window_bench --startup FOLDER  opens the window on FOLDER, its grid filled,
//                                  and ends once it is shown; time the whole
//                                  process from outside (/usr/bin/time)
//   window_bench --stall           runs an extraction from the grid against a
//                                  server that answers nothing for five
//                                  seconds, and prints the largest gap between
//                                  two ticks of a 10 ms timer meanwhile
//   window_bench --pass FOLDER     runs the scheduler's pass over FOLDER's 200
//                                  extractions at a moment none is due, and
//                                  prints how long it took
//   window_bench --quit            runs an extraction from the grid whose image
//                                  stops halfway, closes the window with Yes to
//                                  the question, and prints how long the run
//                                  took to return after the Yes
//   window_bench --journal FOLDER  opens the journal window over 1 000 runs
//                                  and prints how long it took; then selects a
//                                  run of 200 photographs of 4 megapixels
//                                  (made in FOLDER the first time), and prints
//                                  the largest gap between two ticks of a 10 ms
//                                  timer while their thumbnails are made
//   window_bench --journal-memory FOLDER
//                                  opens the journal window on a run of 3 000
//                                  such images (links to those of FOLDER),
//                                  scrolls through all of their thumbnails, and
//                                  prints the process's peak memory

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <unistd.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QImage>
#include <QListView>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QTimer>

#include <curl/curl.h>

#include "net/curl_transfer.h"
#include "schedule/clock.h"
#include "schedule/schedule_file.h"
#include "journal/journal.h"
#include "store/database.h"
#include "store/image_memory.h"
#include "ui/desktop_integration.h"
#include "ui/f_qmr.h"
#include "ui/journal_window.h"
#include "ui/prompter.h"
#include "ui/schedule_grid.h"
#include "ui/scheduler.h"
#include "ui/thumbnails.h"

namespace {

using steady = std::chrono::steady_clock;

/// Answers every message box with its first button, showing nothing.
class SilentPrompter final : public Prompter {
public:
    steady::time_point answered;

protected:
    PromptButton show_box(QWidget*, PromptIcon, const QString&, const QString& text,
                          const QList<PromptButton>& buttons) override {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
        answered = steady::now();
        return buttons.first();
    }
};

ScheduleLine line(int number, const std::string& address, const std::string& destination) {
    ScheduleLine line;
    const char* fields[] = {"http://site/", "2", "", "", "1", "/tmp", "1", "2", "2", "8", "2", "1"};
    for (int f = 2; f <= 13; ++f)
        line.set_field(f, fields[f - 2]);
    line.set_field(field::title, "Galerie numéro " + std::to_string(number));
    line.set_field(field::start_address, address);
    line.set_field(field::destination, destination);
    for (int f = field::monday; f <= field::sunday; ++f)
        line.set_field(f, "1");
    for (int offset = 1; offset < 8; offset += 2) {
        line.set_field(field::first_include + offset, "*");
        line.set_field(field::first_exclude + offset, "*");
    }
    line.set_field(field::drive, "/");
    line.set_field(field::last_run_date, "2007/05/14");
    line.set_field(field::last_run_time, "08:45");
    return line;
}

int make(const std::string& folder) {
    std::filesystem::create_directories(folder);
    ScheduleTable table;
    for (int number = 1; number <= ScheduleTable::max_lines; ++number)
        table.append(line(number, "http://site/galerie/" + std::to_string(number) + "/", "/tmp/images"));
    const Result<void> saved = save_schedule(folder + "/", table);
    if (!saved)
        std::fprintf(stderr, "%s\n", saved.error().c_str());
    return saved ? 0 : 1;
}

/// A server on 127.0.0.1 that takes one connection, says nothing for
/// `silence`, then hangs up. Returns its port.
int start_silent_server(std::chrono::seconds silence, std::thread& thread) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(listener, 4) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::perror("silent server");
        std::exit(1);
    }
    thread = std::thread([listener, silence] {
        const int connection = ::accept(listener, nullptr, nullptr);
        std::this_thread::sleep_for(silence);
        ::close(connection);
        ::close(listener);
    });
    return ntohs(address.sin_port);
}

/// The system's time, or a moment of the benchmark's choosing.
class BenchClock final : public Clock {
public:
    std::tm now() const override { return fixed ? *fixed : SystemClock().now(); }
    std::optional<std::tm> fixed;
};

struct Window {
    Window(const std::string& folder, ScheduleTable table)
        : database(open_data_database(folder)), journal(run_journal_in(database)),
          window({folder, transfer, memory, *journal, clock, prompter, tray,
                  [] { return std::vector<std::string>{"/"}; }, QStringLiteral("/tmp")},
                 std::move(table)) {}
    CurlTransfer transfer;
    NoImageMemory memory;
    OpenedDatabase database; ///< the data folder's, holding the journal as the program's does
    std::unique_ptr<RunJournal> journal;
    BenchClock clock;
    SilentPrompter prompter;
    DesktopIntegration tray{nullptr, [] { return false; }}; // offscreen: no notification area
    f_qmr window;
};

/// The 200 extractions that --make wrote in `folder`.
bool load_made(const std::string& folder, ScheduleTable& table) {
    if (load_schedule(folder + "/", table).ok() && table.line_count() == ScheduleTable::max_lines)
        return true;
    std::fprintf(stderr, "planifs.txt in %s: run --make first\n", folder.c_str());
    return false;
}

int startup(const std::string& folder) {
    ScheduleTable table;
    if (!load_made(folder, table))
        return 1;
    Window shown(folder + "/", std::move(table));
    shown.window.show();
    // exit(), not quit(): quit() would close the window, which asks first.
    QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
    return QApplication::exec();
}

int pass(const std::string& folder) {
    ScheduleTable table;
    if (!load_made(folder, table))
        return 1;
    Window shown(folder + "/", std::move(table));
    shown.window.show();
    // Every line was last run on 2007/05/14 and waits two days: none is due.
    std::tm moment{};
    moment.tm_year = 107;
    moment.tm_mon = 4;
    moment.tm_mday = 14;
    moment.tm_hour = 10;
    shown.clock.fixed = moment;
    const steady::time_point start = steady::now();
    shown.window.scheduler()->traite_ligne();
    std::printf("pass over %d extractions, none due: %.2f ms\n", ScheduleTable::max_lines,
                std::chrono::duration<double, std::milli>(steady::now() - start).count());
    return 0;
}

int stall() {
    char folder[] = "/tmp/window-bench-XXXXXX";
    if (!::mkdtemp(folder))
        return 1;
    std::thread server;
    const int port = start_silent_server(std::chrono::seconds(5), server);
    ScheduleTable table;
    table.append(line(1, "http://127.0.0.1:" + std::to_string(port) + "/", std::string(folder) + "/images"));
    Window shown(std::string(folder) + "/", std::move(table));
    shown.window.show();

    steady::duration largest{};
    steady::time_point last = steady::now();
    int ticks = 0;
    QTimer timer;
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        const steady::time_point now = steady::now();
        largest = std::max(largest, now - last);
        last = now;
        ++ticks;
    });
    timer.start();
    last = steady::now();
    const steady::time_point start = last;
    shown.window.grid()->Command6->click();
    const auto run_ms = std::chrono::duration_cast<std::chrono::milliseconds>(steady::now() - start).count();
    server.join();
    std::printf("run: %lld ms, ticks: %d, largest gap between ticks: %.1f ms\n", static_cast<long long>(run_ms), ticks,
                std::chrono::duration<double, std::milli>(largest).count());
    std::string cleanup = std::string("rm -rf ") + folder;
    return std::system(cleanup.c_str()) == 0 ? 0 : 1;
}

int quit() {
    char folder[] = "/tmp/window-bench-XXXXXX";
    if (!::mkdtemp(folder))
        return 1;
    httplib::Server server;
    std::atomic<bool> halfway{false}, over{false};
    server.Get("/", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("<img src=\"a.gif\">", "text/html");
    });
    // 100 KB, then nothing for ten seconds.
    server.Get("/a.gif", [&](const httplib::Request&, httplib::Response& response) {
        response.set_content_provider(200'000, "image/gif",
                                      [&](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                          if (offset == 0) {
                                              const std::string half = "GIF89a" + std::string(100'000 - 6, 'a');
                                              halfway = sink.write(half.data(), half.size());
                                              return true;
                                          }
                                          for (int waited = 0; !over && waited < 10'000; waited += 10)
                                              std::this_thread::sleep_for(std::chrono::milliseconds(10));
                                          return false;
                                      });
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread serving([&] { server.listen_after_bind(); });
    while (!server.is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));

    ScheduleTable table;
    table.append(line(1, "http://127.0.0.1:" + std::to_string(port) + "/", std::string(folder) + "/images"));
    const std::string planifs = format_schedule(table);
    Window shown(std::string(folder) + "/", std::move(table));
    shown.window.show();
    QTimer question;
    QObject::connect(&question, &QTimer::timeout, [&] {
        if (halfway) {
            question.stop();
            shown.window.close();
        }
    });
    question.start(5);
    shown.window.grid()->Command6->click();
    const steady::time_point returned = steady::now();
    int files_left = 0;
    std::error_code error;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(std::string(folder) + "/images", error))
        files_left += entry.is_regular_file();
    std::printf("run returned %.1f ms after the Yes, %d file(s) left in the destination\n",
                std::chrono::duration<double, std::milli>(returned - shown.prompter.answered).count(), files_left);
    over = true;
    server.stop();
    serving.join();
    std::string cleanup = std::string("rm -rf ") + folder;
    return std::system(cleanup.c_str()) == 0 ? 0 : 1;
}

double ms_since(steady::time_point start) {
    return std::chrono::duration<double, std::milli>(steady::now() - start).count();
}

/// 200 photographs of 2 400 x 1 700 pixels in `folder`, made once: a
/// gradient under a pattern, as a JPEG at quality 90 (about 1 MB each).
std::vector<std::string> photographs(const std::string& folder) {
    std::filesystem::create_directories(folder);
    std::vector<std::string> paths;
    for (int number = 0; number < 200; ++number) {
        const std::string path = folder + "/photo " + std::to_string(number) + ".jpg";
        if (!std::filesystem::exists(path)) {
            QImage image(2400, 1700, QImage::Format_RGB32);
            for (int y = 0; y < image.height(); ++y) {
                auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
                for (int x = 0; x < image.width(); ++x)
                    line[x] = qRgb((x + number * 7) % 256, (y * 3) % 256, ((x ^ y) + number) % 256);
            }
            image.save(QString::fromStdString(path), "JPEG", 90);
        }
        paths.push_back(path);
    }
    return paths;
}

/// Opens the main window's "Journal".
JournalWindow* open_journal(Window& shown) {
    shown.window.findChild<QAction*>(QStringLiteral("m_journal"))->trigger();
    QCoreApplication::processEvents();
    return shown.window.journal_window();
}

/// An empty data folder under `folder`, for a journal of the benchmark's own.
std::string fresh_data_folder(const std::string& folder) {
    const std::string data = folder + "/data/";
    std::filesystem::remove_all(data);
    std::filesystem::create_directories(data);
    return data;
}

int journal(const std::string& folder) {
    Window shown(fresh_data_folder(folder), {});
    shown.window.show();
    RunRecord run;
    run.title = "Galerie de photographies";
    run.files = photographs(folder);
    for (int number = 0; number < RunJournal::kept_runs; ++number) {
        run.started = 1'179'125'100 + number * 900;
        run.ended = run.started + 60;
        run.images_copied = number % 200;
        run.ending = number % 7 == 0 ? RunEnding::incomplete : RunEnding::completed;
        shown.journal->record(run);
    }
    const steady::time_point start = steady::now();
    JournalWindow* journal = open_journal(shown);
    std::printf("journal window opened over %d runs: %.1f ms\n", journal->runs->rowCount(), ms_since(start));

    // Asked for all at once, as a view as large as the grid would.
    steady::duration largest{};
    steady::time_point last = steady::now();
    QTimer timer;
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        largest = std::max(largest, steady::now() - last);
        last = steady::now();
    });
    int made = 0;
    QObject::connect(journal->thumbnails(), &Thumbnails::made, [&made] {
        if (++made == 200)
            QCoreApplication::exit(0);
    });
    timer.start();
    QTimer::singleShot(60'000, [] { QCoreApplication::exit(1); });
    const steady::time_point thumbnails_start = last = steady::now();
    for (const std::string& path : run.files)
        journal->thumbnails()->picture(QString::fromStdString(path));
    if (QApplication::exec() != 0)
        std::printf("only %d thumbnails made in a minute\n", made);
    std::printf("200 thumbnails of 4-megapixel JPEGs: %.0f ms, largest gap between ticks: %.1f ms\n",
                ms_since(thumbnails_start), std::chrono::duration<double, std::milli>(largest).count());
    return 0;
}

/// The peak of this process's resident memory, in MB.
double peak_memory_mb() {
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
    return 0;
}

int journal_memory(const std::string& folder) {
    const std::vector<std::string> originals = photographs(folder);
    const std::string links = folder + "/links";
    std::filesystem::create_directories(links);
    RunRecord run;
    run.title = "Galerie de photographies";
    for (int number = 0; number < 3000; ++number) {
        const std::string path = links + "/photo " + std::to_string(number) + ".jpg";
        if (!std::filesystem::exists(path))
            std::filesystem::create_hard_link(originals[std::size_t(number) % originals.size()], path);
        run.files.push_back(path);
    }
    Window shown(fresh_data_folder(folder), {});
    shown.window.show();
    shown.journal->record(run);
    JournalWindow* journal = open_journal(shown);
    journal->resize(1600, 1200);
    // Down the whole grid, a screen at a time, each screen's thumbnails made:
    // until none has come for 100 ms.
    QScrollBar* scroll = journal->images->verticalScrollBar();
    int made = 0;
    QObject::connect(journal->thumbnails(), &Thumbnails::made, [&made] { ++made; });
    const steady::time_point start = steady::now();
    for (bool last_screen = false; !last_screen;) {
        last_screen = scroll->value() == scroll->maximum();
        for (int before = -1; made != before;) {
            before = made;
            const steady::time_point quiet = steady::now();
            while (steady::now() - quiet < std::chrono::milliseconds(100))
                QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        scroll->setValue(scroll->value() + scroll->pageStep());
    }
    std::printf("journal window over a run of %zu images, scrolled through in %.0f ms, %d thumbnails made: peak "
                "memory %.1f MB\n",
                run.files.size(), ms_since(start), made, peak_memory_mb());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "--make" && argc == 3)
        return make(argv[2]);
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    curl_global_init(CURL_GLOBAL_DEFAULT);
    QApplication application(argc, argv);
    int status = 2;
    if (mode == "--startup" && argc == 3)
        status = startup(argv[2]);
    else if (mode == "--stall")
        status = stall();
    else if (mode == "--pass" && argc == 3)
        status = pass(argv[2]);
    else if (mode == "--quit")
        status = quit();
    else if (mode == "--journal" && argc == 3)
        status = journal(argv[2]);
    else if (mode == "--journal-memory" && argc == 3)
        status = journal_memory(argv[2]);
    else
        std::fprintf(
            stderr,
            "usage: window_bench --make FOLDER | --startup FOLDER | --stall | --pass FOLDER | --quit | --journal "
            "FOLDER | --journal-memory FOLDER\n");
    curl_global_cleanup();
    return status;
}
