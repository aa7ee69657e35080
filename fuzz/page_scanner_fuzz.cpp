// The page scanner over any page: the input is the page's address, a line
// feed, the include rows, a line feed, the exclude rows, a line feed, then
// the page. Rows are separated by "|", each a name pattern, ":" and an
// extension.

#include "fuzz_support.h"

#include <algorithm>
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

bool names_image(std::string_view address) {
    std::string tail(address.substr(address.size() - std::min<std::size_t>(address.size(), 5)));
    for (char& c : tail)
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    return tail.ends_with(".gif") || tail.ends_with(".jpg") || tail.ends_with(".jpeg");
}

bool is_absolute(std::string_view address) {
    return address.starts_with("http://") || address.starts_with("https://");
}

void check_pages(const AddressList& pages, const std::string& base) {
    fuzz::require(pages.count() <= AddressList::capacity, "the page list stays within its capacity");
    std::set<std::string_view> seen;
    for (const auto& page : pages.entries()) {
        fuzz::require(seen.insert(page).second && pages.contains(page), "a page is listed once, and found", page);
        fuzz::require(!autre_site(base, page), "a page is on the site of the page that names it", page);
        fuzz::require(page == trim_spaces(page), "a page is trimmed", page);
        fuzz::require(!is_absolute(base) || is_absolute(page), "a page is absolute", page);
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
        fuzz::require(!is_absolute(base) || is_absolute(image), "an image is absolute", image);
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
