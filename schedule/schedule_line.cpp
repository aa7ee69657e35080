#include "schedule/schedule_line.h"

#include "net/text.h"

const std::array<std::string_view, 5> interval_choices{
    "Toutes les quart d'heures", "Toutes les demi-heures", "Toutes les heures",
    "Toutes les 4 heures",       "Toutes les 8 heures",
};

const std::array<std::string_view, 7> day_interval_choices{
    "Tous les jours",   "Tous les 2 jours", "Tous les 3 jours", "Tous les 4 jours",
    "Tous les 5 jours", "Tous les 6 jours", "Tous les 7 jours",
};

bool ScheduleTable::append(ScheduleLine line) {
    if (full())
        return false;
    lines_.push_back(std::move(line));
    return true;
}

void ScheduleTable::remove(int number) {
    if (number < 1 || number > line_count())
        return;
    lines_.erase(lines_.begin() + (number - 1));
}

int ScheduleTable::find_title(std::string_view title) const {
    const std::string_view wanted = m_qmr::trim_spaces_view(title);
    for (int number = 1; number <= line_count(); ++number) {
        if (m_qmr::trim_spaces_view(line(number).field(field::title)) == wanted)
            return number;
    }
    return 0;
}

namespace {

/// The list position held by a field, or -1 when it is not a plain whole
/// number: a damaged field must not pass for the first entry of a list.
int list_position(std::string_view text) {
    text = m_qmr::trim_spaces_view(text);
    if (text.empty() || text.size() > 4)
        return -1;
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

} // namespace

RowText row_text(const ScheduleLine& line) {
    RowText row;
    row.cells[0] = line.field(field::title);
    row.cells[1] = line.field(field::start_address);
    row.cells[2] = line.field(field::depth) != "0" ? "Oui" : "Non";
    row.cells[3] = line.field(field::destination);

    const std::string& kind = line.field(field::schedule_kind);
    if (kind == schedule_kind::on_demand) {
        row.cells[4] = "A la demande";
    } else if (kind == schedule_kind::several_times_a_day) {
        row.cells[4] = "Plusieurs fois par jour";
    } else if (kind == schedule_kind::every_few_days) {
        const int position = list_position(line.field(field::day_interval_index));
        if (position >= 0 && position < static_cast<int>(day_interval_choices.size()))
            row.cells[4] = day_interval_choices[static_cast<std::size_t>(position)];
        else
            row.schedule_known = false;
    } else {
        row.schedule_known = false;
    }
    return row;
}
