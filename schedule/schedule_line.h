#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

/// Field numbers of a schedule line, from 1 to 40.
namespace field {
inline constexpr int title = 1;
inline constexpr int start_address = 2;
inline constexpr int depth = 3;
inline constexpr int user_name = 4;
inline constexpr int password = 5;
inline constexpr int existing_policy = 6;
inline constexpr int destination = 7;
inline constexpr int layout = 8;
inline constexpr int schedule_kind = 9;
inline constexpr int interval_index = 10;
inline constexpr int start_hour = 11;
inline constexpr int start_minute_index = 12;
inline constexpr int day_interval_index = 13;
inline constexpr int monday = 14; ///< Monday to Sunday are 14 to 20
inline constexpr int sunday = 20;
inline constexpr int first_include = 21; ///< name, extension pairs: 21 to 28
inline constexpr int drive = 29;
inline constexpr int reserved = 30;
inline constexpr int first_exclude = 31; ///< name, extension pairs: 31 to 38
inline constexpr int last_run_date = 39;
inline constexpr int last_run_time = 40;
inline constexpr int count = 40;
} // namespace field

/// The schedule kinds that field::schedule_kind holds, as the form writes
/// them: the position of the option chosen.
namespace schedule_kind {
inline constexpr std::string_view on_demand = "0";           ///< "A la demande"
inline constexpr std::string_view several_times_a_day = "1"; ///< "Plusieurs fois par jour"
inline constexpr std::string_view every_few_days = "2";      ///< "A partir de", every 1 to 7 days
} // namespace schedule_kind

/// One stored extraction: 40 text fields, numbered from 1.
class ScheduleLine {
public:
    const std::string& field(int number) const { return fields_[static_cast<std::size_t>(number - 1)]; }
    std::string& field(int number) { return fields_[static_cast<std::size_t>(number - 1)]; }
    void set_field(int number, std::string text) { field(number) = std::move(text); }

    bool operator==(const ScheduleLine&) const = default;

private:
    std::array<std::string, field::count> fields_;
};

/// The stored extractions, numbered from 1 to line_count(), at most 200.
/// A line's number is also its line in planifs.txt and its row in the grid.
class ScheduleTable {
public:
    static constexpr int max_lines = 200;

    int line_count() const { return static_cast<int>(lines_.size()); }
    bool full() const { return line_count() >= max_lines; }

    /// Line `number`, counted from 1.
    const ScheduleLine& line(int number) const { return lines_[static_cast<std::size_t>(number - 1)]; }
    ScheduleLine& line(int number) { return lines_[static_cast<std::size_t>(number - 1)]; }

    /// Appends a line; false, and nothing changed, when the table is full.
    bool append(ScheduleLine line);
    /// Removes line `number`; the lines after it move up by one.
    void remove(int number);
    void clear() { lines_.clear(); }

    /// The number of the first line whose title, trimmed, equals `title`
    /// trimmed; 0 when there is none.
    int find_title(std::string_view title) const;

private:
    std::vector<ScheduleLine> lines_;
};

/// The texts of the five grid cells of a line: "Titre", "Adresse Internet",
/// "Parcours", "Destination", "Plannification". The last one is absent
/// (nullopt-like: `schedule_known` false) when the schedule kind is unknown,
/// and the grid then keeps the cell's previous text.
struct RowText {
    std::array<std::string, 5> cells;
    bool schedule_known = true;
};

RowText row_text(const ScheduleLine& line);

/// The entries of the interval list (field::interval_index) and the day-step
/// list (field::day_interval_index), in list order.
extern const std::array<std::string_view, 5> interval_choices;
extern const std::array<std::string_view, 7> day_interval_choices;
