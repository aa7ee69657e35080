#include "engine/page_scanner.h"

#include "support/fake_transfer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace m_qmr;

namespace {

const std::string page_address = "http://host/d/p.html";
const std::string dir = "http://host/d/";

struct Listed {
    std::vector<std::string> images, pages;
};

Listed scan(const std::string& page, const PatternSet& include = {}, const PatternSet& exclude = {}) {
    RunLists lists;
    scan_page_text(page, page_address, include, exclude, lists);
    return {lists.images.entries(), lists.pages.entries()};
}

struct ScanCase {
    std::string label;
    std::string page;
    std::vector<std::string> images, pages;
};

void expect_cases(const std::vector<ScanCase>& cases) {
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const auto listed = scan(c.page);
        EXPECT_EQ(listed.images, c.images);
        EXPECT_EQ(listed.pages, c.pages);
    }
}

TEST(PageScannerTest, FindsKeywordsAndCutsValues) {
    expect_cases({
        {"empty page", "", {}, {}},
        {"quoted", R"(<img src="a.gif">)", {dir + "a.gif"}, {}},
        {"keywords in any case", R"(<IMG SRC="A.GIF"><A HREF="B.HTM">x</A>)", {dir + "A.GIF"}, {dir + "B.HTM"}},
        {"apostrophes", "<img src='b.jpeg'>", {dir + "b.jpeg"}, {}},
        {"plain substring", R"(<img data-src="c.jpg">)", {dir + "c.jpg"}, {}},
        {"space before the equals sign", R"(<img src ="a.gif"><a href ="b.html">x</a>)", {}, {}},
        {"bare up to a space", "<img src=a.gif alt=x>", {dir + "a.gif"}, {}},
        {"bare up to >", "<img src=a.gif>some text", {dir + "a.gif"}, {}},
        {"bare up to the nearer end", "<img src=a.gif>b c.gif >", {dir + "a.gif"}, {}},
        {"quoted keeps its spaces", R"(<img src="my pic.gif">)", {dir + "my pic.gif"}, {}},
        {"tabs stay in a bare value", "<img src=a\tb.gif>", {dir + "a\tb.gif"}, {}},
        {"line breaks stay in a bare value, not in the image", "<img src=x\r\ny.gif >", {dir + "xy.gif"}, {}},
        {"empty quotes", R"(<a href=""><img src=''><a href=>x</a> and more text)", {}, {}},
        {"keyword inside a cut value", "<img src='a src=b.gif c.gif' >", {dir + "a src=b.gif c.gif"}, {}},
        {"no end within reach: resume five bytes on",
         R"(<img src=")" + std::string(100, 'x') + R"( src=b.gif "> and more text)",
         {dir + "b.gif"},
         {}},
        {"no end at all", R"(<img src=")" + std::string(30, 'x') + " src=c.gif> and more", {dir + "c.gif"}, {}},
    });
}

