#pragma once

#include <string_view>

namespace m_qmr {

/// The address of the largest image that a srcset value offers: the candidate
/// with the largest width ("640w"); when none gives a width, the one with the
/// largest density ("2x", a candidate without a descriptor being "1x"); on a
/// tie, the later one. Candidates are split as browsers split them, so an
/// address holding commas stays whole, and a candidate with a descriptor they
/// refuse is left out. "" when no candidate is left.
std::string_view largest_candidate(std::string_view srcset);

} // namespace m_qmr
