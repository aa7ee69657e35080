#include "schedule/schedule_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "schedule/text_encoding.h"
#include "store/atomic_file.h"

// How planifs.txt is read. Lines end at LF; a CR before it is dropped, so a
// file with LF-only line ends or without a final line end reads the same.
// Each line is decoded on its own: UTF-8 when it is valid UTF-8, else
// Windows-1252, the code page in which older versions wrote it.
//
// A field is the text between a pair of double quotes, in which "" stands
// for one quote. A lone quote inside a field that is not followed, after
// spaces, by a comma or the line end is kept as a quote: older versions wrote
// quotes unescaped. Spaces and tabs between fields are ignored. A field
// without quotes is its text up to the next comma, without the spaces around
// it. A field with an opening quote and no closing one runs to the line end.

namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

std::size_t skip_blanks(std::string_view text, std::size_t at) {
    while (at < text.size() && is_blank(text[at]))
        ++at;
    return at;
}

/// The fields of one decoded line, as many as it holds.
std::vector<std::string> split_fields(std::string_view text) {
    std::vector<std::string> fields;
    std::size_t i = 0;
    for (;;) {
        i = skip_blanks(text, i);
        std::string value;
        if (i < text.size() && text[i] == '"') {
            ++i;
            while (i < text.size()) {
                if (text[i] != '"') {
                    value += text[i++];
                } else if (i + 1 < text.size() && text[i + 1] == '"') {
                    value += '"';
                    i += 2;
                } else {
                    const std::size_t after = skip_blanks(text, i + 1);
                    if (after == text.size() || text[after] == ',') {
                        i = after;
                        break;
                    }
                    value += '"';
                    ++i;
                }
            }
        } else {
            const std::size_t comma = std::min(text.find(',', i), text.size());
            std::size_t end = comma;
            while (end > i && is_blank(text[end - 1]))
                --end;
            value.assign(text.substr(i, end - i));
            i = comma;
        }
        fields.push_back(std::move(value));
        if (i >= text.size())
            return fields;
        ++i; // the comma
    }
}

bool is_blank_line(std::string_view text) {
    return skip_blanks(text, 0) == text.size();
}

std::string schedule_path(const std::string& data_folder) {
    if (data_folder.empty() || data_folder.back() == '/')
        return data_folder + schedule_file_name;
    return data_folder + "/" + schedule_file_name;
}

std::string reason(int error) {
    switch (error) {
    case EACCES:
    case EPERM:
        return "accès refusé";
    case EISDIR:
        return "c'est un dossier";
    case EIO:
        return "erreur de lecture du disque";
    case ENOSPC:
        return "disque plein";
    case EFBIG:
        return "fichier trop grand";
    default:
        return std::strerror(error);
    }
}

/// The whole file; false with errno set when it cannot be read.
bool read_whole(int fd, std::string& bytes) {
    struct stat status {};
    if (::fstat(fd, &status) != 0)
        return false;
    if (S_ISDIR(status.st_mode)) {
        errno = EISDIR;
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        errno = EINVAL;
        return false;
    }
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (got == 0)
            return true;
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
}

/// Copies the file as it was under the first free name of "planifs.txt.bak",
/// "planifs.txt.bak-1", ...; an existing file is never replaced. Returns ""
/// and sets `copy_path`, or the reason of the failure.
std::string keep_copy(const std::string& path, std::string_view bytes, std::string& copy_path) {
    constexpr int max_attempts = 1000;
    for (int attempt = 0; attempt < max_attempts; ++attempt) {
        const std::string candidate = path + ".bak" + (attempt == 0 ? "" : "-" + std::to_string(attempt));
        // O_EXCL makes "is the name free" and "take it" one step.
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return reason(errno);
        }
        // The copy holds the passwords too: owner only, whatever the umask.
        const bool written = ::fchmod(fd, 0600) == 0 && write_all(fd, bytes) && ::fsync(fd) == 0;
        const int error = errno;
        if (::close(fd) != 0 || !written) {
            ::unlink(candidate.c_str());
            return reason(written ? errno : error);
        }
        copy_path = candidate;
        return {};
    }
    return "aucun nom de copie libre";
}

