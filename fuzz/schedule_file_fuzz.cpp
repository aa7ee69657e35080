// Any bytes as planifs.txt: what loads saves, and what was saved loads again
// the same, with nothing to repair.

#include "fuzz_support.h"

#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>

#include "schedule/schedule_file.h"

namespace {

std::string read_whole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string joined(const std::vector<std::string>& texts) {
    std::string all;
    for (const auto& text : texts)
        all.append(text).append(" / ");
    return all;
}

bool same_lines(const ScheduleTable& a, const ScheduleTable& b) {
    if (a.line_count() != b.line_count())
        return false;
    for (int number = 1; number <= a.line_count(); ++number)
        if (!(a.line(number) == b.line(number)))
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const fuzz::ScratchFolder scratch;
    scratch.empty();
    const std::string folder = scratch.path() + "/";
    const std::string path = folder + schedule_file_name;
    const std::string bytes(fuzz::as_text(data, size));
    std::ofstream(path, std::ios::binary) << bytes;

    ScheduleTable loaded;
    Result<LoadReport> load = load_schedule(folder, loaded);
    fuzz::require(load.ok(), "any file loads", load.ok() ? "" : load.error());
    LoadReport& report = *load;
    const Result<void> saved = save_schedule(folder, loaded, &report);
    fuzz::require(saved.ok(), "a loaded table saves", saved.ok() ? "" : saved.error());
    if (report.repairs.empty()) {
        fuzz::require(report.backup_path.empty(), "a sound file is replaced without a copy", report.backup_path);
    } else {
        fuzz::require(!report.backup_path.empty() && read_whole(report.backup_path) == bytes,
                      "a repaired file is copied whole before it is replaced", joined(report.repairs));
    }
    struct stat status {};
    fuzz::require(::stat(path.c_str(), &status) == 0 && (status.st_mode & 0777) == 0600,
                  "the saved file is its owner's only");
    fuzz::require(read_whole(path) == format_schedule(loaded), "the file holds what the table formats to");

    ScheduleTable reloaded;
    const Result<LoadReport> again = load_schedule(folder, reloaded);
    fuzz::require(again.ok() && again->repairs.empty(), "a saved file loads without repair",
                  again.ok() ? joined(again->repairs) : again.error());
    fuzz::require(same_lines(reloaded, loaded), "a saved file loads as it was saved");
    return 0;
}
