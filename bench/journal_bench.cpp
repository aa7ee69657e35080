// Fills the journal of a data folder with as many runs as it keeps, for timing
// `quillmoor --journal` from outside, then prints how long recording one more
// run of 3 000 files takes with the journal full: what a run of bench/site_bench
// pays at its end.
//
//   journal_bench XDG_DATA_HOME

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "journal/journal.h"
#include "store/database.h"

namespace {

RunRecord run_of(int number, int files) {
    RunRecord run;
    run.title = "Galerie " + std::to_string(number % 20);
    run.origin = static_cast<RunOrigin>(number % 3);
    run.started = 1'179'129'600 + number * 900;
    run.ended = run.started + 120;
    run.ending = number % 7 == 0 ? RunEnding::incomplete : RunEnding::completed;
    if (number % 50 == 0)
        run.due = run.started - 3'600;
    run.pages_visited = 500;
    run.images_copied = files;
    run.images_failed = 20;
    for (int failure = 0; failure < run.images_failed; ++failure)
        run.failures.push_back(
            {"http://127.0.0.1:8080/images/" + std::to_string(failure) + ".gif", "réponse du serveur : 404"});
    for (int file = 0; file < files; ++file)
        run.files.push_back("/dev/shm/quillmoor-bench/destination/image-" + std::to_string(file) + ".jpg");
    return run;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: journal_bench XDG_DATA_HOME\n");
        return 2;
    }
    const std::string folder = std::string(argv[1]) + "/Qmr/";
    std::filesystem::create_directories(folder);
    OpenedDatabase database = open_data_database(folder);
    const std::unique_ptr<RunJournal> journal = run_journal_in(database);
    for (int number = 0; number < RunJournal::kept_runs; ++number)
        journal->record(run_of(number, 100));
    std::vector<double> times;
    for (int number = RunJournal::kept_runs; number < RunJournal::kept_runs + 9; ++number) {
        const RunRecord run = run_of(number, 3'000);
        const auto start = std::chrono::steady_clock::now();
        journal->record(run);
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    if (const std::string notice = journal->take_notice(); !notice.empty()) {
        std::fprintf(stderr, "journal_bench: %s\n", notice.c_str());
        return 1;
    }
    std::printf("%d runs in %squillmoor.db; recording a run of 3000 files: median %.1f ms (min %.1f, max %.1f)\n",
                RunJournal::kept_runs, folder.c_str(), times[times.size() / 2], times.front(), times.back());
    return 0;
}
