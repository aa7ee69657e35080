#include "engine/address.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace m_qmr;

namespace {

struct OneArgumentCase {
    std::string input;
    std::string expected;
};

TEST(AddressTest, DirectoryOfAnAddress) {
    const OneArgumentCase cases[] = {
        {"http://host/a/b.html", "http://host/a/"},
        {"http://host/a/", "http://host/a/"},
        {"http://host/a", "http://host/"}, // a last segment counts as a file name
        {"http://host", "http://host/"},
        {"http://host:8080/a/b/c.gif", "http://host:8080/a/b/"},
        {"host/a/b", ""},
        {"abc", ""},
        {"", ""},
        {"ab/cd/", ""},           // 6 characters: too short even with a final "/"
        {"abcdefg/", "abcdefg/"}, // a final "/" is enough, "//" or not
        {"http:/x/y", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(url_repertoire(c.input), c.expected);
    }
}

TEST(AddressTest, SiteRootKeepsSchemeUserAndPortAsWritten) {
    const OneArgumentCase cases[] = {
        {"http://host/a/b.html", "http://host/"},
        {"https://host", "https://host/"},
        {"http://host:8080/a/", "http://host:8080/"},
        {"http://u:p@Host/a", "http://u:p@Host/"},
        {"host/a", ""},
        {"http:/", ""},
        {"", ""},
        {"x//host/a//b", "x//host/"}, // the first "//" only
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(url_racine(c.input), c.expected);
    }
}

TEST(AddressTest, FileNameIsAfterLastSlashThenFirstColon) {
    const OneArgumentCase cases[] = {
        {"http://host/a/b.gif", "b.gif"},
        {"b.gif", "b.gif"},
        {"http://host/a/", ""},
        {"http://host", "host"},
        {"http://host:8080", "8080"},
        {"img:b.gif", "b.gif"},
        {"http://host/x:y:z.gif", "y:z.gif"},
        {"", ""},
        {"a:b/c.gif", "c.gif"}, // the colon before the last "/" does not count
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(url_nom_fichier(c.input), c.expected);
    }
}

struct AbsoluteCase {
    std::string base;
    std::string reference;
    std::string expected;
};

TEST(AddressTest, AbsoluteAddressOfAReference) {
    const std::string page = "http://host/a/b.html";
    const AbsoluteCase cases[] = {
        {page, "http://other/x.gif", "http://other/x.gif"},
        {page, "https://other/x.gif", "https://other/x.gif"},
        {page, "x.gif", "http://host/a/x.gif"},
        {page, "img/x.gif", "http://host/a/img/x.gif"},
        {page, "./x.gif", "http://host/a/x.gif"},
        {page, "/x.gif", "http://host/x.gif"},
        {page, "../x.gif", "http://host/x.gif"},
        {page, "HTTP://other/x.gif", "http://host/a/HTTP://other/x.gif"},
        {page, "", "http://host/a/"},
        {"http://host", "x.gif", "http://host/x.gif"},
        {"http://host", "/x.gif", "http://host/x.gif"},
        // Trimmed only as a whole: a leading space makes an absolute address relative.
        {page, " http://other/x.gif", "http://host/a/ http://other/x.gif"},
        {page, "http://other/x.gif  ", "http://other/x.gif"},
        {page, "x.gif  ", "http://host/a/x.gif"},
        {page, " x.gif", "http://host/a/ x.gif"},
        {page, "./ x.gif ", "http://host/a/ x.gif"},
        // Absolute references need no base; relative ones need a usable one.
        {"", "http://other/x.gif", "http://other/x.gif"},
        {"", "x.gif", ""},
        {"http:", "/x.gif", ""},
        {"abcdefg/", "x.gif", ""}, // a directory but no site root
        {"abcdefg/", "../x.gif", ""},
        {"abcdefg/", "//cdn/x.gif", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.base + " + [" + c.reference + "]");
        EXPECT_EQ(url_absolue(c.base, c.reference), c.expected);
    }
}

TEST(AddressTest, ClimbingStopsAtTheSiteRoot) {
    const AbsoluteCase cases[] = {
        {"http://host/a/b.html", "../../x.gif", "http://host/x.gif"},
        {"http://host/a/b.html", "../../../x.gif", "http://host/x.gif"},
        {"http://host/a/b.html", "../../../../x.gif", "http://host/x.gif"},
        {"http://host", "../x.gif", "http://host/x.gif"},
        {"https://u@host:8443/a/b/", "../../../x.gif", "https://u@host:8443/x.gif"},
        // Within the site, one segment per group.
        {"http://host/a/b/c/d.html", "../x.gif", "http://host/a/b/x.gif"},
        {"http://host/a/b/c/d.html", "../../x.gif", "http://host/a/x.gif"},
        {"http://host/a/b/c/d.html", "../../../x.gif", "http://host/x.gif"},
        {"http://host/a/b/c/", "../x.gif", "http://host/a/b/x.gif"},
        // Only leading groups climb.
        {"http://host/a/b/c.html", "../p/../x.gif", "http://host/a/p/../x.gif"},
        {"http://host/a/b/c.html", "../.././x.gif", "http://host/./x.gif"},
        {"http://host/a/b/c.html", "../", "http://host/a/"},
        {"http://host/a/b/c.html", "../../ ", "http://host/"},
        {"http://host/a/b/c.html", "../../ x.gif", "http://host/ x.gif"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.base + " + [" + c.reference + "]");
        EXPECT_EQ(url_absolue(c.base, c.reference), c.expected);
    }
}

TEST(AddressTest, DoubleSlashTakesTheBaseScheme) {
    const AbsoluteCase cases[] = {
        {"http://host/a/b.html", "//cdn/x.gif", "http://cdn/x.gif"},
        {"https://host/a/b.html", "//cdn/x.gif", "https://cdn/x.gif"},
        {"http://host:8080", "//cdn:81/img/x.gif  ", "http://cdn:81/img/x.gif"},
        {"http://host/a/b.html", "///x.gif", "http:///x.gif"},
        {"http://host/a/b.html", " //cdn/x.gif", "http://host/a/ //cdn/x.gif"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.base + " + [" + c.reference + "]");
        EXPECT_EQ(url_absolue(c.base, c.reference), c.expected);
    }
}

TEST(AddressTest, OtherSiteComparesRootsExactly) {
    struct Case {
        std::string a, b;
        bool other;
    };
    const Case cases[] = {
        {"http://host/a", "http://host/b/c", false},
        {"http://host", "http://host/x.html", false},
        {"http://host/", "https://host/", true},
        {"http://Host/", "http://host/", true},
        {"http://www.host/", "http://host/", true},
        {"http://host:80/", "http://host/", true},
        {"http://host/", "", true},
        {"", "", true}, // no root on either side is never the same site
        {"host/a", "host/a", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.a + " | " + c.b);
        EXPECT_EQ(autre_site(c.a, c.b), c.other);
        EXPECT_EQ(autre_site(c.b, c.a), c.other);
    }
}

TEST(AddressTest, InListReadsEntriesOneToCount) {
    const std::vector<std::string> list = {"zero", "a", "b", "A", "b "};
    struct Case {
        std::string text;
        int count;
        bool found;
    };
    const Case cases[] = {
        {"zero", 4, false}, // slot 0 is never read
        {"a", 0, false},    {"a", -3, false}, {"a", 1, true},  {"b", 1, false}, {"b", 2, true},  {"A", 3, true},
        {"B", 4, false},    {"b ", 3, false}, {"b ", 4, true}, {"", 4, false},  {"a", 99, true}, {"c", 99, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text + " / " + std::to_string(c.count));
        EXPECT_EQ(dans_liste(c.text, list, c.count), c.found);
    }
}

TEST(AddressTest, WithoutLineEndsKeepsTabsAndSpaces) {
    const OneArgumentCase cases[] = {
        {"http://host/a.gif", "http://host/a.gif"},
        {"a\r\nb", "ab"},
        {"\ra\n\n b\t\r", "a b\t"},
        {"\r\n", ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(sans_fin_ligne(c.input), c.expected);
    }
}

} // namespace
