#include "schedule/schedule_reader.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "schedule/schedule_file.h"
#include "schedule/text_encoding.h"
#include "store/error_text.h"

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

// The longest line a save can write: 40 fields of the longest length, every
// byte a quote written twice, between their quotes and with their commas.
// Anything beyond it is damage, and not keeping it bounds the memory a line
// takes however long it runs.
constexpr std::size_t max_line_length = field::count * (2 * max_field_length + 3);

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

std::size_t skip_blanks(std::string_view text, std::size_t at) {
    while (at < text.size() && is_blank(text[at]))
        ++at;
    return at;
}

/// One line of the file as read: its first max_line_length bytes.
struct RawLine {
    std::string bytes;
    bool cut = false;       ///< bytes beyond max_line_length were dropped
    bool blank_tail = true; ///< the dropped bytes were all blanks
};

/// Hands out the file's lines one by one, reading it in chunks.
class LineReader {
public:
    explicit LineReader(int fd) : fd_(fd) {}

    /// The next line, without its LF. False at the end of the file, or when
    /// the file cannot be read (error() then says why).
    bool next(RawLine& line) {
        line.bytes.clear();
        line.cut = false;
        line.blank_tail = true;
        bool any = false;
        for (;;) {
            if (begin_ == end_ && !fill())
                return any && error_ == 0;
            any = true;
            const char* start = chunk_.data() + begin_;
            const auto* lf = static_cast<const char*>(std::memchr(start, '\n', end_ - begin_));
            const std::size_t length = lf ? static_cast<std::size_t>(lf - start) : end_ - begin_;
            const std::size_t kept = std::min(length, max_line_length - line.bytes.size());
            line.bytes.append(start, kept);
            if (kept < length) {
                line.cut = true;
                for (std::size_t k = kept; k < length && line.blank_tail; ++k)
                    line.blank_tail = is_blank(start[k]);
            }
            begin_ += length;
            if (lf) {
                ++begin_;
                return true;
            }
        }
    }

    /// The error number of a read that failed, or 0.
    int error() const { return error_; }

private:
    bool fill() {
        for (;;) {
            const ssize_t got = ::read(fd_, chunk_.data(), chunk_.size());
            if (got < 0 && errno == EINTR)
                continue;
            error_ = got < 0 ? errno : 0;
            begin_ = 0;
            end_ = got > 0 ? static_cast<std::size_t>(got) : 0;
            return got > 0;
        }
    }

    int fd_;
    std::array<char, 65536> chunk_{};
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    int error_ = 0;
};

/// The fields of one decoded line, at most 40, and the damage met.
struct SplitLine {
    std::vector<std::string> fields;
    bool extra_fields = false; ///< text followed the 40th field
    bool field_cut = false;    ///< a field was longer than max_field_length
    bool cr_removed = false;   ///< a carriage return stood inside a field
};

/// Takes out the carriage returns a save would refuse, and cuts the field to
/// max_field_length bytes without splitting a character.
void clean_field(std::string& value, SplitLine& split) {
    if (value.find('\r') != std::string::npos) {
        std::erase(value, '\r');
        split.cr_removed = true;
    }
    if (value.size() > max_field_length) {
        std::size_t end = max_field_length;
        while (end > 0 && (static_cast<unsigned char>(value[end]) & 0xC0) == 0x80)
            --end;
        value.resize(end);
        split.field_cut = true;
    }
    // A field built a byte at a time may hold twice its length, and 200
    // lines of 40 long fields would then take twice the memory they need.
    value.shrink_to_fit();
}

SplitLine split_fields(std::string_view text) {
    SplitLine split;
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
        clean_field(value, split);
        split.fields.push_back(std::move(value));
        if (i >= text.size())
            return split;
        if (split.fields.size() == static_cast<std::size_t>(field::count)) {
            split.extra_fields = true;
            return split;
        }
        ++i; // the comma
    }
}

/// The line's text in UTF-8. A cut line may end inside a character; the
/// broken end must not turn the whole line into Windows-1252.
std::string decode(std::string_view raw, bool cut) {
    for (std::size_t drop = 0; drop <= (cut ? 3u : 0u) && drop < raw.size(); ++drop) {
        if (is_valid_utf8(raw.substr(0, raw.size() - drop)))
            return std::string(raw.substr(0, raw.size() - drop));
    }
    return windows1252_to_utf8(raw);
}

/// Adds to `repairs` what was repaired on file line `number`.
void report_damage(int number, const RawLine& raw, const SplitLine& split, std::vector<std::string>& repairs) {
    const std::string prefix = "Ligne " + std::to_string(number) + " : ";
    if (raw.cut)
        repairs.push_back(prefix + "plus de " + std::to_string(max_line_length) + " octets, la fin est ignorée.");
    const std::size_t count = split.fields.size();
    if (split.extra_fields) {
        repairs.push_back(prefix + "plus de 40 champs, les champs en trop sont ignorés.");
    } else if (count < static_cast<std::size_t>(field::count)) {
        repairs.push_back(prefix + std::to_string(count) + (count == 1 ? " champ" : " champs") +
                          " au lieu de 40, complétée par des champs vides.");
    }
    if (split.field_cut)
        repairs.push_back(prefix + "champ de plus de " + std::to_string(max_field_length) + " octets, coupé.");
    if (split.cr_removed)
        repairs.push_back(prefix + "retour chariot retiré d'un champ.");
}

std::string lines_beyond_repair(int count) {
    return std::to_string(count) +
           (count == 1 ? " ligne au-delà de la 200e n'a pas été chargée (200 planifications au plus)."
                       : " lignes au-delà de la 200e n'ont pas été chargées (200 planifications au plus).");
}

} // namespace

Result<void> read_schedule(int fd, ScheduleTable& table, std::vector<std::string>& repairs, bool stop_at_first_repair) {
    table.clear();
    LineReader reader(fd);
    RawLine raw;
    int number = 0;
    int lines_beyond = 0;
    while (reader.next(raw)) {
        ++number;
        // A byte-order mark left by a text editor is not part of the first title.
        if (number == 1 && raw.bytes.starts_with("\xEF\xBB\xBF"))
            raw.bytes.erase(0, 3);
        if (!raw.cut && raw.bytes.ends_with('\r'))
            raw.bytes.pop_back();
        if (skip_blanks(raw.bytes, 0) == raw.bytes.size() && raw.blank_tail)
            continue;
        if (table.full()) {
            ++lines_beyond;
            if (stop_at_first_repair)
                break;
            continue;
        }
        SplitLine split = split_fields(decode(raw.bytes, raw.cut));
        const std::size_t repairs_before = repairs.size();
        report_damage(number, raw, split, repairs);
        ScheduleLine line;
        for (std::size_t k = 0; k < split.fields.size(); ++k)
            line.set_field(static_cast<int>(k) + 1, std::move(split.fields[k]));
        table.append(std::move(line));
        if (stop_at_first_repair && repairs.size() > repairs_before)
            return {};
    }
    if (reader.error() != 0)
        return Error{error_text(reader.error())};
    if (lines_beyond > 0)
        repairs.push_back(lines_beyond_repair(lines_beyond));
    return {};
}
