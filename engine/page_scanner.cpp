#include "engine/page_scanner.h"

#include "net/address.h"
#include "net/internet_transfer.h"
#include "net/text.h"

#include <algorithm>
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

enum class Pass { src, href };

/// First position at or after `from` where `keyword` (lower case, ending in
/// "=") occurs, ignoring letter case; npos when none. memchr finds the "=",
/// the rarest of the keyword's bytes in markup, and only then are the letters
/// before it compared.
std::size_t find_keyword(std::string_view page, std::string_view keyword, std::size_t from) {
    const std::size_t letters = keyword.size() - 1;
    const char* const data = page.data();
    std::size_t equals = from + letters;
    while (equals < page.size()) {
        const void* hit = std::memchr(data + equals, '=', page.size() - equals);
        if (hit == nullptr)
            return npos;
        equals = static_cast<std::size_t>(static_cast<const char*>(hit) - data);
        const std::size_t start = equals - letters;
        bool same = true;
        for (std::size_t k = 0; k < letters && same; ++k)
            same = lower_ascii(data[start + k]) == keyword[k];
        if (same)
            return start;
        ++equals;
    }
    return npos;
}

struct Cut {
    std::string_view value; ///< empty when nothing could be cut
    std::size_t end = npos; ///< the byte that ended the value
};

/// The value after the keyword at `keyword_at`: quoted up to the same quote,
/// or bare up to the nearer of a space and a ">". Its end must lie within
/// reach; a longer value is not cut at all.
Cut cut_value(std::string_view page, std::size_t keyword_at, std::size_t keyword_length) {
    const std::size_t after = keyword_at + keyword_length;
    // Only ends before the limit count, so the searches never look further:
    // a page without a ">" costs no more than one with many.
    const auto reachable = page.substr(0, std::min(page.size(), keyword_at + value_reach));
    const char first = page[after];
    if (first == '\'' || first == '"') {
        const auto close = reachable.find(first, after + 1);
        if (close == npos)
            return {};
        return {reachable.substr(after + 1, close - after - 1), close};
    }
    const auto end = reachable.find_first_of(" >", after);
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

bool names_image(std::string_view value) {
    return ends_with_ignoring_case(value, ".gif") || ends_with_ignoring_case(value, ".jpg") ||
           ends_with_ignoring_case(value, ".jpeg");
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
             RunLists& lists)
        : page_address_(page_address), include_(include_patterns), exclude_(exclude_patterns), lists_(lists) {}

    void run(std::string_view page, Pass pass) {
        const std::string_view keyword = pass == Pass::src ? "src=" : "href=";
        std::size_t at = find_keyword(page, keyword, 0);
        while (at != npos) {
            if (page.size() <= at + 1 + end_margin)
                return;
            auto [value, end] = cut_value(page, at, keyword.size());
            if (value.empty())
                end = at + skip_after_nothing;
            else
                handle(pass, value);
            at = find_keyword(page, keyword, end);
        }
    }

private:
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
        if (!filtre_nom(url_nom_fichier(value), include_, exclude_))
            return;
        auto absolute = url_absolue(page_address_, value);
        // Only links are checked for repeats here; the run skips repeated
        // "src=" images when it copies. The test takes the address as made,
        // so one holding a line break never counts as a repeat.
        if (pass == Pass::href && lists_.images.contains(absolute))
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
};

} // namespace

void scan_page_text(std::string_view page, std::string_view page_address, const PatternSet& include_patterns,
                    const PatternSet& exclude_patterns, RunLists& lists) {
    PageScan scan(page_address, include_patterns, exclude_patterns, lists);
    scan.run(page, Pass::src);
    scan.run(page, Pass::href);
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
