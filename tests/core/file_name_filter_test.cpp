#include "store/file_name_filter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace m_qmr;

namespace {

struct MatchCase {
    std::string pattern;
    std::string name;
    bool matches;
};

TEST(FileNameFilterTest, NameIsMatchedInOnePassWithoutRetrying) {
    const MatchCase cases[] = {
        {"a?c", "abc", true},
        {"a?c", "ac", false},
        {"a?c", "abbc", false},
        {"a?c", "abcd", false},
        {"abc", "abc", true},
        {"abc", "ABC", false}, // names keep their case
        {"abc", "ab", false},
        {"ab", "abc", false},
        // A "*" jumps to the first occurrence of the literal after it, once.
        {"*ab", "abab", false},
        {"*b", "abab", false},
        {"*b", "aab", true},
        {"*ab", "xab", true},
        {"*ab", "ab", true},
        {"*abc", "abc", true},
        {"abc*", "abc", true},
        {"abc*", "abcdef", true},
        {"*", "anything", true},
        {"*", "", true},
        {"a*c", "abbbc", true},
        {"a*c", "ac", true},
        {"a*c", "acbc", false},
        {"a*c*", "abcdc", true},
        {"*b*d", "abcd", true},
        {"*b*d", "abcdd", false},
        {"*b?d", "abcd", true},
        {"x*", "x", true},
        {"x*y", "x", false}, // more than a trailing "*" is left
        {"x?", "x", false},
        {"?", "a", true},
        {"??", "a", false},
        {"?", "", false},
        {"a", "", false},
        {"*a", "", false},
        {"**", "", false}, // only a lone "*" matches an empty name
        {"*?", "", false},
        {"**", "a", true},
        {"a**b", "ab", true},
        {"*?", "ab", false},
        {"*?b", "ab", true},
        {"", "", false},
        {"", "a", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("'" + c.pattern + "' vs '" + c.name + "'");
        EXPECT_EQ(correspond_motif(c.name, "gif", PatternPair{c.pattern, "*"}), c.matches);
    }
}

TEST(FileNameFilterTest, ExtensionIgnoresCaseAndStarTakesAll) {
    struct Case {
        std::string extension_pattern;
        std::string extension;
        bool matches;
    };
    const Case cases[] = {
        {"*", "gif", true},   {"*", "", true},        {"*", "whatever", true}, {"gif", "gif", true},
        {"gif", "GIF", true}, {"jpg", "Jpg", true},   {"jpg", "jpeg", false},  {"jpeg", "jpg", false},
        {"gif", "", false},   {"gif", "gif2", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.extension_pattern + " vs " + c.extension);
        EXPECT_EQ(correspond_motif("photo", c.extension, PatternPair{"photo", c.extension_pattern}), c.matches);
    }
    // Both halves must match.
    EXPECT_FALSE(correspond_motif("other", "gif", PatternPair{"photo", "gif"}));
}

PatternSet rows(std::vector<PatternPair> pairs) {
    PatternSet set;
    for (std::size_t i = 0; i < pairs.size(); ++i)
        set[i] = pairs[i];
    return set;
}

TEST(FileNameFilterTest, ExcludeFirstThenAnyActiveIncludeRow) {
    struct Case {
        std::string label;
        PatternSet include, exclude;
        std::vector<std::string> taken, refused;
    };
    const Case cases[] = {
        {"no active rows", {}, {}, {"a.gif", "b.jpeg", "x.y.z", ".jpg", " . "}, {"abc", "", "   "}},
        {"extension alone never activates a row",
         rows({{"", "gif"}, {"  ", "jpg"}}),
         rows({{" ", "gif"}}),
         {"a.jpeg", "b.gif"},
         {}},
        {"photo* jpg",
         rows({{"photo*", "jpg"}}),
         {},
         {"photo1.jpg", "photo.jpg", "photo1.JPG", " photo2.jpg ", "photo.x.jpg"},
         {"Photo1.jpg", "photo1.gif", "photo", "aphoto.jpg"}},
        {"exclusion wins",
         rows({{"*", "*"}}),
         rows({{"*", "gif"}}),
         {"a.jpg", "b.jpeg", "c.png"},
         {"a.gif", "b.GIF", "noext"}},
        {"any active include row may match",
         rows({{"", "gif"}, {"cat?", "gif"}, {"", "*"}, {"dog*", "*"}}),
         {},
         {"cat1.gif", "dog.jpg", "dogs.jpeg"},
         {"cat1.jpg", "cat.gif", "bird.gif"}},
        {"exclude rows are all read",
         {},
         rows({{"a*", "*"}, {"", "*"}, {"b", "jpg"}, {"*z", "jpeg"}}),
         // "*z" stops at the first "z" of "zz", so that name escapes the row.
         {"b.gif", "c.jpg", "zy.jpeg", "zz.gif", "zz.jpeg"},
         {"a.gif", "abc.jpg", "b.JPG", "z.jpeg", "az.jpeg"}},
        {"spaces around patterns and names",
         rows({{"  icon?  ", " gif "}}),
         {},
         {"icon1.gif", "icon2 . gif", " icon3.gif"},
         {"icon12.gif"}},
        {"empty name part matches a lone star only",
         rows({{"*", "jpg"}, {"?*", "*"}}),
         {},
         {".jpg", "a.gif"},
         {".gif"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        for (const auto& name : c.taken) {
            SCOPED_TRACE("taken: [" + name + "]");
            EXPECT_TRUE(filtre_nom(name, c.include, c.exclude));
        }
        for (const auto& name : c.refused) {
            SCOPED_TRACE("refused: [" + name + "]");
            EXPECT_FALSE(filtre_nom(name, c.include, c.exclude));
        }
    }
}

TEST(FileNameFilterTest, ExtensionIndexInTheList) {
    struct Case {
        std::string stored;
        int index;
    };
    const Case cases[] = {
        {"*", 0},   {"gif", 1}, {"jpg", 2}, {" jpg ", 2}, {"jpeg", 3},
        {"JPG", 0}, {"png", 0}, {"", 0},    {"jp g", 0},  {"\tgif", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("[" + c.stored + "]");
        EXPECT_EQ(index_extension(c.stored), c.index);
    }
}

TEST(FileNameFilterTest, PatternCheckMessagesInOrder) {
    const std::string dot = "Il ne faut pas de . dans un nom de fichier";
    const std::string slash = "Il ne faut pas de / dans un nom de fichier";
    const std::string backslash = "Il ne faut pas de \\ dans un nom de fichier";
    const std::string wildcards = "Un ? et un * ne peuvent se suivrent";
    struct Case {
        std::string typed;
        std::vector<std::string> messages;
    };
    const Case cases[] = {
        {"", {}},
        {"photo*", {}},
        {"a??b", {}},
        {"*a*b?", {}},
        {"a?*", {wildcards}},
        {"a*?", {wildcards}},
        {"a**", {wildcards}},
        {"**?*??**", {wildcards}}, // said once however often
        {"x.y/z", {dot, slash}},
        {"a\\b", {backslash}},
        {"\\/.", {dot, slash, backslash}},
        {".?*", {dot, wildcards}},
        {" * ? ", {}}, // an inner space keeps them apart
        {"  *?  ", {wildcards}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("[" + c.typed + "]");
        EXPECT_EQ(check_name_pattern(c.typed), c.messages);
    }
}

} // namespace
