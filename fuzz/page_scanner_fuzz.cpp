// The page scanner over any page: the input is the page's address, a line
// feed, the include rows, a line feed, the exclude rows, a line feed, then
// the page. Rows are separated by "|", each a name pattern, ":" and an
// extension.

#include "fuzz_support.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>
#include <vector>

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

/// The scan done the plain way, position by position, with none of the
/// scanner's shortcuts: what the scanner must list, in the same order.
struct PlainScan {
    std::string_view page, base;
    const PatternSet &include, &exclude;
    std::vector<std::string> pages, images;

    static bool keyword_at(std::string_view page, std::size_t at, std::string_view keyword) {
        for (std::size_t k = 0; k < keyword.size(); ++k)
            if (at + k >= page.size() || std::tolower(static_cast<unsigned char>(page[at + k])) != keyword[k])
                return false;
        return true;
    }

    void pass(std::string_view keyword) {
        const bool href = keyword == "href=";
        for (std::size_t at = 0; at < page.size(); ++at) {
            if (!keyword_at(page, at, keyword))
                continue;
            if (page.size() <= at + 11)
                return;
            const std::size_t after = at + keyword.size();
            const char quote = page[after];
            const bool quoted = quote == '\'' || quote == '"';
            const std::size_t end = quoted ? page.find(quote, after + 1) : page.find_first_of(" >", after);
            std::string_view value;
            if (end != std::string_view::npos && end < at + 105)
                value = page.substr(after + quoted, end - after - quoted);
            if (value.empty()) {
                at += 4; // the search goes on 5 bytes after the keyword
                continue;
            }
            at = end - 1;
            if (href && value.front() == '#')
                continue;
            if (href)
                value = value.substr(0, value.find('#'));
            if (href &&
                (value.find("mailto:") != std::string_view::npos || value.find(".cgi") != std::string_view::npos))
                continue;
            if (names_image(value))
                image(value, href);
            else if (href ? !ends_in(value, {".exe", ".pdf", ".wma"}) : ends_in(value, {".php", ".htm", ".html"}))
                listed_page(value);
        }
    }

    static bool ends_in(std::string_view value, std::initializer_list<std::string_view> suffixes) {
        std::string tail(value.substr(value.size() - std::min<std::size_t>(value.size(), 5)));
        for (char& c : tail)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return std::any_of(suffixes.begin(), suffixes.end(), [&](auto suffix) { return tail.ends_with(suffix); });
    }

    static bool names_image(std::string_view value) { return ends_in(value, {".gif", ".jpg", ".jpeg"}); }

    void image(std::string_view value, bool href) {
        if (!filtre_nom(url_nom_fichier(value), include, exclude))
            return;
        const std::string absolute = url_absolue(base, value);
        if ((href && std::find(images.begin(), images.end(), absolute) != images.end()) ||
            images.size() >= AddressList::capacity)
            return;
        images.push_back(sans_fin_ligne(absolute));
    }

    void listed_page(std::string_view value) {
        const std::string absolute = url_absolue(base, value);
        if (!autre_site(base, absolute) && std::find(pages.begin(), pages.end(), absolute) == pages.end() &&
            pages.size() < AddressList::capacity)
            pages.push_back(absolute);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto parts = fuzz::fields(fuzz::as_text(data, size), '\n', 4);
    const std::string base(parts[0]);
    const PatternSet include = rows_from(parts[1]);
    const PatternSet exclude = rows_from(parts[2]);
    const std::string_view page = parts[3];

    RunLists lists;
    scan_page_text(page, base, include, exclude, lists);
    PlainScan plain{page, base, include, exclude, {}, {}};
    plain.pass("src=");
    plain.pass("href=");
    fuzz::require(lists.images.entries() == plain.images, "the images listed are those of a plain scan");
    fuzz::require(lists.pages.entries() == plain.pages, "the pages listed are those of a plain scan");
    for (const auto& listed : lists.pages.entries())
        fuzz::require(!autre_site(base, listed) && lists.pages.contains(listed), "a page is of the site, and found",
                      listed);

    // A second scan of the same page finds only pages already listed.
    const int pages_listed = lists.pages.count();
    scan_page_text(page, base, include, exclude, lists);
    fuzz::require(lists.pages.count() == pages_listed, "a page already listed is not listed again");
    return 0;
}
