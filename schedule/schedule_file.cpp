#include "schedule/schedule_file.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "schedule/schedule_copies.h"
#include "schedule/schedule_reader.h"
#include "store/atomic_file.h"
#include "store/error_text.h"

namespace {

std::string schedule_path(const std::string& data_folder) {
    if (data_folder.empty() || data_folder.back() == '/')
        return data_folder + schedule_file_name;
    return data_folder + "/" + schedule_file_name;
}

/// Reads the schedule file at `path`; true for a missing one, which is an
/// empty schedule. False with errno set when it cannot be read.
bool read_schedule_file(const std::string& path, ScheduleTable& table, std::vector<std::string>& repairs,
                        bool stop_at_first_repair) {
    table.clear();
    // O_NONBLOCK: a pipe under that name must not hang the program.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return errno == ENOENT;
    struct stat status {};
    bool was_read = ::fstat(fd, &status) == 0;
    if (was_read && !S_ISREG(status.st_mode)) {
        errno = S_ISDIR(status.st_mode) ? EISDIR : EINVAL;
        was_read = false;
    }
    was_read = was_read && read_schedule(fd, table, repairs, stop_at_first_repair);
    const int error = errno;
    ::close(fd);
    errno = error;
    return was_read;
}

/// Why a table cannot be written as it stands, or "".
std::string unsavable_field(const ScheduleTable& table) {
    for (int number = 1; number <= table.line_count(); ++number) {
        for (int f = 1; f <= field::count; ++f) {
            const std::string& text = table.line(number).field(f);
            const std::string where =
                "Le champ " + std::to_string(f) + " de la planification n° " + std::to_string(number);
            // A line break would end the line in the file, and the next load
            // would split the extraction in two.
            if (text.find_first_of("\r\n") != std::string::npos)
                return where + " contient un retour à la ligne : rien n'a été enregistré.";
            if (text.size() > max_field_length)
                return where + " dépasse " + std::to_string(max_field_length) + " octets : rien n'a été enregistré.";
        }
    }
    return {};
}

bool is_leftover_name(std::string_view name) {
    const std::string prefix = std::string(".") + schedule_file_name + ".";
    if (name.size() != prefix.size() + 6 || !name.starts_with(prefix))
        return false;
    for (const char c : name.substr(prefix.size())) {
        if (!(c >= 'a' && c <= 'z') && !(c >= 'A' && c <= 'Z') && !(c >= '0' && c <= '9'))
            return false;
    }
    return true;
}

} // namespace

LoadReport load_schedule(const std::string& data_folder, ScheduleTable& table) {
    LoadReport report;
    const std::string path = schedule_path(data_folder);
    if (!read_schedule_file(path, table, report.repairs, false)) {
        table.clear();
        report = LoadReport{};
        report.ok = false;
        report.error = "Impossible de lire le fichier des planifications « " + path + " » : " + error_text(errno) + ".";
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

std::string save_schedule(const std::string& data_folder, const ScheduleTable& table, LoadReport* report) {
    const std::string path = schedule_path(data_folder);
    if (std::string refusal = unsavable_field(table); !refusal.empty())
        return refusal;

    // The file is rewritten from the table, which lacks whatever a load
    // repaired or left out of the file: keep the file as it is first. The
    // file is checked here, not remembered from the load, so that any caller
    // and any change made to it since are covered.
    ScheduleTable on_disk;
    std::vector<std::string> damage;
    if (!read_schedule_file(path, on_disk, damage, true)) {
        return "Impossible de lire « " + path + " » avant de le remplacer (" + error_text(errno) +
               ") : rien n'a été enregistré.";
    }
    if (!damage.empty()) {
        std::string copy_path;
        if (const std::string failure = keep_copy(path, copy_path); !failure.empty()) {
            return "Impossible de garder une copie de « " + path + " » avant de le remplacer (" + failure +
                   ") : rien n'a été enregistré.";
        }
        if (report)
            report->backup_path = copy_path;
    }

    // The file holds passwords in clear: readable by its owner only.
    const std::string failure = write_file_atomically(path, format_schedule(table), Durability::flush_to_disk, 0600);
    if (failure.empty())
        return {};
    return "Impossible d'enregistrer les planifications dans « " + path + " » (" + failure + ").";
}

int remove_leftover_save_files(const std::string& data_folder) {
    DIR* folder = ::opendir(data_folder.empty() ? "." : data_folder.c_str());
    if (!folder)
        return 0;
    int removed = 0;
    while (const dirent* entry = ::readdir(folder)) {
        struct stat status {};
        // Links are not followed: a link under such a name is not a save's file.
        if (is_leftover_name(entry->d_name) &&
            ::fstatat(::dirfd(folder), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(status.st_mode) &&
            ::unlinkat(::dirfd(folder), entry->d_name, 0) == 0)
            ++removed;
    }
    ::closedir(folder);
    return removed;
}
