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
///
/// With `all_image_formats`, an image is a value whose path (before any "?"
/// or "#") ends in the extension of any format of the lists, in any case, and
/// is named by that path; a value may hold up to 2 048 bytes; and after the
/// two passes come the images of "srcset=" values (the largest candidate),
/// of url(…) in "style=" values and style blocks, and of og:image and
/// twitter:image meta tags, each listed once; a page whose path ends in
/// ".css" is a style sheet, every url(…) of it naming an image, or another
/// style sheet that is then a page of the site to read.
void scan_page_text(std::string_view page, std::string_view page_address, const PatternSet& include_patterns,
                    const PatternSet& exclude_patterns, RunLists& lists, bool all_image_formats = false);

} // namespace m_qmr
