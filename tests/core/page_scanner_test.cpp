#include "engine/page_scanner.h"

#include "support/fake_transfer.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

using namespace m_qmr;

const std::string here = "http://host/d/p.html";
// A value of n bytes ending in suffix.
const auto v = [](std::size_t n, const std::string& suffix) { return std::string(n - suffix.size(), 'v') + suffix; };

TEST(PageScannerTest, ListsImagesAndPagesOfTheSite) {
    // A page, then the images and pages it lists, under http://host/d/ unless absolute.
    using Names = std::vector<std::string>;
    const std::tuple<std::string, Names, Names> cases[] = {
        {R"(<IMG SRC="A.GIF"><A HREF='B.HTM'>x</A>)", {"A.GIF"}, {"B.HTM"}},
        {"<img data-src=a.gif alt=x><img src=b.gif>c d.gif >", {"a.gif", "b.gif"}, {}},
        {"<img src=x\r\ny.gif ><img src=a\tb.gif > text", {"xy.gif", "a\tb.gif"}, {}},
        {R"(<img src ='a.gif'><a href=""><img src=''><a href=><img src="my pic.gif"> and more)", {"my pic.gif"}, {}},
        // Values must end within 105 bytes of their keyword.
        {"<img src=\"" + v(99, ".gif") + "\"><img src=\"" + v(100, ".jpg") + "\"> text", {v(99, ".gif")}, {}},
        {"<a href=" + v(99, ".htm") + " ><a href=" + v(100, ".html") + " > text", {}, {v(99, ".htm")}},
        // With no end in reach the search goes on five bytes later.
        {"<img src=\"" + std::string(100, 'x') + " src=b.gif \"> more text", {"b.gif"}, {}},
        // A keyword in the last ten bytes ends its own pass only.
        {"src=a.gif xx", {"a.gif"}, {}},
        {"<a href=\"x.html\"><img src=b.gif>src=a.gif x", {"b.gif"}, {"x.html"}},
        {R"(<a href="#top"><a href="p.htm#x"><a href="i.jpg#big"><a href="r.cgi?x=1"> text)", {"i.jpg"}, {"p.htm"}},
        {R"(<a href="mailto:m"><a href=MAILTO:m ><a href=e#f.cgi ><a href=d.CGI >)", {}, {"MAILTO:m", "e", "d.CGI"}},
        {R"(<img src=IMG.JPEG ><frame src="f.php"><frame src=h.asp > text)", {"IMG.JPEG"}, {"f.php"}},
        {R"(<a href="y.gif?s=2"><a href="setup.exe"><a href=sub/ > text)", {}, {"y.gif?s=2", "sub/"}},
        {R"(<img src="http://o/x.gif"><a href="http://o/p"><a href="/u"> text)", {"http://o/x.gif"}, {"http://host/u"}},
        {R"(<a href="a.gif"><img src="a.gif"><img src="a.gif"><a href="./a.gif"> text)", {"a.gif", "a.gif"}, {}},
        {R"(<a href="q.html"><frame src="q.html"><a href="./q.html"> text)", {}, {"q.html"}},
        {"<img src=zz1.gif ><a href=zz2.jpg ><a href=zz3.html > text", {}, {"zz3.html"}}, // "zz*" excluded: images only
    };
    const auto absolute = [](Names names) {
        for (auto& name : names)
            name = name.starts_with("http") ? name : "http://host/d/" + name;
        return names;
    };
    for (const auto& [page, images, pages] : cases) {
        SCOPED_TRACE(page);
        RunLists lists;
        scan_page_text(page, here, {}, {{{"zz*", "*"}}}, lists);
        EXPECT_EQ(lists.images.entries(), absolute(images));
        EXPECT_EQ(lists.pages.entries(), absolute(pages));
    }
}

TEST(PageScannerTest, FullListsDropFurtherEntries) {
    RunLists lists;
    for (auto* list : {&lists.images, &lists.pages})
        for (int i = 1; i < 9990; ++i)
            list->append("http://host/" + std::to_string(i));
    scan_page_text("<img src=a.gif ><img src=b.gif ><a href=a.htm ><a href=b.htm > ", here, {}, {}, lists);
    EXPECT_EQ(lists.images.entries().back(), "http://host/d/a.gif");
    EXPECT_EQ(lists.pages.entries().back(), "http://host/d/a.htm");
}

TEST(PageScannerTest, AnalysePageScansAnyFetchedBody) {
    FakeTransfer transfer; // serving nothing yet: the fetch fails
    RunLists lists;
    EXPECT_EQ(analyse_page(transfer, here, {}, {}, lists), scan_stopped);
    transfer.serve(here, R"(<a href="/"><a href="p.html"><img src="/404.gif">)", 404);
    lists.pages.append(here); // the page itself is listed already
    EXPECT_EQ(analyse_page(transfer, here + "  ", {}, {}, lists), scan_finished);
    EXPECT_EQ(lists.pages.entries(), (std::vector<std::string>{here, "http://host/"}));
    EXPECT_EQ(lists.images.entries(), std::vector<std::string>{"http://host/404.gif"});
}
