#include "app/journal_listing.h"

#include <ostream>

#include "engine/extraction_run.h"
#include "journal/run_record.h"
#include "net/text.h"
#include "schedule/clock.h"

namespace {

/// "2007/05/14 09:00", in the local zone.
std::string local_date_and_time(std::int64_t seconds) {
    const RunStamp stamp = run_stamp(local_time(static_cast<std::time_t>(seconds)));
    return stamp.date + " " + stamp.time;
}

} // namespace

std::string journal_line(const RunRecord& run) {
    std::string line = local_date_and_time(run.started) + '\t' + run.title + '\t' + origin_text(run.origin) + '\t' +
                       ending_text(run.ending) + '\t';
    if (run.due) {
        const RunStamp due = run_stamp(local_time(static_cast<std::time_t>(*run.due)));
        line += "en retard, prévue le " + due.date + " à " + due.time;
    }
    const int unchanged = run.images_unchanged;
    line += '\t' + ExtractionRun::pages_text(run.pages_visited) + ", " + ExtractionRun::images_text(run.images_copied) +
            ", " + std::to_string(unchanged) + (unchanged > 1 ? " inchangées, " : " inchangée, ") +
            std::to_string(run.images_failed) + " en échec";
    return line;
}

void print_journal(std::ostream& out, const std::vector<RunRecord>& runs, const std::vector<RunFailure>& failures,
                   const std::optional<std::string>& title) {
    if (runs.empty()) {
        out << (title ? "Aucune extraction de « " + m_qmr::trim_spaces(*title) + " » n'est notée dans le journal.\n"
                      : std::string("Aucune extraction n'est notée dans le journal.\n"));
        return;
    }
    for (const RunRecord& run : runs)
        out << journal_line(run) << '\n';
    if (failures.empty())
        return;
    out << "\nÉchecs de la dernière extraction (« " << runs.front().title << " », "
        << local_date_and_time(runs.front().started) << ") :\n";
    for (const RunFailure& failure : failures)
        out << failure.address << '\t' << failure.reason << '\n';
}
