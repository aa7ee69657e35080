// The page scanner over any page: the input is the page's address, a line
// feed, the include rows, a line feed, the exclude rows, a line feed, then
// the page. Rows are separated by "|", each a name pattern, ":" and an
// extension.

#include "fuzz_support.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <regex>
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

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

/// A srcset value split the plain way, character by character as browsers
/// do, and its largest candidate: the widest, else the densest (1x when none
/// is given), the later one on a tie.
std::string largest_candidate_plainly(std::string_view text) {
    static const std::regex whole("[0-9]+"), decimal("-?([0-9]+|[0-9]*\\.[0-9]+)([eE][-+]?[0-9]+)?");
    std::string widest, densest;
    double most_width = -1, most_density = -1;
    std::size_t at = 0;
    while (true) {
        while (at < text.size() && (is_space(text[at]) || text[at] == ','))
            ++at;
        if (at >= text.size())
            break;
        std::string url;
        while (at < text.size() && !is_space(text[at]))
            url += text[at++];
        std::vector<std::string> descriptors;
        if (url.back() == ',') {
            while (url.back() == ',')
                url.pop_back();
        } else {
            std::string current;
            bool in_parens = false;
            for (; at <= text.size(); ++at) {
                const char c = at < text.size() ? text[at] : '\0';
                const bool end = at == text.size();
                if (!in_parens && (end || is_space(c) || c == ',')) {
                    if (!current.empty())
                        descriptors.push_back(current);
                    current.clear();
                    if (end || c == ',') {
                        at += !end;
                        break;
                    }
                } else if (end) {
                    descriptors.push_back(current);
                    break;
                } else {
                    current += c;
                    in_parens = c == '(' ? true : c == ')' ? false : in_parens;
                }
            }
        }
        bool error = false;
        double width = -1, density = -1, height = -1;
        for (const auto& descriptor : descriptors) {
            const std::string number = descriptor.substr(0, descriptor.size() - 1);
            const char kind = descriptor.back();
            const double value = std::strtod(number.c_str(), nullptr);
            if (kind == 'w' && width < 0 && density < 0 && std::regex_match(number, whole) && value != 0)
                width = value;
            else if (kind == 'x' && width < 0 && density < 0 && height < 0 && std::regex_match(number, decimal) &&
                     value >= 0)
                density = value;
            else if (kind == 'h' && height < 0 && density < 0 && std::regex_match(number, whole) && value != 0)
                height = value;
            else
                error = true;
        }
        if (error || (height >= 0 && width < 0))
            continue;
        if (width >= 0 && width >= most_width)
            most_width = width, widest = url;
        if (width < 0 && (density < 0 ? 1 : density) >= most_density)
            most_density = density < 0 ? 1 : density, densest = url;
    }
    return widest.empty() ? densest : widest;
}

/// The scan done the plain way, position by position, with none of the
/// scanner's shortcuts: what the scanner must list, in the same order.
struct PlainScan {
    std::string_view page, base;
    const PatternSet &include, &exclude;
    bool all_formats;
    std::vector<std::string> pages, images;

    static bool keyword_at(std::string_view page, std::size_t at, std::string_view keyword) {
        for (std::size_t k = 0; k < keyword.size(); ++k)
            if (at + k >= page.size() || std::tolower(static_cast<unsigned char>(page[at + k])) != keyword[k])
                return false;
        return true;
    }

    static bool tag_at(std::string_view page, std::size_t at, std::string_view name) {
        const std::size_t after = at + name.size();
        return keyword_at(page, at, name) && after < page.size() &&
               (is_space(page[after]) || page[after] == '/' || page[after] == '>');
    }

    /// The value cut after the keyword at `at` ending at `after`, and the byte that ended it.
    std::pair<std::string_view, std::size_t> cut(std::string_view text, std::size_t at, std::size_t after) const {
        if (after >= text.size())
            return {};
        const char quote = text[after];
        const bool quoted = quote == '\'' || quote == '"';
        const std::size_t end = quoted ? text.find(quote, after + 1) : text.find_first_of(" >", after);
        const std::size_t limit = all_formats ? after + quoted + 2049 : at + 105;
        if (end == std::string_view::npos || end >= limit)
            return {};
        return {text.substr(after + quoted, end - after - quoted), end};
    }

