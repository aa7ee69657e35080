#pragma once

#include <string>
#include <string_view>

struct RunCounters;

/// One French sentence counting what failed in a run, by kind, then the
/// images left as they were, for example "1 page n'a pas pu être lue
/// (réseau) ; 3 images n'ont pas pu être écrites dans « /x » (disque) ; 300
/// images inchangées, laissées telles quelles."; "" when there is nothing of either.
std::string run_summary(const RunCounters& counters, std::string_view destination);

/// True when the run did not do its job: the start page brought nothing to
/// scan, or an image could not be written under the destination.
bool run_incomplete(const RunCounters& counters);
