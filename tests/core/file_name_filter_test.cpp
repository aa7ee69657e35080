#include "store/file_name_filter.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

using namespace m_qmr;

TEST(FileNameFilterTest, OnePassMatch) {
    // Name pattern, extension pattern, name, extension, whether they match; "*" jumps once, never retries.
    const std::tuple<std::string, std::string, std::string, std::string, bool> cases[] = {
        {"a?c", "*", "abc", "", true},   {"a?c", "*", "abbc", "", false},  {"abc", "*", "ABC", "", false},
        {"ab", "*", "abc", "", false},   {"*ab", "*", "abab", "", false},  {"a*c*", "*", "abcdc", "", true},
        {"*b?d", "*", "abcd", "", true}, {"x*", "*", "x", "", true},       {"x?*", "*", "x", "", false},
        {"x?", "*", "x", "", false},     {"*", "*", "", "", true},         {"**", "*", "", "", false},
        {"a**b", "*", "ab", "", true},   {"*?", "*", "ab", "", false},     {"", "*", "", "", false},
        {"p", "gif", "p", "GIF", true},  {"p", "jpg", "p", "jpeg", false}, {"p", "gif", "q", "gif", false},
    };
    for (const auto& [name_pattern, extension_pattern, name, extension, matches] : cases)
        EXPECT_EQ(correspond_motif(name, extension, {name_pattern, extension_pattern}), matches)
            << "'" << name_pattern << "." << extension_pattern << "' vs '" << name << "." << extension << "'";
}

TEST(FileNameFilterTest, ExcludeRowsFirstThenAnyActiveIncludeRow) {
    // Rows with a blank name are inactive whatever their extension.
    const PatternSet inactive = {{{"", "gif"}, {"  ", "jpg"}}};
    const PatternSet include = {{{"photo*", "jpg"}, {"", "gif"}, {"  icon?  ", " gif "}, {"*", "jpeg"}}};
    const PatternSet exclude = {{{"*z", "*"}, {"", "*"}, {"ab", "*"}}};
    // File name, taken with inactive rows only, taken with the rows above.
    const std::tuple<std::string, bool, bool> cases[] = {
        {"photo1.JPG", true, true},  {" photo2.jpg ", true, true}, {"photo.gif", true, false},
        {"icon2 . gif", true, true}, {"z.jpeg", true, false},      {"ab.jpeg", true, false},
        {".jpeg", true, true},       {"abc", false, false},        {"x.y.jpeg", true, true}, // the last "." splits
    };
    for (const auto& [file_name, taken_by_default, taken] : cases) {
        EXPECT_EQ(filtre_nom(file_name, inactive, inactive), taken_by_default) << file_name;
        EXPECT_EQ(filtre_nom(file_name, include, exclude), taken) << file_name;
    }
}

TEST(FileNameFilterTest, ExtensionIndexAndPatternCheck) {
    const std::pair<std::string, int> stored[] = {{"gif", 1}, {" jpg ", 2}, {"jpeg", 3}, {"JPG", 0}, {"\tgif", 0}};
    for (const auto& [extension, index] : stored)
        EXPECT_EQ(index_extension(extension), index) << "[" << extension << "]";
    const auto no = [](char c) { return std::string("Il ne faut pas de ") + c + " dans un nom de fichier"; };
    const std::string stars = "Un ? et un * ne peuvent se suivrent";
    // In this order, each said once however often.
    const std::pair<std::string, std::vector<std::string>> typed[] = {
        {"*a*b??", {}}, {"a?*", {stars}}, {"a*?", {stars}}, {"\\/.a**b**", {no('.'), no('/'), no('\\'), stars}}};
    for (const auto& [pattern, messages] : typed)
        EXPECT_EQ(check_name_pattern(pattern), messages) << "[" << pattern << "]";
}
