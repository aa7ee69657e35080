#include "net/address.h"

#include "engine/address_list.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

using namespace m_qmr;

// Each row pairs what a helper gave with what it should give.
TEST(AddressTest, Helpers) {
    const std::string page = "http://host/a/b.html";
    const std::pair<std::string, std::string> cases[] = {
        {url_repertoire(page), "http://host/a/"},
        {url_repertoire("http://host/a"), "http://host/"}, // a last segment is a file name
        {url_repertoire("http://host"), "http://host/"},
        {url_repertoire("ab/cd/"), ""},           // too short, even with its final "/"
        {url_repertoire("abcdefg/"), "abcdefg/"}, // a final "/" is enough
        {url_racine("http://u:p@Host:8080/a/b"), "http://u:p@Host:8080/"},
        {url_racine("host/a"), ""},
        {url_racine("x//host/a//b"), "x//host/"},
        {url_nom_fichier("http://host/a/b.gif"), "b.gif"},
        {url_nom_fichier("http://host/x:y:z.gif"), "y:z.gif"}, // the first colon after the last "/"
        {url_nom_fichier("a:b/c.gif"), "c.gif"},
        {url_absolue(page, "https://other/x.gif  "), "https://other/x.gif"},
        {url_absolue(page, "x.gif  "), "http://host/a/x.gif"},
        {url_absolue(page, "/x.gif"), "http://host/x.gif"},
        {url_absolue(page, "HTTP://other/x.gif"), "http://host/a/HTTP://other/x.gif"},
        {url_absolue(page, " http://other/x.gif"), "http://host/a/ http://other/x.gif"},
        {url_absolue("abcdefg/", "x.gif"), ""}, // a directory but no site root
        {url_absolue("http://host/a/b/c/d.html", "../../x.gif"), "http://host/a/x.gif"},
        {url_absolue(page, "../../../x.gif"), "http://host/x.gif"}, // surplus groups stop at the root
        {url_absolue("http://host/a/b/c.html", "../p/../x.gif"), "http://host/a/p/../x.gif"},
        {url_absolue("https://host:8080/a", "//cdn:81/x.gif  "), "https://cdn:81/x.gif"},
        {sans_fin_ligne("\ra\n\n b\t\r"), "a b\t"},
        // On the wire: what cannot stand in an address is escaped once, the host never.
        {encoded_address("http://hé te/my pic.gif?q=a b#x y"), "http://hé te/my%20pic.gif?q=a%20b#x%20y"},
        {encoded_address("http://h/%41%4g%/é\x01\x7f\"<>\\^`{|}"),
         "http://h/%41%254g%25/%C3%A9%01%7F%22%3C%3E%5C%5E%60%7B%7C%7D"},
        {encoded_address(encoded_address("http://h/a b%20c")), "http://h/a%20b%20c"},
        {encoded_address("http://h:81/?&=+$,;:@!*'()[]~"), "http://h:81/?&=+$,;:@!*'()[]~"},
        // Dot segments resolved as a resolver does, never above the root.
        {without_dot_segments("http://h/a/b/../../../tmp/./x.jpg"), "http://h/tmp/x.jpg"},
        {without_dot_segments("http://h/a/./b/.."), "http://h/a/"},
        {without_dot_segments("http://h/a//b/.?x=../y"), "http://h/a//b/?x=../y"},
        {without_dot_segments("http://h"), "http://h"},
        {without_dot_segments("http://h/.."), "http://h/"},
    };
    for (const auto& [got, expected] : cases)
        EXPECT_EQ(got, expected);
    EXPECT_FALSE(autre_site("http://host/a", "http://host/b/c"));
    EXPECT_TRUE(autre_site("http://host/", "https://host/"));
    EXPECT_TRUE(autre_site("http://Host/", "http://host/"));
    EXPECT_TRUE(autre_site("host/a", "host/a")); // no root is never the same site
}

TEST(AddressListTest, ContainsAgreesWithTheLinearSearch) {
    const std::vector<std::string> slots = {"zero", "a", "b", "A", "b ", "", "a"}; // slot 0 is never read
    const std::tuple<std::string, int, bool> cases[] = {
        {"zero", 6, false}, {"a", -3, false}, {"b", 1, false}, {"b", 2, true},
        {"B", 6, false},    {"b ", 3, false}, {"", 5, true},   {"a", 99, true},
    };
    for (const auto& [text, count, found] : cases) {
        SCOPED_TRACE("[" + text + "] " + std::to_string(count));
        EXPECT_EQ(dans_liste(text, slots, count), found);
        AddressList list; // the same entries, one to count
        for (int i = 1; i <= count && i < 7; ++i)
            list.append(slots[i]);
        EXPECT_EQ(list.contains(text), found);
    }
}
