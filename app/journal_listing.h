#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "journal/journal.h"

/// One line of quillmoor --journal, its fields separated by tabs: the local
/// date and time the run started, its title, how it started, how it ended,
/// "en retard, prévue le … à …" or nothing, and its counts.
std::string journal_line(const RunRecord& run);

/// Prints `runs`, newest first, then `failures`, those of the first of them,
/// with their reasons; says so when there is no run (of `title`, if given).
void print_journal(std::ostream& out, const std::vector<RunRecord>& runs, const std::vector<RunFailure>& failures,
                   const std::optional<std::string>& title);
