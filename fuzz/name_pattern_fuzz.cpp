// The file-name patterns: the input is a file name, a line feed, a name
// pattern, a line feed, then an extension pattern.

#include "fuzz_support.h"

#include <string>
#include <string_view>

#include "net/text.h"
#include "store/file_name_filter.h"

namespace {

using namespace m_qmr;

/// The usual wildcard match, trying every length for each "*". The one-pass
/// matcher tries only the first, so it may refuse a name that this takes,
/// never the other way round.
bool wildcard_match(std::string_view name, std::string_view pattern) {
    std::size_t i = 0, j = 0;
    std::size_t star = std::string_view::npos, resume = 0;
    while (i < name.size()) {
        if (j < pattern.size() && pattern[j] == '*') {
            star = j++;
            resume = i;
        } else if (j < pattern.size() && (pattern[j] == '?' || pattern[j] == name[i])) {
            ++i;
            ++j;
        } else if (star != std::string_view::npos) {
            j = star + 1;
            i = ++resume;
        } else {
            return false;
        }
    }
    while (j < pattern.size() && pattern[j] == '*')
        ++j;
    return j == pattern.size();
}

bool same_ignoring_case(std::string_view a, std::string_view b) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (a.size() != b.size())
        return false;
    for (std::size_t k = 0; k < a.size(); ++k)
        if (lower(a[k]) != lower(b[k]))
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto parts = fuzz::fields(fuzz::as_text(data, size), '\n', 3);
    const std::string_view file_name = parts[0];
    const PatternPair pair{trim_spaces(parts[1]), trim_spaces(parts[2])};

    const std::string detail = std::string(file_name) + " | " + pair.name + " | " + pair.extension;
    const auto dot = file_name.rfind('.');
    const bool named = !trim_spaces_view(file_name).empty() && dot != std::string_view::npos;
    const auto name = named ? trim_spaces_view(file_name.substr(0, dot)) : file_name;
    const auto extension = named ? trim_spaces_view(file_name.substr(dot + 1)) : std::string_view{};

    const bool extension_ok = pair.extension == "*" || same_ignoring_case(pair.extension, extension);
    const bool matches = correspond_motif(name, extension, pair);
    if (matches)
        fuzz::require(extension_ok && wildcard_match(name, pair.name), "a match is a wildcard match", detail);
    if (!pair.name.empty() && pair.name.find_first_of("*?") == std::string::npos)
        fuzz::require(matches == (extension_ok && name == pair.name), "a plain pattern matches itself only", detail);
    if (pair.name == "*")
        fuzz::require(matches == extension_ok, "* matches any name", detail);

    // The same pair, as an include row and as an exclude row.
    const bool active = !pair.name.empty();
    PatternSet rows, none;
    rows[size % rows.size()] = pair;
    fuzz::require(filtre_nom(file_name, rows, none) == (named && (!active || matches)), "an include row", detail);
    fuzz::require(filtre_nom(file_name, none, rows) == (named && !(active && matches)), "an exclude row", detail);

    const auto messages = check_name_pattern(parts[1]);
    fuzz::require(messages.size() <= 4, "at most one message per check", detail);
    if (messages.empty())
        fuzz::require(pair.name.find_first_of("./\\") == std::string::npos, "an accepted pattern names a file", detail);
    return 0;
}
