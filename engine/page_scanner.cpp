#include "engine/page_scanner.h"

#include "engine/srcset.h"
#include "net/address.h"
#include "net/internet_transfer.h"
#include "net/text.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>

namespace m_qmr {

namespace {

constexpr auto npos = std::string_view::npos;

// A keyword is handled only while more than this many bytes follow its first one.
constexpr std::size_t end_margin = 10;
// The byte that ends a value must lie before keyword + value_reach.
constexpr std::size_t value_reach = 105;
// Where the search resumes after a keyword that gave no value.
constexpr std::size_t skip_after_nothing = 5;
// With every image format, the most bytes a value may hold, whatever found it:
// the addresses of image services and their links are long.
constexpr std::size_t longest_value = 2048;

/// Which pass found a value: "src=" images are listed without the repeat
/// test, and "href=" values are cleaned first. `other` is any pass that
/// only every image format makes, and finds images only.
enum class Pass { src, href, other };

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

bool same_letters(const char* text, std::string_view lower_word) {
    for (std::size_t k = 0; k < lower_word.size(); ++k)
        if (lower_ascii(text[k]) != lower_word[k])
            return false;
    return true;
}

struct Found {
    std::size_t at = npos; ///< where the keyword starts
    std::size_t which = 0; ///< its place in the keywords searched
};

/// First position at or after `from` where one of `keywords` occurs, ignoring
/// letter case. They are lower case and end in the same byte, no letter ("="
/// or "("), the rarest of their bytes in markup: memchr finds it, and only
/// then are the letters before it compared.
template <std::size_t N>
Found find_keyword(std::string_view page, const std::array<std::string_view, N>& keywords, std::size_t from) {
    const char anchor = keywords[0].back();
    std::size_t shortest = keywords[0].size();
    for (const auto keyword : keywords)
        shortest = std::min(shortest, keyword.size());
    const char* const data = page.data();
    std::size_t end = from + shortest - 1;
    while (end < page.size()) {
        const void* hit = std::memchr(data + end, anchor, page.size() - end);
        if (hit == nullptr)
            return {};
        end = static_cast<std::size_t>(static_cast<const char*>(hit) - data);
        for (std::size_t which = 0; which < N; ++which) {
            const std::size_t letters = keywords[which].size() - 1;
            if (end >= from + letters && same_letters(data + end - letters, keywords[which].substr(0, letters)))
                return {end - letters, which};
        }
        ++end;
    }
    return {};
}

std::size_t find_keyword(std::string_view page, std::string_view keyword, std::size_t from) {
    return find_keyword(page, std::array{keyword}, from).at;
}

/// First position at or after `from` where one of the tags `names` ("<style",
/// "</style") starts, ignoring letter case: the name followed by a space, a
/// "/" or a ">".
template <std::size_t N>
Found find_tag(std::string_view page, const std::array<std::string_view, N>& names, std::size_t from) {
    const char* const data = page.data();
    while (from < page.size()) {
        const void* hit = std::memchr(data + from, '<', page.size() - from);
        if (hit == nullptr)
            return {};
        from = static_cast<std::size_t>(static_cast<const char*>(hit) - data);
        for (std::size_t which = 0; which < N; ++which) {
            const std::size_t after = from + names[which].size();
            if (after < page.size() && same_letters(data + from, names[which]) &&
                (is_space(page[after]) || page[after] == '/' || page[after] == '>'))
                return {from, which};
        }
        ++from;
    }
    return {};
}

constexpr std::array<std::string_view, 2> attribute_keywords{"srcset=", "style="};
constexpr std::array<std::string_view, 2> tag_names{"<style", "<meta"};
constexpr std::array<std::string_view, 1> style_end{"</style"};

struct Cut {
    std::string_view value; ///< empty when nothing could be cut
    std::size_t end = npos; ///< the byte that ended the value
};

/// The value that starts at `after`, the byte after a keyword: quoted up to
/// the same quote, or bare up to the nearer of a space and a ">". Its end
/// must lie before `limit`; a longer value is not cut at all.
Cut cut_value(std::string_view page, std::size_t after, std::size_t limit) {
    if (after >= page.size())
        return {};
    // Only ends before the limit count, so the searches never look further:
    // a page without a ">" costs no more than one with many.
    const auto reachable = page.substr(0, std::min(page.size(), limit));
    const char first = page[after];
    if (first == '\'' || first == '"') {
        const auto close = reachable.find(first, after + 1);
        if (close == npos)
            return {};
        return {reachable.substr(after + 1, close - after - 1), close};
    }
    // Two searches for one byte each, at the speed of memchr: a long reach
    // tried at every keyword of a page without an end would cost much more
    // byte by byte.
    const auto space = reachable.find(' ', after);
    const auto bracket = reachable.substr(0, space).find('>', after);
    const auto end = bracket != npos ? bracket : space;
    if (end == npos)
        return {};
    return {reachable.substr(after, end - after), end};
}

bool ends_with_ignoring_case(std::string_view value, std::string_view lower_suffix) {
    if (value.size() < lower_suffix.size())
        return false;
    const auto tail = value.substr(value.size() - lower_suffix.size());
    return std::equal(tail.begin(), tail.end(), lower_suffix.begin(),
                      [](char a, char b) { return lower_ascii(a) == b; });
}

bool equal_ignoring_case(std::string_view value, std::string_view lower_word) {
    return value.size() == lower_word.size() && ends_with_ignoring_case(value, lower_word);
}

bool names_gif_or_jpeg(std::string_view value) {
    return ends_with_ignoring_case(value, ".gif") || ends_with_ignoring_case(value, ".jpg") ||
           ends_with_ignoring_case(value, ".jpeg");
}

/// True when the path ends in "." and one of the extensions of the lists.
bool names_any_format(std::string_view path) {
    return std::any_of(extension_choices.begin() + 1, extension_choices.end(), [path](std::string_view extension) {
        return path.size() > extension.size() && path[path.size() - extension.size() - 1] == '.' &&
               ends_with_ignoring_case(path, extension);
    });
}

bool names_page(Pass pass, std::string_view value) {
    if (pass == Pass::src)
        return ends_with_ignoring_case(value, ".php") || ends_with_ignoring_case(value, ".htm") ||
               ends_with_ignoring_case(value, ".html");
    // Links are followed unless they plainly name a download.
    return !ends_with_ignoring_case(value, ".exe") && !ends_with_ignoring_case(value, ".pdf") &&
           !ends_with_ignoring_case(value, ".wma");
}

/// A link's value without its fragment; empty for in-page anchors, mail
/// addresses and scripts. Case-sensitive: "MAILTO:" is kept.
std::string_view cleaned_link(std::string_view value) {
    if (value.front() == '#')
        return {};
    value = value.substr(0, value.find('#'));
    if (value.find("mailto:") != npos || value.find(".cgi") != npos)
        return {};
    return value;
}

class PageScan {
public:
    PageScan(std::string_view page_address, const PatternSet& include_patterns, const PatternSet& exclude_patterns,
             RunLists& lists, bool all_image_formats)
        : page_address_(page_address), include_(include_patterns), exclude_(exclude_patterns), lists_(lists),
          all_formats_(all_image_formats) {}

