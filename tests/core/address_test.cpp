#include "engine/address.h"

#include <gtest/gtest.h>

#include <string>

using namespace m_qmr;

namespace {

// Every helper seen through one shape, so that one table holds them all.
using S = const std::string&;
using Helper = std::string (*)(S, S);
const Helper dir = [](S a, S) { return url_repertoire(a); };
const Helper root = [](S a, S) { return url_racine(a); };
const Helper name = [](S a, S) { return url_nom_fichier(a); };
const Helper absolute = [](S a, S b) { return url_absolue(a, b); };
const Helper site = [](S a, S b) { return std::string(autre_site(a, b) ? "other" : "same"); };
const Helper no_breaks = [](S a, S) { return sans_fin_ligne(a); };

TEST(AddressTest, Helpers) {
    const std::string page = "http://host/a/b.html";
    struct Case {
        Helper helper;
        std::string a, b, expected;
    };
    const Case cases[] = {
        {dir, page, "", "http://host/a/"},
        {dir, "http://host/a", "", "http://host/"}, // a last segment is a file name
        {dir, "http://host", "", "http://host/"},
        {dir, "ab/cd/", "", ""},           // too short, even with its final "/"
        {dir, "abcdefg/", "", "abcdefg/"}, // a final "/" is enough
        {root, "http://u:p@Host:8080/a/b", "", "http://u:p@Host:8080/"},
        {root, "host/a", "", ""},
        {root, "x//host/a//b", "", "x//host/"},
        {name, "http://host/a/b.gif", "", "b.gif"},
        {name, "http://host/x:y:z.gif", "", "y:z.gif"}, // the first colon after the last "/"
        {name, "a:b/c.gif", "", "c.gif"},
        {absolute, page, "https://other/x.gif  ", "https://other/x.gif"},
        {absolute, page, "x.gif  ", "http://host/a/x.gif"},
        {absolute, page, "/x.gif", "http://host/x.gif"},
        {absolute, page, "HTTP://other/x.gif", "http://host/a/HTTP://other/x.gif"},
        {absolute, page, " http://other/x.gif", "http://host/a/ http://other/x.gif"},
        {absolute, "http://host", "x.gif", "http://host/x.gif"},
        {absolute, "abcdefg/", "x.gif", ""}, // a directory but no site root
        {absolute, "http://host/a/b/c/d.html", "../../x.gif", "http://host/a/x.gif"},
        {absolute, page, "../../../x.gif", "http://host/x.gif"},
        {absolute, "https://u@host:8443/a/b/", "../../../x.gif", "https://u@host:8443/x.gif"},
        {absolute, "http://host/a/b/c.html", "../p/../x.gif", "http://host/a/p/../x.gif"},
        {absolute, "https://host/a/b.html", "//cdn/x.gif", "https://cdn/x.gif"},
        {absolute, "http://host:8080", "//cdn:81/img/x.gif  ", "http://cdn:81/img/x.gif"},
        {absolute, "abcdefg/", "//cdn/x.gif", ""},
        {site, "http://host/a", "http://host/b/c", "same"},
        {site, "http://host/", "https://host/", "other"},
        {site, "http://Host/", "http://host/", "other"},
        {site, "host/a", "host/a", "other"}, // no root is never the same site
        {no_breaks, "\ra\n\n b\t\r", "", "a b\t"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("[" + c.a + "] [" + c.b + "]");
        EXPECT_EQ(c.helper(c.a, c.b), c.expected);
    }
}

} // namespace
