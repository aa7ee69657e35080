#include "store/file_name_filter.h"

#include "net/text.h"

namespace m_qmr {

namespace {

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower_ascii(a[i]) != lower_ascii(b[i]))
            return false;
    return true;
}

bool is_active(const PatternPair& pair) {
    return !trim_spaces_view(pair.name).empty();
}

PatternPair trimmed(const PatternPair& pair) {
    return {trim_spaces(pair.name), trim_spaces(pair.extension)};
}

// Where the literal after a "*" first occurs at or after `from`. An empty
// literal (the "*" is followed by "?" or "*") occurs at every position of the
// name but not past its end, so an empty name never holds it.
std::size_t find_literal(std::string_view name, std::string_view literal, std::size_t from) {
    if (literal.empty())
        return from < name.size() ? from : std::string_view::npos;
    return name.find(literal, from);
}

// One pass from the left, never backing up: a "*" jumps to the first place
// where the following literal occurs, and that choice is final.
bool name_matches(std::string_view name, std::string_view pattern) {
    if (pattern.empty())
        return false;
    const std::size_t name_last = name.size() - 1; // unused while the name is empty
    const std::size_t pattern_last = pattern.size() - 1;
    std::size_t i = 0;
    std::size_t j = 0;
    for (;;) {
        const char c = pattern[j];
        if (c == '*') {
            if (j == pattern_last)
                return true;
            const auto literal_end = pattern.find_first_of("*?", j + 1);
            // Up to the next wildcard, or the end (substr clamps npos - (j + 1)).
            const auto literal = pattern.substr(j + 1, literal_end - (j + 1));
            const auto found = find_literal(name, literal, i);
            if (found == std::string_view::npos)
                return false;
            i = found;
            ++j;
            continue;
        }
        if (i >= name.size())
            return false;
        if (c != '?' && c != name[i])
            return false;
        const bool name_done = i == name_last;
        const bool pattern_done = j == pattern_last;
        if (name_done && pattern_done)
            return true;
        if (!name_done && !pattern_done) {
            ++i;
            ++j;
            continue;
        }
        if (pattern_done)
            return false;
        // The name is used up: only one trailing "*" may remain.
        return j + 1 == pattern_last && pattern[pattern_last] == '*';
    }
}

} // namespace

bool correspond_motif(std::string_view name, std::string_view extension, const PatternPair& pair) {
    const bool extension_ok = pair.extension == "*" || equal_ignoring_case(pair.extension, extension);
    return extension_ok && name_matches(name, pair.name);
}

bool filtre_nom(std::string_view file_name, const PatternSet& include_patterns, const PatternSet& exclude_patterns) {
    if (trim_spaces_view(file_name).empty())
        return false;
    const auto dot = file_name.rfind('.');
    if (dot == std::string_view::npos)
        return false;
    const auto name = trim_spaces_view(file_name.substr(0, dot));
    const auto extension = trim_spaces_view(file_name.substr(dot + 1));

    for (const auto& pair : exclude_patterns)
        if (is_active(pair) && correspond_motif(name, extension, trimmed(pair)))
            return false;

    bool ok = true;
    for (const auto& pair : include_patterns) {
        if (!is_active(pair))
            continue;
        ok = false;
        if (correspond_motif(name, extension, trimmed(pair)))
            return true;
    }
    return ok;
}

int index_extension(std::string_view extension, bool all_image_formats) {
    const auto wanted = trim_spaces_view(extension);
    for (std::size_t i = 0; i < extension_choice_count(all_image_formats); ++i)
        if (extension_choices[i] == wanted)
            return static_cast<int>(i);
    return 0;
}

std::vector<std::string> check_name_pattern(std::string_view typed) {
    const auto text = trim_spaces_view(typed);
    std::vector<std::string> messages;
    if (text.find('.') != std::string_view::npos)
        messages.emplace_back("Il ne faut pas de . dans un nom de fichier");
    if (text.find('/') != std::string_view::npos)
        messages.emplace_back("Il ne faut pas de / dans un nom de fichier");
    if (text.find('\\') != std::string_view::npos)
        messages.emplace_back("Il ne faut pas de \\ dans un nom de fichier");
    // The matcher gives no sensible meaning to "?*", "**" or "*?".
    for (std::size_t i = 1; i < text.size(); ++i) {
        const char before = text[i - 1];
        const char here = text[i];
        if ((here == '*' && (before == '?' || before == '*')) || (here == '?' && before == '*')) {
            messages.emplace_back("Un ? et un * ne peuvent se suivrent");
            break;
        }
    }
    return messages;
}

} // namespace m_qmr
