#pragma once

#include "engine/address_list.h"
#include "store/file_name_filter.h"

#include <string_view>

class InternetTransfer;

namespace m_qmr {

inline constexpr int scan_finished = 1;
inline constexpr int scan_stopped = -1;

/// Fetches the page at `page_address` and lists what its "src=" and "href="
/// references name: images that pass the patterns (from any site) into
/// lists.images, links that stay on the page's site into lists.pages, each
/// list without repeats except "src=" images, and never beyond
/// AddressList::capacity. Returns 1 when both passes ran to their end, -1
/// when the fetch failed; what was listed before a failure stays listed.
///
/// One page at a time, waiting for its fetch alone: a run fetches the pages
/// of a level side by side and scans each with scan_page_text. This is the
/// reference that the tests hold the run's crawl to, and is reached from
/// nowhere else.
[[nodiscard]] int analyse_page(InternetTransfer& transfer, std::string_view page_address,
                               const PatternSet& include_patterns, const PatternSet& exclude_patterns, RunLists& lists);

/// The scan of a page's text alone, without the fetch: what analyse_page does
/// once the body is there. analyse_page is the original operation under its
/// own name (fetch, then scan); the run fetches several pages at once itself
/// and calls only this half, which is why it has a name of its own.
void scan_page_text(std::string_view page, std::string_view page_address, const PatternSet& include_patterns,
                    const PatternSet& exclude_patterns, RunLists& lists);

} // namespace m_qmr