std::string field_count_repair(int file_line, std::size_t count) {
    const std::string counted = std::to_string(count) + (count == 1 ? " champ" : " champs");
    const std::string prefix = "Ligne " + std::to_string(file_line) + " : " + counted + " au lieu de 40, ";
    if (count < static_cast<std::size_t>(field::count))
        return prefix + "complétée par des champs vides.";
    return prefix + "les champs en trop sont ignorés.";
}

} // namespace

LoadReport load_schedule(const std::string& data_folder, ScheduleTable& table) {
    LoadReport report;
    table.clear();
    const std::string path = schedule_path(data_folder);

    std::string bytes;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT)
        return report;
    const bool was_read = fd >= 0 && read_whole(fd, bytes);
    const int error = errno;
    if (fd >= 0)
        ::close(fd);
    if (!was_read) {
        report.ok = false;
        report.error = "Impossible de lire le fichier des planifications « " + path + " » : " + reason(error) + ".";
        return report;
    }

    std::string_view rest = bytes;
    // A byte-order mark left by a text editor is not part of the first title.
    if (rest.starts_with("\xEF\xBB\xBF"))
        rest.remove_prefix(3);

    int file_line = 0;
    int lines_beyond = 0;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        std::string_view raw = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        if (raw.ends_with('\r'))
            raw.remove_suffix(1);
        ++file_line;
        if (is_blank_line(raw)) {
            report.repairs.push_back("Ligne " + std::to_string(file_line) + " : ligne vide ignorée.");
            continue;
        }
        if (table.full()) {
            ++lines_beyond;
            continue;
        }
        const std::string text = is_valid_utf8(raw) ? std::string(raw) : windows1252_to_utf8(raw);
        std::vector<std::string> fields = split_fields(text);
        if (fields.size() != static_cast<std::size_t>(field::count))
            report.repairs.push_back(field_count_repair(file_line, fields.size()));
        ScheduleLine line;
        for (int number = 1; number <= field::count && number <= static_cast<int>(fields.size()); ++number)
            line.set_field(number, std::move(fields[static_cast<std::size_t>(number - 1)]));
        table.append(std::move(line));
    }
    if (lines_beyond > 0) {
        report.repairs.push_back(
            std::to_string(lines_beyond) +
            (lines_beyond == 1 ? " ligne au-delà de la 200e n'a pas été chargée (200 planifications au plus)."
                               : " lignes au-delà de la 200e n'ont pas été chargées (200 planifications au plus)."));
    }

    // The next save rewrites the file from the table, which would drop what
    // was skipped: keep the file as it was first.
    if (!report.repairs.empty()) {
        const std::string failure = keep_copy(path, bytes, report.backup_path);
        if (!failure.empty()) {
            report.repairs.push_back("Le fichier d'origine n'a pas pu être copié (" + failure +
                                     ") : ce qui n'a pas été chargé sera perdu au prochain enregistrement.");
        }
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

std::string save_schedule(const std::string& data_folder, const ScheduleTable& table) {
    const std::string path = schedule_path(data_folder);
    // A line break inside a field would split its line at the next load.
    for (int number = 1; number <= table.line_count(); ++number) {
        for (int f = 1; f <= field::count; ++f) {
            if (table.line(number).field(f).find_first_of("\r\n") != std::string::npos)
                return "Impossible d'enregistrer les planifications dans « " + path + " » (la ligne " +
                       std::to_string(number) + " contient un saut de ligne).";
        }
    }
    // The file holds passwords in clear: readable by its owner only.
    const std::string failure = write_file_atomically(path, format_schedule(table), Durability::flush_to_disk, 0600);
    if (failure.empty())
        return {};
    return "Impossible d'enregistrer les planifications dans « " + path + " » (" + failure + ").";
}
