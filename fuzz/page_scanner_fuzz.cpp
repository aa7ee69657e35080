// The page scanner over any page: the input is the page's address, a line
// feed, the include rows, a line feed, the exclude rows, a line feed, then
// the page. Rows are separated by "|", each a name pattern, ":" and an
// extension.

#include "fuzz_support.h"

#include <set>
#include <string>
#include <string_view>

#include "engine/page_scanner.h"
#include "net/address.h"
#include "net/text.h"

namespace {

using namespace m_qmr;

PatternSet rows_from(std::string_view text) {
    PatternSet rows;
    const auto written = fuzz::fields(text, '|', rows.size());
    for (std::size_t k = 0; k < rows.size(); ++k) {
        const auto colon = written[k].rfind(':');
        rows[k].name = written[k].substr(0, colon);
        if (colon != std::string_view::npos)
            rows[k].extension = written[k].substr(colon + 1);
    }
    return rows;
}

bool ends_with_ignoring_case(std::string_view text, std::string_view lower_suffix) {
    if (text.size() < lower_suffix.size())
        return false;
    for (std::size_t k = 0; k < lower_suffix.size(); ++k) {
        const char c = text[text.size() - lower_suffix.size() + k];
        if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != lower_suffix[k])
            return false;
    }
    return true;
}

bool names_image(std::string_view address) {
    return ends_with_ignoring_case(address, ".gif") || ends_with_ignoring_case(address, ".jpg") ||
           ends_with_ignoring_case(address, ".jpeg");
}

void check_pages(const AddressList& pages, const std::string& base) {
    fuzz::require(pages.count() <= AddressList::capacity, "the page list stays within its capacity");
    std::set<std::string_view> seen;
    for (const auto& page : pages.entries()) {
        fuzz::require(seen.insert(page).second, "a page is listed once", page);
        fuzz::require(pages.contains(page), "a listed page is found in its list", page);
        fuzz::require(!autre_site(base, page), "a page is on the site of the page that names it", page);
        fuzz::require(page == trim_spaces(page), "a page is trimmed", page);
        if (base.starts_with("http://") || base.starts_with("https://"))
            fuzz::require(page.starts_with("http://") || page.starts_with("https://"), "a page is absolute", page);
    }
}

void check_images(const AddressList& images, const std::string& base, bool page_has_line_breaks,
                  const PatternSet& include, const PatternSet& exclude) {
    fuzz::require(images.count() <= AddressList::capacity, "the image list stays within its capacity");
    for (const auto& image : images.entries()) {
        fuzz::require(image.find_first_of("\r\n") == std::string::npos, "an image holds no line break", image);
        if (image.empty()) {
            fuzz::require(url_racine(base).empty(), "an image address is made whenever the page has a site", base);
            continue;
        }
        fuzz::require(names_image(image), "an image names an image file", image);
        if (base.starts_with("http://") || base.starts_with("https://"))
            fuzz::require(image.starts_with("http://") || image.starts_with("https://"), "an image is absolute", image);
        // Line breaks are taken out after the patterns are applied, which
        // may then give another file name.
        if (!page_has_line_breaks)
            fuzz::require(filtre_nom(url_nom_fichier(image), include, exclude), "an image passes the patterns", image);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto parts = fuzz::fields(fuzz::as_text(data, size), '\n', 4);
    const std::string base(parts[0]);
    const PatternSet include = rows_from(parts[1]);
    const PatternSet exclude = rows_from(parts[2]);
    const std::string_view page = parts[3];

    RunLists lists;
    scan_page_text(page, base, include, exclude, lists);
    check_pages(lists.pages, base);
    check_images(lists.images, base, page.find_first_of("\r\n") != std::string_view::npos, include, exclude);

    // A second scan of the same page finds only pages already listed.
    const int pages_listed = lists.pages.count();
    scan_page_text(page, base, include, exclude, lists);
    fuzz::require(lists.pages.count() == pages_listed, "a page already listed is not listed again");
    return 0;
}
