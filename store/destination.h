#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace m_qmr {

/// Why a run cannot put images under `destination`, in French, or "" when it
/// can: the destination must be an absolute path (a relative one would land in
/// whatever folder the program was started from, under cron the home folder).
std::string destination_refusal(std::string_view destination);

/// A destination made ready for a run. When it goes, the levels of the
/// destination that were made for the run go too, those that the run left
/// empty, deepest first: a run that wrote nothing there (every image failed,
/// or it was stopped) leaves no folder behind.
class PreparedDestination {
public:
    PreparedDestination(std::string refusal, std::vector<std::string> created);
    ~PreparedDestination();
    PreparedDestination(const PreparedDestination&) = delete;
    PreparedDestination& operator=(const PreparedDestination&) = delete;

    /// Why images cannot be written there, in French, naming the folder; ""
    /// when they can.
    const std::string& refusal() const { return refusal_; }

private:
    std::string refusal_;
    std::vector<std::string> created_; ///< the levels made, shallowest first
};

/// destination_refusal, then creates the destination and its missing parents
/// and checks that this process can write into it.
PreparedDestination prepare_destination(std::string_view destination);

} // namespace m_qmr