    void run(std::string_view page, Pass pass) {
        const std::string_view keyword = pass == Pass::src ? "src=" : "href=";
        std::size_t at = find_keyword(page, keyword, 0);
        while (at != npos) {
            if (page.size() <= at + 1 + end_margin)
                return;
            auto [value, end] = cut(page, at, at + keyword.size());
            if (value.empty())
                end = at + skip_after_nothing;
            else
                handle(pass, value);
            at = find_keyword(page, keyword, end);
        }
    }

    /// What only every image format takes, in one walk down the page:
    /// "srcset=" values (and "data-srcset="), "style=" values, style blocks
    /// and meta tags, each where it starts.
    void run_other(std::string_view page) {
        Found attribute = find_keyword(page, attribute_keywords, 0);
        Found tag = find_tag(page, tag_names, 0);
        while (attribute.at != npos || tag.at != npos) {
            const std::size_t resume = attribute.at < tag.at ? take_attribute(page, attribute) : take_tag(page, tag);
            if (attribute.at < resume)
                attribute = find_keyword(page, attribute_keywords, resume);
            if (tag.at < resume)
                tag = find_tag(page, tag_names, resume);
        }
    }

    /// Every url(…) of a piece of style sheet, bare or quoted with ', " or
    /// &quot; (a quote inside a quoted style attribute): an image, or a style
    /// sheet that it imports, a page to read at the next level.
    void take_urls(std::string_view css) {
        std::size_t at = find_keyword(css, "url(", 0);
        while (at != npos) {
            std::size_t start = at + 4;
            while (start < css.size() && is_space(css[start]))
                ++start;
            std::string_view close = ")";
            if (css.substr(start).starts_with("&quot;"))
                close = css.substr(start, 6);
            else if (start < css.size() && (css[start] == '\'' || css[start] == '"'))
                close = css.substr(start, 1);
            if (close != ")")
                start += close.size();
            const auto reachable = css.substr(0, std::min(css.size(), start + longest_value + close.size()));
            const std::size_t end = reachable.find(close, start);
            if (end == npos) {
                at = find_keyword(css, "url(", at + 4);
                continue;
            }
            std::string_view value = css.substr(start, end - start);
            if (close == ")")
                while (!value.empty() && is_space(value.back()))
                    value.remove_suffix(1);
            if (ends_with_ignoring_case(without_query(value), ".css"))
                add_page(value);
            else
                take_image(value);
            at = find_keyword(css, "url(", end + close.size());
        }
    }

private:
    /// The value after the keyword at `keyword_at`; its end must lie within
    /// reach of the keyword, or with every image format within longest_value
    /// of its start.
    Cut cut(std::string_view page, std::size_t keyword_at, std::size_t after) const {
        if (!all_formats_)
            return cut_value(page, after, keyword_at + value_reach);
        const bool quoted = after < page.size() && (page[after] == '\'' || page[after] == '"');
        return cut_value(page, after, after + (quoted ? 1 : 0) + longest_value + 1);
    }

