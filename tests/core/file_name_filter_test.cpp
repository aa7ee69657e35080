#include "store/file_name_filter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace m_qmr;

namespace {

TEST(FileNameFilterTest, OnePassMatch) {
    struct Case {
        std::string name_pattern, extension_pattern, name, extension;
        bool matches;
    };
    const Case cases[] = {
        {"a?c", "*", "abc", "", true},   {"a?c", "*", "abbc", "", false},  {"abc", "*", "ABC", "", false},
        {"ab", "*", "abc", "", false},   {"*ab", "*", "abab", "", false}, // "*" jumps once, never retries
        {"*b", "*", "aab", "", true},    {"a*c", "*", "acbc", "", false},  {"a*c*", "*", "abcdc", "", true},
        {"*b?d", "*", "abcd", "", true}, {"x*", "*", "x", "", true},       {"x?*", "*", "x", "", false},
        {"x?", "*", "x", "", false},     {"*", "*", "", "", true},         {"**", "*", "", "", false},
        {"a**b", "*", "ab", "", true},   {"*?", "*", "ab", "", false},     {"", "*", "", "", false},
        {"p", "gif", "p", "GIF", true},  {"p", "jpg", "p", "jpeg", false}, {"p", "gif", "p", "", false},
        {"p", "gif", "q", "gif", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("'" + c.name_pattern + "." + c.extension_pattern + "' vs '" + c.name + "." + c.extension + "'");
        EXPECT_EQ(correspond_motif(c.name, c.extension, PatternPair{c.name_pattern, c.extension_pattern}), c.matches);
    }
}

TEST(FileNameFilterTest, ExcludeRowsFirstThenAnyActiveIncludeRow) {
    // Rows with a blank name are inactive whatever their extension.
    const PatternSet inactive = {{{"", "gif"}, {"  ", "jpg"}, {"", "*"}, {"", "*"}}};
    const PatternSet include = {{{"photo*", "jpg"}, {"", "gif"}, {"  icon?  ", " gif "}, {"*", "jpeg"}}};
    const PatternSet exclude = {{{"*z", "*"}, {"", "*"}, {"ab", "*"}, {"", "*"}}};
    struct Case {
        std::string name;
        bool taken_by_default, taken;
    };
    const Case cases[] = {
        {"photo1.JPG", true, true}, {" photo2.jpg ", true, true}, {"Photo1.jpg", true, false},
        {"photo.gif", true, false}, {"icon2 . gif", true, true},  {"icon12.gif", true, false},
        {"zz.jpeg", true, true}, // "*z" stops at the first "z"
        {"z.jpeg", true, false},    {"ab.jpeg", true, false},     {".jpeg", true, true},
        {".gif", true, false},      {"abc", false, false},        {" ", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("[" + c.name + "]");
        EXPECT_EQ(filtre_nom(c.name, inactive, inactive), c.taken_by_default);
        EXPECT_EQ(filtre_nom(c.name, include, exclude), c.taken);
    }
}

TEST(FileNameFilterTest, ExtensionIndexAndPatternCheck) {
    const std::pair<std::string, int> stored[] = {{"*", 0},    {"gif", 1}, {" jpg ", 2},
                                                  {"jpeg", 3}, {"JPG", 0}, {"\tgif", 0}};
    for (const auto& [extension, index] : stored)
        EXPECT_EQ(index_extension(extension), index) << "[" << extension << "]";
    const std::string dot = "Il ne faut pas de . dans un nom de fichier";
    const std::string slash = "Il ne faut pas de / dans un nom de fichier";
    const std::string backslash = "Il ne faut pas de \\ dans un nom de fichier";
    const std::string stars = "Un ? et un * ne peuvent se suivrent";
    // In this order, each said once however often.
    const std::pair<std::string, std::vector<std::string>> typed[] = {
        {"*a*b??", {}},
        {"a?*", {stars}},
        {"a*?", {stars}},
        {"a**b**", {stars}},
        {"\\/.", {dot, slash, backslash}},
        {".?*", {dot, stars}},
        {" * ? ", {}},
    };
    for (const auto& [pattern, messages] : typed)
        EXPECT_EQ(check_name_pattern(pattern), messages) << "[" << pattern << "]";
}

} // namespace
