#include "schedule/schedule_file.h"

#include <cerrno>
#include <memory>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "schedule/schedule_copies.h"
#include "schedule/schedule_reader.h"
#include "store/atomic_file.h"
#include "store/error_text.h"
#include "store/unique_fd.h"

namespace {

std::string schedule_path(const std::string& data_folder) {
    if (data_folder.empty() || data_folder.back() == '/')
        return data_folder + schedule_file_name;
    return data_folder + "/" + schedule_file_name;
}

/// Reads the schedule file at `path`; a missing one is an empty schedule.
/// The error is the system's reason, in French.
Result<void> read_schedule_file(const std::string& path, ScheduleTable& table, std::vector<std::string>& repairs,
                                bool stop_at_first_repair) {
    table.clear();
    // O_NONBLOCK: a pipe under that name must not hang the program.
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid()) {
        if (errno == ENOENT)
            return {};
        return Error{error_text(errno)};
    }
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0)
        return Error{error_text(errno)};
    if (!S_ISREG(status.st_mode))
        return Error{error_text(S_ISDIR(status.st_mode) ? EISDIR : EINVAL)};
    return read_schedule(fd.get(), table, repairs, stop_at_first_repair);
}

/// Whether a table can be written as it stands; the error says which field cannot.
Result<void> check_fields(const ScheduleTable& table) {
    for (int number = 1; number <= table.line_count(); ++number) {
        for (int f = 1; f <= field::count; ++f) {
            const std::string& text = table.line(number).field(f);
            const std::string where =
                "Le champ " + std::to_string(f) + " de la planification n° " + std::to_string(number);
            // A line break would end the line in the file, and the next load
            // would split the extraction in two.
            if (text.find_first_of("\r\n") != std::string::npos)
                return Error{where + " contient un retour à la ligne : rien n'a été enregistré."};
            if (text.size() > max_field_length)
                return Error{where + " dépasse " + std::to_string(max_field_length) +
                             " octets : rien n'a été enregistré."};
        }
    }
    return {};
}

bool is_leftover_name(std::string_view name) {
    const std::string prefix = temporary_prefix(schedule_file_name);
    if (name.size() != prefix.size() + 6 || !name.starts_with(prefix))
        return false;
    for (const char c : name.substr(prefix.size())) {
        if (!(c >= 'a' && c <= 'z') && !(c >= 'A' && c <= 'Z') && !(c >= '0' && c <= '9'))
            return false;
    }
    return true;
}

} // namespace

Result<LoadReport> load_schedule(const std::string& data_folder, ScheduleTable& table) {
    LoadReport report;
    const std::string path = schedule_path(data_folder);
    if (Result<void> read = read_schedule_file(path, table, report.repairs, false); !read) {
        table.clear();
        return Error{"Impossible de lire le fichier des planifications « " + path + " » : " + read.error() + "."};
    }
    return report;
}

std::string format_schedule(const ScheduleTable& table) {
    std::string out;
    for (int number = 1; number <= table.line_count(); ++number) {
        const ScheduleLine& line = table.line(number);
        for (int f = 1; f <= field::count; ++f) {
            if (f > 1)
                out += ',';
            out += '"';
            for (const char c : line.field(f)) {
                if (c == '"')
                    out += '"';
                out += c;
            }
            out += '"';
        }
        out += "\r\n";
    }
    return out;
}

Result<void> save_schedule(const std::string& data_folder, const ScheduleTable& table, LoadReport* report) {
    const std::string path = schedule_path(data_folder);
    if (Result<void> savable = check_fields(table); !savable)
        return savable;

    // The file is rewritten from the table, which lacks whatever a load
    // repaired or left out of the file: keep the file as it is first. The
    // file is checked here, not remembered from the load, so that any caller
    // and any change made to it since are covered.
    ScheduleTable on_disk;
    std::vector<std::string> damage;
    if (Result<void> read = read_schedule_file(path, on_disk, damage, true); !read) {
        return Error{"Impossible de lire « " + path + " » avant de le remplacer (" + read.error() +
                     ") : rien n'a été enregistré."};
    }
    if (!damage.empty()) {
        const Result<std::string> copy = keep_copy(path);
        if (!copy) {
            return Error{"Impossible de garder une copie de « " + path + " » avant de le remplacer (" + copy.error() +
                         ") : rien n'a été enregistré."};
        }
        if (report)
            report->backup_path = *copy;
    }

    // The file holds passwords in clear: readable by its owner only.
    const Result<void> written = write_file_atomically(path, format_schedule(table), Durability::flush_to_disk, 0600);
    if (!written)
        return Error{"Impossible d'enregistrer les planifications dans « " + path + " » (" + written.error() + ")."};
    return {};
}

int remove_leftover_save_files(const std::string& data_folder) {
    const std::unique_ptr<DIR, int (*)(DIR*)> folder(::opendir(data_folder.empty() ? "." : data_folder.c_str()),
                                                     &::closedir);
    if (!folder)
        return 0;
    int removed = 0;
    while (const dirent* entry = ::readdir(folder.get())) {
        struct stat status {};
        // Links are not followed: a link under such a name is not a save's file.
        if (is_leftover_name(entry->d_name) &&
            ::fstatat(::dirfd(folder.get()), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(status.st_mode) && ::unlinkat(::dirfd(folder.get()), entry->d_name, 0) == 0)
            ++removed;
    }
    return removed;
}
