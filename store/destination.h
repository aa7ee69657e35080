#pragma once

#include <string>
#include <string_view>

namespace m_qmr {

/// Why a run cannot put images under `destination`, in French, or "" when it
/// can: the destination must be an absolute path (a relative one would land in
/// whatever folder the program was started from, under cron the home folder).
std::string destination_refusal(std::string_view destination);

/// destination_refusal, then creates the destination and its missing parents
/// and checks that this process can write into it. "" when images can be
/// written there, else why not, in French, naming the folder.
std::string prepare_destination(std::string_view destination);

} // namespace m_qmr
