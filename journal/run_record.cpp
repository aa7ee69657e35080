#include "journal/run_record.h"

#include "net/text.h"

RunRecord run_record(const ExtractionRun& run, const std::string& title, const RunCircumstances& circumstances) {
    const RunCounters& counters = run.counters();
    RunRecord record;
    record.title = m_qmr::trim_spaces(title);
    record.origin = circumstances.origin;
    record.started = circumstances.started;
    record.ended = circumstances.ended;
    record.due = circumstances.due;
    record.pages_visited = counters.current_page;
    record.images_copied = counters.images_copied;
    record.images_unchanged = counters.images_unchanged;
    record.images_failed = counters.failed_images.total();
    // A page that could not be read is a failure too, listed with the images'.
    const bool failed = counters.failed_pages.total() + record.images_failed > 0;
    record.ending = circumstances.outcome == RunOutcome::stopped ? RunEnding::stopped
                    : failed                                     ? RunEnding::incomplete
                                                                 : RunEnding::completed;
    for (const FailedAddress& failure : run.failures())
        record.failures.push_back({failure.address, failure_reason(failure)});
    record.files = run.files_written();
    return record;
}

std::string failure_reason(const FailedAddress& failure) {
    switch (failure.kind) {
    case m_qmr::CopyFailure::server:
        return "réponse du serveur : " + std::to_string(failure.http_status) +
               (failure.http_status < 400 ? " sans image" : "");
    case m_qmr::CopyFailure::disk:
        return "disque : " + failure.error;
    case m_qmr::CopyFailure::network:
    case m_qmr::CopyFailure::none:
        break;
    }
    return "réseau : " + failure.error;
}

const char* origin_text(RunOrigin origin) {
    switch (origin) {
    case RunOrigin::schedule:
        return "planification";
    case RunOrigin::terminal:
        return "terminal";
    case RunOrigin::button:
        break;
    }
    return "bouton";
}

const char* ending_text(RunEnding ending) {
    switch (ending) {
    case RunEnding::incomplete:
        return "incomplète";
    case RunEnding::stopped:
        return "interrompue";
    case RunEnding::completed:
        break;
    }
    return "terminée";
}