    void pass(std::string_view keyword) {
        const bool href = keyword == "href=";
        for (std::size_t at = 0; at < page.size(); ++at) {
            if (!keyword_at(page, at, keyword))
                continue;
            if (page.size() <= at + 11)
                return;
            auto [value, end] = cut(page, at, at + keyword.size());
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

    /// What only every image format takes, whichever of its four starts first.
    void other_passes() {
        for (std::size_t at = 0; at < page.size();) {
            if (keyword_at(page, at, "srcset=") || keyword_at(page, at, "style=")) {
                const bool srcset = keyword_at(page, at, "srcset=");
                const auto [value, end] = cut(page, at, at + (srcset ? 7 : 6));
                if (value.empty()) {
                    at += 5;
                    continue;
                }
                srcset ? take(largest_candidate_plainly(value)) : urls(value);
                at = end;
            } else if (tag_at(page, at, "<meta")) {
                const std::size_t end = std::min(page.find('>', at), page.size());
                const std::string_view tag = page.substr(at, end - at + 1);
                std::string kind(attribute(tag, "property="));
                if (kind.empty())
                    kind = attribute(tag, "name=");
                for (char& c : kind)
                    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                if (kind == "og:image" || kind == "twitter:image")
                    take(attribute(tag, "content="));
                at = end;
            } else if (tag_at(page, at, "<style")) {
                const std::size_t start = std::min(std::min(page.find('>', at), page.size()) + 1, page.size());
                std::size_t end = start;
                while (end < page.size() && !tag_at(page, end, "</style"))
                    ++end;
                urls(page.substr(start, end - start));
                at = end;
            } else {
                ++at;
            }
        }
    }

    std::string_view attribute(std::string_view tag, std::string_view keyword) const {
        for (std::size_t at = 0; at < tag.size(); ++at)
            if (keyword_at(tag, at, keyword))
                return cut(tag, at, at + keyword.size()).first;
        return {};
    }

    void urls(std::string_view css) {
        for (std::size_t at = 0; at < css.size();) {
            if (!keyword_at(css, at, "url(")) {
                ++at;
                continue;
            }
            std::size_t start = at + 4;
            while (start < css.size() && is_space(css[start]))
                ++start;
            std::string_view close = ")";
            if (css.substr(start).starts_with("&quot;"))
                close = "&quot;";
            else if (css.substr(start).starts_with("'") || css.substr(start).starts_with("\""))
                close = css.substr(start, 1);
            start += close == ")" ? 0 : close.size();
            const std::size_t end = css.find(close, start);
            if (end == std::string_view::npos || end > start + 2048) {
                at += 4;
                continue;
            }
            std::string value(css.substr(start, end - start));
            while (close == ")" && !value.empty() && is_space(value.back()))
                value.pop_back();
            if (ends_in(path(value), {".css"}))
                listed_page(value);
            else
                take(value);
            at = end + close.size();
        }
    }

    void take(std::string_view value) {
        if (!value.empty() && names_image(value))
            image(value, true);
    }

    static bool ends_in(std::string_view value, std::initializer_list<std::string_view> suffixes) {
        std::string tail(value.substr(value.size() - std::min<std::size_t>(value.size(), 5)));
        for (char& c : tail)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return std::any_of(suffixes.begin(), suffixes.end(), [&](auto suffix) { return tail.ends_with(suffix); });
    }

    static std::string_view path(std::string_view value) { return value.substr(0, value.find_first_of("?#")); }

    bool names_image(std::string_view value) const {
        return all_formats ? ends_in(path(value), {".gif", ".jpg", ".jpeg", ".png", ".webp", ".avif", ".svg"})
                           : ends_in(value, {".gif", ".jpg", ".jpeg"});
    }

    void image(std::string_view value, bool repeats_checked) {
        if (!filtre_nom(url_nom_fichier(all_formats ? path(value) : value), include, exclude))
            return;
        const std::string absolute = url_absolue(base, value);
        if ((repeats_checked && std::find(images.begin(), images.end(), absolute) != images.end()) ||
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

    // Without every image format, then with it.
    for (const bool all_formats : {false, true}) {
        RunLists lists;
        scan_page_text(page, base, include, exclude, lists, all_formats);
        PlainScan plain{page, base, include, exclude, all_formats, {}, {}};
        plain.pass("src=");
        plain.pass("href=");
        if (all_formats)
            plain.other_passes();
        if (all_formats && PlainScan::ends_in(PlainScan::path(base), {".css"}))
            plain.urls(page);
        fuzz::require(lists.images.entries() == plain.images, "the images listed are those of a plain scan");
        fuzz::require(lists.pages.entries() == plain.pages, "the pages listed are those of a plain scan");
    }
    RunLists lists;
    scan_page_text(page, base, include, exclude, lists);
    for (const auto& listed : lists.pages.entries())
        fuzz::require(!autre_site(base, listed) && lists.pages.contains(listed), "a page is of the site, and found",
                      listed);

    // A second scan of the same page finds only pages already listed.
    const int pages_listed = lists.pages.count();
    scan_page_text(page, base, include, exclude, lists);
    fuzz::require(lists.pages.count() == pages_listed, "a page already listed is not listed again");
    return 0;
}