TEST(PageScannerTest, ClassifiesByPass) {
    expect_cases({
        {"suffixes ignore case", "<img src=IMG.GIF ><frame src=Page.HTML >", {dir + "IMG.GIF"}, {dir + "Page.HTML"}},
        {"pages through src",
         R"(<frame src="f.php"><frame src="g.htm"><frame src="h.asp"><script src="s.js"></script>)",
         {},
         {dir + "f.php", dir + "g.htm"}},
        {"a query hides the image suffix", R"(<img src="x.gif?s=2"><a href="x.gif?s=2">)", {}, {dir + "x.gif?s=2"}},
        {"links except downloads",
         R"(<a href="setup.exe"><a href="doc.PDF"><a href="song.wma"><a href="sub/"><a href="list.php?p=2">)"
         R"(<a href="arch.zip"><a href=a>the end)",
         {},
         {dir + "sub/", dir + "list.php?p=2", dir + "arch.zip", dir + "a"}},
        {"link cleaning",
         R"(<a href="#top"><a href="p2.html#part"><a href="mailto:me@host"><a href="MAILTO:me@host">)"
         R"(<a href="run.cgi?x=1"><a href="doc.CGI"><a href="e#f.cgi"><a href="c.html#mailto:x">)",
         {},
         {dir + "p2.html", dir + "MAILTO:me@host", dir + "doc.CGI", dir + "e", dir + "c.html"}},
        {"fragment cut before the image test", R"(<a href="pic.jpg#big">)", {dir + "pic.jpg"}, {}},
        {"images from anywhere, links from this site only",
         R"(<img src="http://other/x.gif"><img src="//cdn/i.gif"><a href="http://other/p.html">)"
         R"(<a href="https://host/q.html"><a href="//cdn/s.html"><a href="http://host/r.html">)"
         R"(<a href="../../up.html"><a href="http://host:80/t.html">)",
         {"http://other/x.gif", "http://cdn/i.gif"},
         {"http://host/r.html", "http://host/up.html"}},
    });
}

TEST(PageScannerTest, RepeatsAndLineBreaks) {
    expect_cases({
        {"src images repeat, link images do not",
         R"(<img src="a.gif"><img src="a.gif"><a href="a.gif"><a href="b.gif"><a href="./b.gif">)",
         {dir + "a.gif", dir + "a.gif", dir + "b.gif"},
         {}},
        {"src runs before href whatever the order on the page",
         R"(<a href="a.gif"><img src="a.gif">)",
         {dir + "a.gif"},
         {}},
        {"pages once per address as written",
         R"(<a href="q.html"><a href="./q.html"><a href="/d/q.html"><frame src="q.html"><a href="sub/../q.html">)",
         {},
         {dir + "q.html", dir + "sub/../q.html"}},
        // The repeat test sees the address with its line break, the list holds it without.
        {"a line break defeats the link image repeat test",
         "<img src=a.gif ><a href=a\n.gif ><a href=b\r.gif ><a href=b\r.gif >",
         {dir + "a.gif", dir + "a.gif", dir + "b.gif", dir + "b.gif"},
         {}},
        {"pages keep their line breaks", "<a href=n\r\new.html >", {}, {dir + "n\r\new.html"}},
    });
}

TEST(PageScannerTest, KeywordNearTheEndEndsItsPassOnly) {
    expect_cases({
        {"twelve bytes", "src=a.gif xx", {dir + "a.gif"}, {}},
        {"eleven bytes", "src=a.gif x", {}, {}},
        {"href twelve bytes", "href=x.html ", {}, {dir + "x.html"}},
        {"href eleven bytes", "href=x.htm ", {}, {}},
        {"href still runs", R"(<a href="x.html">src=a.gif x)", {}, {dir + "x.html"}},
        {"earlier keywords stay", "<img src=b.gif>src=a.gif x", {dir + "b.gif"}, {}},
    });
}

TEST(PageScannerTest, ValueLengthLimits) {
    struct Case {
        std::string label;
        std::string opening, closing;
        std::size_t length;
        bool listed;
    };
    const Case cases[] = {
        {"src quoted 99", R"(<img src=")", R"(">)", 99, true}, {"src quoted 100", R"(<img src=")", R"(">)", 100, false},
        {"src bare 100", "<img src=", ">", 100, true},         {"src bare 101", "<img src=", ">", 101, false},
        {"href quoted 98", R"(<a href=")", R"(">)", 98, true}, {"href quoted 99", R"(<a href=")", R"(">)", 99, false},
        {"href bare 99", "<a href=", " >", 99, true},          {"href bare 100", "<a href=", " >", 100, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const bool image = c.opening.find("src") != std::string::npos;
        const std::string suffix = image ? ".gif" : ".html";
        const auto value = std::string(c.length - suffix.size(), 'v') + suffix;
        const auto listed = scan(c.opening + value + c.closing + "  trailing text");
        const auto& entries = image ? listed.images : listed.pages;
        EXPECT_EQ(entries, c.listed ? std::vector<std::string>{dir + value} : std::vector<std::string>{});
    }
}

TEST(PageScannerTest, PatternsFilterImagesOnly) {
    PatternSet include;
    include[2] = {"a*", "gif"};
    PatternSet exclude;
    exclude[1] = {"ab", "*"};
    const auto listed = scan(R"(<img src="img/a1.gif"><img src="b1.gif"><img src="a2.jpg"><img src="ab.gif">)"
                             R"(<a href="a3.gif"><a href="http://other/a4.GIF"><a href="b.html">)",
                             include, exclude);
    EXPECT_EQ(listed.images, (std::vector<std::string>{dir + "img/a1.gif", dir + "a3.gif", "http://other/a4.GIF"}));
    EXPECT_EQ(listed.pages, std::vector<std::string>{dir + "b.html"});
}

TEST(PageScannerTest, FullListsDropFurtherEntries) {
    RunLists lists;
    for (int i = 1; i < AddressList::capacity; ++i) {
        lists.images.append("http://host/i" + std::to_string(i) + ".gif");
        lists.pages.append("http://host/p" + std::to_string(i) + ".html");
    }
    scan_page_text(R"(<img src="a.gif"><img src="b.gif"><a href="a.html"><a href="b.html"><a href="c.gif">)",
                   page_address, {}, {}, lists);
    EXPECT_EQ(lists.images.count(), 9990);
    EXPECT_EQ(lists.images.at(9990), dir + "a.gif");
    EXPECT_FALSE(lists.images.contains(dir + "b.gif"));
    EXPECT_FALSE(lists.images.contains(dir + "c.gif"));
    EXPECT_EQ(lists.pages.count(), 9990);
    EXPECT_EQ(lists.pages.at(9990), dir + "a.html");
    EXPECT_FALSE(lists.pages.contains(dir + "b.html"));
}

TEST(PageScannerTest, AnalysePageFetchesTheTrimmedAddress) {
    FakeTransfer transfer;
    transfer.serve(page_address, R"(<a href="p.html"><a href="q.html"><img src="a.gif">)");
    RunLists lists;
    lists.pages.append(page_address); // the start page is already listed
    EXPECT_EQ(analyse_page(transfer, page_address + "  ", {}, {}, lists), scan_finished);
    EXPECT_EQ(transfer.fetched("text"), std::vector<std::string>{page_address});
    EXPECT_EQ(lists.pages.entries(), (std::vector<std::string>{page_address, dir + "q.html"}));
    EXPECT_EQ(lists.images.entries(), std::vector<std::string>{dir + "a.gif"});
}

TEST(PageScannerTest, AnalysePageOutcomes) {
    struct Case {
        std::string label;
        bool fails;
        std::string body;
        long status;
        int result;
        int pages, images;
    };
    const Case cases[] = {
        {"unreachable", true, "", 0, scan_stopped, 1, 0},
        {"empty page", false, "", 200, scan_finished, 1, 0},
        {"error page is scanned", false, R"(<a href="/"><img src="/404.gif">)", 404, scan_finished, 2, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        FakeTransfer transfer;
        if (c.fails)
            transfer.fail(page_address);
        else
            transfer.serve(page_address, c.body, c.status);
        RunLists lists;
        lists.pages.append(page_address);
        EXPECT_EQ(analyse_page(transfer, page_address, {}, {}, lists), c.result);
        EXPECT_EQ(lists.pages.count(), c.pages);
        EXPECT_EQ(lists.images.count(), c.images);
    }
    FakeTransfer nothing_served;
    RunLists lists;
    EXPECT_EQ(analyse_page(nothing_served, page_address, {}, {}, lists), scan_stopped);
}

} // namespace
