#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "engine/extraction_run.h"
#include "journal/journal.h"

/// When and how a run was started, and how it came back.
struct RunCircumstances {
    RunOrigin origin = RunOrigin::button;
    std::int64_t started = 0; ///< seconds since the epoch
    std::int64_t ended = 0;
    RunOutcome outcome = RunOutcome::completed;
    std::optional<std::int64_t> due; ///< a scheduled run that comes late: when it was due
};

/// What the run that `run` has just finished did, as the journal keeps it:
/// its counts, its failures with their reasons in French, the files it wrote.
/// A run that went to its end with any page or image failed is incomplete.
RunRecord run_record(const ExtractionRun& run, const std::string& title, const RunCircumstances& circumstances);

/// Why an address failed, in French: "réseau : " and the transfer's text,
/// "réponse du serveur : 404" ("200 sans image" for an error page or an
/// empty body), "disque : " and the system's reason.
std::string failure_reason(const FailedAddress& failure);

/// "bouton", "planification", "terminal".
const char* origin_text(RunOrigin origin);
/// "terminée", "incomplète", "interrompue".
const char* ending_text(RunEnding ending);
