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

#include <QApplication>
#include <QPushButton>
#include <QTimer>

#include <curl/curl.h>

#include "net/curl_transfer.h"
#include "schedule/clock.h"
#include "schedule/schedule_file.h"
#include "store/image_memory.h"
#include "support/memory_journal.h"
#include "ui/f_qmr.h"
#include "ui/desktop_integration.h"
#include "ui/prompter.h"
#include "ui/schedule_grid.h"
#include "ui/scheduler.h"

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
        : window({folder, transfer, memory, journal, clock, prompter, tray,
                  [] { return std::vector<std::string>{"/"}; }, QStringLiteral("/tmp")},
                 std::move(table)) {}
    CurlTransfer transfer;
    NoImageMemory memory;
    MemoryJournal journal;
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
    else
        std::fprintf(stderr,
                     "usage: window_bench --make FOLDER | --startup FOLDER | --stall | --pass FOLDER | --quit\n");
    curl_global_cleanup();
    return status;
}
