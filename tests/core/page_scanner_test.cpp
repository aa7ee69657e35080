#include "engine/page_scanner.h"

#include "support/fake_transfer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace m_qmr;

namespace {

const std::string here = "http://host/d/p.html";
// A value of n bytes ending in suffix.
const auto v = [](std::size_t n, const std::string& suffix) { return std::string(n - suffix.size(), 'v') + suffix; };

TEST(PageScannerTest, ListsImagesAndPagesOfTheSite) {
    struct Case {
        std::string page;
        std::vector<std::string> images, pages; // under http://host/d/ unless absolute
    };
    const Case cases[] = {
        {R"(<IMG SRC="A.GIF"><A HREF='B.HTM'>x</A>)", {"A.GIF"}, {"B.HTM"}},
        {"<img data-src=a.gif alt=x><img src=b.gif>c d.gif >", {"a.gif", "b.gif"}, {}},
        {"<img src=x\r\ny.gif ><img src=a\tb.gif > text", {"xy.gif", "a\tb.gif"}, {}},
        {R"(<img src ='a.gif'><a href=""><img src=''><a href=><img src="my pic.gif"> and more)", {"my pic.gif"}, {}},
        // Quoted values reach 99 bytes and bare ones 100 after src=, one byte less after href=.
        {"<img src=\"" + v(99, ".gif") + "\"><img src=\"" + v(100, ".jpg") + "\"> text", {v(99, ".gif")}, {}},
        {"<img src=" + v(100, ".gif") + "><img src=" + v(101, ".jpg") + "> text", {v(100, ".gif")}, {}},
        {"<a href=\"" + v(98, ".htm") + "\"><a href=\"" + v(99, ".html") + "\"> text", {}, {v(98, ".htm")}},
        {"<a href=" + v(99, ".htm") + " ><a href=" + v(100, ".html") + " > text", {}, {v(99, ".htm")}},
        // With no end in reach the search goes on five bytes later.
        {"<img src=\"" + std::string(100, 'x') + " src=b.gif \"> more text", {"b.gif"}, {}},
        // A keyword in the last ten bytes ends its own pass only.
        {"src=a.gif xx", {"a.gif"}, {}},
        {"<a href=\"x.html\"><img src=b.gif>src=a.gif x", {"b.gif"}, {"x.html"}},
        {R"(<a href="#top"><a href="p.htm#x"><a href="i.jpg#big"><a href="r.cgi?x=1"> text)", {"i.jpg"}, {"p.htm"}},
        {R"(<a href="mailto:m"><a href=MAILTO:m ><a href=e#f.cgi ><a href=d.CGI >)", {}, {"MAILTO:m", "e", "d.CGI"}},
        {R"(<img src=IMG.JPEG ><frame src="f.php"><frame src=h.asp ><script src=s.js > text)", {"IMG.JPEG"}, {"f.php"}},
        {R"(<a href="y.gif?s=2"><a href="setup.exe"><a href=sub/ > text)", {}, {"y.gif?s=2", "sub/"}},
        {R"(<img src="http://other/x.gif"><a href="http://other/p.html"> text)", {"http://other/x.gif"}, {}},
        {R"(<a href="https://host/q"><a href="//cdn/s.html"><a href="/up.html"> text)", {}, {"http://host/up.html"}},
        {R"(<a href="a.gif"><img src="a.gif"><img src="a.gif"><a href="./a.gif"> text)", {"a.gif", "a.gif"}, {}},
        {R"(<a href="q.html"><frame src="q.html"><a href="./q.html"> text)", {}, {"q.html"}},
        {"<img src=zz1.gif ><a href=zz2.jpg ><a href=zz3.html > text", {}, {"zz3.html"}}, // "zz*" excluded: images only
    };
    const auto absolute = [](std::vector<std::string> names) {
        for (auto& name : names)
            name = name.starts_with("http") ? name : "http://host/d/" + name;
        return names;
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.page);
        RunLists lists;
        scan_page_text(c.page, here, {}, {{{"zz*", "*"}}}, lists);
        EXPECT_EQ(lists.images.entries(), absolute(c.images));
        EXPECT_EQ(lists.pages.entries(), absolute(c.pages));
    }
}

TEST(PageScannerTest, FullListsDropFurtherEntries) {
    RunLists lists;
    for (int i = 1; i < 9990; ++i) {
        lists.images.append("http://host/i" + std::to_string(i) + ".gif");
        lists.pages.append("http://host/p" + std::to_string(i) + ".html");
    }
    scan_page_text("<img src=a.gif ><img src=b.gif ><a href=a.htm ><a href=b.htm > ", here, {}, {}, lists);
    EXPECT_EQ(lists.images.entries().back(), "http://host/d/a.gif");
    EXPECT_EQ(lists.pages.entries().back(), "http://host/d/a.htm");
}

TEST(PageScannerTest, AnalysePageScansAnyFetchedBody) {
    for (const long status : {0L, 404L}) { // 0: the fetch fails
        SCOPED_TRACE(status);
        FakeTransfer transfer;
        if (status == 0)
            transfer.fail(here);
        else
            transfer.serve(here, R"(<a href="/"><a href="p.html"><img src="/404.gif">)", status);
        RunLists lists;
        lists.pages.append(here); // the page itself is listed already
        EXPECT_EQ(analyse_page(transfer, here + "  ", {}, {}, lists), status ? scan_finished : scan_stopped);
        EXPECT_EQ(lists.pages.count(), status ? 2 : 1);
        EXPECT_EQ(lists.images.count(), status ? 1 : 0);
    }
}

} // namespace