    /// Where the walk goes on after the attribute found.
    std::size_t take_attribute(std::string_view page, Found found) {
        const auto [value, end] = cut(page, found.at, found.at + attribute_keywords[found.which].size());
        if (value.empty())
            return found.at + skip_after_nothing;
        if (attribute_keywords[found.which] == "srcset=")
            take_image(largest_candidate(value));
        else
            take_urls(value);
        return end;
    }

    /// Where the walk goes on after the tag found: after a meta tag, or after
    /// a style block, which runs to its end tag or to the end of the page.
    std::size_t take_tag(std::string_view page, Found found) {
        const std::size_t tag_end = std::min(page.find('>', found.at), page.size());
        if (tag_names[found.which] == "<meta") {
            // With its ">", which ends a bare value.
            take_meta(page.substr(found.at, tag_end + 1 - found.at));
            return tag_end;
        }
        const std::size_t body = std::min(tag_end + 1, page.size());
        const std::size_t body_end = std::min(find_tag(page, style_end, body).at, page.size());
        take_urls(page.substr(body, body_end - body));
        return body_end;
    }

    /// A social preview: <meta property="og:image" content="…"> or
    /// name="twitter:image", the attributes in any order.
    void take_meta(std::string_view tag) {
        std::string_view kind = attribute_value(tag, "property=");
        if (kind.empty())
            kind = attribute_value(tag, "name=");
        if (equal_ignoring_case(kind, "og:image") || equal_ignoring_case(kind, "twitter:image"))
            take_image(attribute_value(tag, "content="));
    }

    std::string_view attribute_value(std::string_view tag, std::string_view keyword) const {
        const std::size_t at = find_keyword(tag, keyword, 0);
        return at == npos ? std::string_view{} : cut(tag, at, at + keyword.size()).value;
    }

    /// A value that the passes of every image format found: an image when it
    /// names one, else nothing.
    void take_image(std::string_view value) {
        if (!value.empty() && names_image(value))
            add_image(Pass::other, value);
    }

    /// With every image format, what counts is the path, before any query or
    /// fragment ("photo.jpg?w=1200").
    bool names_image(std::string_view value) const {
        return all_formats_ ? names_any_format(without_query(value)) : names_gif_or_jpeg(value);
    }

    void handle(Pass pass, std::string_view value) {
        if (pass == Pass::href) {
            value = cleaned_link(value);
            if (value.empty())
                return;
        }
        if (names_image(value))
            add_image(pass, value);
        else if (names_page(pass, value))
            add_page(value);
    }

    // Images come from any site.
    void add_image(Pass pass, std::string_view value) {
        if (!filtre_nom(url_nom_fichier(all_formats_ ? without_query(value) : value), include_, exclude_))
            return;
        auto absolute = url_absolue(page_address_, value);
        // Only "src=" images are not checked for repeats here; the run skips
        // them when it copies. The test takes the address as made, so one
        // holding a line break never counts as a repeat.
        if (pass != Pass::src && lists_.images.contains(absolute))
            return;
        if (lists_.images.full())
            return;
        const bool has_line_break = absolute.find_first_of("\r\n") != std::string::npos;
        lists_.images.append(has_line_break ? sans_fin_ligne(absolute) : std::move(absolute));
    }

    void add_page(std::string_view value) {
        auto absolute = url_absolue(page_address_, value);
        if (autre_site(page_address_, absolute) || lists_.pages.contains(absolute))
            return;
        lists_.pages.append(std::move(absolute));
    }

    std::string_view page_address_;
    const PatternSet& include_;
    const PatternSet& exclude_;
    RunLists& lists_;
    bool all_formats_;
};

} // namespace

void scan_page_text(std::string_view page, std::string_view page_address, const PatternSet& include_patterns,
                    const PatternSet& exclude_patterns, RunLists& lists, bool all_image_formats) {
    PageScan scan(page_address, include_patterns, exclude_patterns, lists, all_image_formats);
    scan.run(page, Pass::src);
    scan.run(page, Pass::href);
    if (!all_image_formats)
        return;
    scan.run_other(page);
    // A style sheet is fetched as a page, through the link that names it,
    // and it is style throughout.
    if (ends_with_ignoring_case(without_query(page_address), ".css"))
        scan.take_urls(page);
}

int analyse_page(InternetTransfer& transfer, std::string_view page_address, const PatternSet& include_patterns,
                 const PatternSet& exclude_patterns, RunLists& lists) {
    // Whatever goes wrong ends this page only: what it listed so far stays,
    // and the run goes on with the next page.
    try {
        const FetchResult fetched = transfer.fetch_text(trim_spaces(page_address));
        if (!fetched.ok)
            return scan_stopped;
        // An error page is a page like any other.
        scan_page_text(fetched.body, page_address, include_patterns, exclude_patterns, lists);
        return scan_finished;
    } catch (const std::exception&) {
        return scan_stopped;
    }
}

} // namespace m_qmr
