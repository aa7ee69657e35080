#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "store/result.h"

namespace m_qmr {

/// Whether a run may put images under `destination`; the error says why not,
/// in French: the destination must be an absolute path (a relative one would
/// land in whatever folder the program was started from, under cron the home
/// folder).
Result<void> check_destination(std::string_view destination);

/// A destination made ready for a run. When it goes, the levels of the
/// destination that were made for the run go too, those that the run left
/// empty, deepest first: a run that wrote nothing there (every image failed,
/// or it was stopped) leaves no folder behind.
class PreparedDestination {
public:
    explicit PreparedDestination(std::vector<std::string> created);
    ~PreparedDestination();
    PreparedDestination(PreparedDestination&& other) noexcept;
    PreparedDestination& operator=(PreparedDestination&&) = delete;
    PreparedDestination(const PreparedDestination&) = delete;
    PreparedDestination& operator=(const PreparedDestination&) = delete;

private:
    std::vector<std::string> created_; ///< the levels made, shallowest first
};

/// check_destination, then creates the destination and its missing parents
/// and checks that this process can write into it. The error says why images
/// cannot be written there, in French, naming the folder; what was made for
/// it is gone again by then.
Result<PreparedDestination> prepare_destination(std::string_view destination);

} // namespace m_qmr
