// The engine layer: the page scanner, and runs on a scripted transfer.
#include "engine/extraction_run.h"
#include "engine/page_scanner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <tuple>
#include <utility>

#include "engine/run_observer.h"
#include "store/database.h"
#include "store/image_memory.h"
#include "store/image_store.h"
#include "support/fake_transfer.h"
#include "support/temp_dir.h"

using namespace m_qmr;
using ::testing::Contains;
using ::testing::ElementsAre;

namespace {

const std::string here = "http://host/d/p.html";
// A value of n bytes ending in suffix.
const auto v = [](std::size_t n, const std::string& suffix) { return std::string(n - suffix.size(), 'v') + suffix; };
using Names = std::vector<std::string>;
// Names under http://host/d/ unless absolute.
const auto absolute = [](Names names) {
    for (auto& name : names)
        name = name.starts_with("http") ? name : "http://host/d/" + name;
    return names;
};

TEST(PageScannerTest, ListsImagesAndPagesOfTheSite) {
    // A page, then the images and pages it lists.
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
    for (const auto& [page, images, pages] : cases) {
        SCOPED_TRACE(page);
        RunLists lists;
        scan_page_text(page, here, {}, {{{"zz*", "*"}}}, lists);
        EXPECT_EQ(lists.images.entries(), absolute(images));
        EXPECT_EQ(lists.pages.entries(), absolute(pages));
    }
}

TEST(PageScannerTest, TodaysImagesOnlyWithEveryFormat) {
    // A page; the images it lists without and with every image format, and the pages with it, between spaces.
    const std::array<std::string, 4> cases[] = {
        {R"(<img src="a.jpg" srcset="a.jpg 480w, b.jpg 1080w,c.jpg 800w">)", "a.jpg", "a.jpg b.jpg", ""},
        {R"(<img srcset="s.png 1x, t.png 2.5x, u.png 3e0x, w.png 9.x"><img srcset="n1.webp, n2.webp">)"
         R"(<img srcset="m1.gif .5x, m2.gif">)",
         "", "u.png n2.webp m2.gif", ""},
        {R"(<picture><source srcset="https://i/c_fill,w_2/big.avif 2x,https://i/c_fill,w_1/s.avif">)", "",
         "https://i/c_fill,w_2/big.avif", ""},
        {R"(<img data-src="lazy.png" data-srcset="l1.jpg 100w,l2.jpg 200w (x, l9.jpg 900w ,),l3.jpg 300h">)", "",
         "lazy.png l1.jpg", ""},
        {"<img src=\"" + v(300, ".jpg") + "\"><a href=\"" + v(300, ".html") + "\"> text", "", v(300, ".jpg"),
         v(300, ".html")},
        {"<img src='" + v(2048, ".png") + "'><img src=" + v(2049, ".png") + " >", "", v(2048, ".png"), ""},
        {R"(<img src="photo.jpg?w=1200"><img src="zz.png?x=1"><img src="A.PNG"><img src=B.WebP >)", "",
         "photo.jpg?w=1200 A.PNG B.WebP", ""},
        {R"-(<b style="background:url(u1.png)"><i style='x:url("u2.svg")'><i style="x:url(&quot;u3.avif&quot;)">)-"
         R"-(<STYLE>.a{background:URL( 'u4.gif' )} .b{background:url(u1.png)}</style><p>url(t.png)</p>)-",
         "", "u1.png u2.svg u3.avif u4.gif", ""},
        {R"(<meta property="og:image" content="https://o/og.png"><meta name=twitter:image content=tw.jpg>)"
         R"(<meta name="description" content="d.png">)",
         "", "https://o/og.png tw.jpg", ""},
        {R"(<a href="big.png">x</a><a href="image.png.html"><p style="color:red">)", "", "big.png", "image.png.html"},
    };
    const auto listed = [](const std::string& names) {
        Names split;
        std::istringstream words(names);
        for (std::string word; words >> word;)
            split.push_back(word);
        return absolute(split);
    };
    for (const auto& [page, off, on, pages] : cases)
        for (const bool all_formats : {false, true}) {
            SCOPED_TRACE(page.substr(0, 120) + (all_formats ? " with every format" : ""));
            RunLists lists;
            scan_page_text(page, here, {}, {{{"zz*", "png"}}}, lists, all_formats);
            EXPECT_EQ(lists.images.entries(), listed(all_formats ? on : off));
            if (all_formats) {
                EXPECT_EQ(lists.pages.entries(), listed(pages));
            }
        }
    // A style sheet, fetched as a page through its link, is style throughout; those it imports are pages.
    RunLists sheet;
    scan_page_text(R"(@import url("i.css");a{background:url(x.png)} b{x:url('../y.svg')})", "http://host/d/s.CSS?v=2",
                   {}, {}, sheet, true);
    EXPECT_EQ(sheet.images.entries(), absolute({"x.png", "http://host/y.svg"}));
    EXPECT_EQ(sheet.pages.entries(), absolute({"i.css"}));
}

// A page's body is scanned whatever its status, into lists that take nothing beyond their cap.
TEST(PageScannerTest, AnalysePageScansAnyFetchedBodyUpToTheListsCap) {
    FakeTransfer transfer; // serving nothing yet: the fetch fails
    RunLists lists;
    EXPECT_EQ(analyse_page(transfer, here, {}, {}, lists), scan_stopped);
    for (auto* list : {&lists.images, &lists.pages})
        for (int i = 1; i < 9990; ++i)
            list->append("http://host/" + std::to_string(i));
    transfer.serve(here, "<img src=a.gif ><img src=b.gif ><a href=a.htm ><a href=b.htm > ", 404);
    EXPECT_EQ(analyse_page(transfer, here + "  ", {}, {}, lists), scan_finished);
    EXPECT_EQ(lists.images.entries().back(), "http://host/d/a.gif");
    EXPECT_EQ(lists.pages.entries().back(), "http://host/d/a.htm");
}

/// Records what a run shows: every event in order ("busy", "idle", "yield" or the text), and the texts alone.
class RecordingObserver final : public RunObserver {
public:
    void show_status(const std::string& text) override {
        events.push_back(text);
        texts.push_back(text);
    }
    void set_background(StatusBackground b) override {
        events.push_back(b == StatusBackground::busy ? "busy" : "idle");
    }
    void yield() override {
        events.push_back("yield");
        if (on_yield)
            on_yield();
    }
    bool stop_requested() const override { return stop; }

    std::vector<std::string> events, texts;
    std::function<void()> on_yield;
    bool stop = false;
};

const std::string image = "GIF89a image"; // nothing an error page would hold
const auto link = [](const std::string& href) { return "<a href=\"" + href + "\">lien</a>\n"; };
const auto img = [](const std::string& src) { return "<img src=\"" + src + "\">\n"; };

class ExtractionRunTest : public ::testing::Test {
protected:
    // Title, start address, depth, user, password, policy, destination, layout, include and exclude patterns.
    ExtractionJob job(int depth, ExistingPolicy policy = replace_existing, Layout layout = flat_layout) {
        return {"  Galerie ", " http://site/ ", depth, "", "", policy, destination.path(), layout, {}, {}};
    }

    FakeTransfer transfer;
    RecordingObserver observer;
    NoImageMemory memory;
    ExtractionRun run{transfer, observer, memory};
    TempDir destination;
};

TEST_F(ExtractionRunTest, DepthDecidesHowManyLevelsAreScannedBreadthFirst) {
    // Two branches, three levels deep; "/" links back to itself, "A.html" is another page.
    transfer.serve("http://site/", link("http://site/") + link("a.html") + link("b.html") + link("A.html"));
    transfer.serve("http://site/a.html", link("a1.html"));
    transfer.serve("http://site/b.html", link("b1.html") + link("/"));
    transfer.serve("http://site/a1.html", link("a2.html"));
    transfer.serve("http://site/b1.html", "");
    const std::vector<std::vector<std::string>> expected = {
        {"/"}, {"/", "a", "b", "A"}, {"/", "a", "b", "A", "a1", "b1"}, {"/", "a", "b", "A", "a1", "b1", "a2"}};
    for (int depth = 0; depth < 4; ++depth) {
        SCOPED_TRACE(depth);
        transfer.pages_fetched.clear();
        run.run(job(depth), RunMode::interactive);
        std::vector<std::string> scanned;
        for (const auto& address : transfer.pages_fetched)
            scanned.push_back(address == "http://site/" ? "/" : address.substr(12, address.size() - 17));
        EXPECT_EQ(scanned, expected[depth]);
    }
}

// Scheduled, a run shows its title, then nothing; the window is served meanwhile.
TEST_F(ExtractionRunTest, WhatAScheduledRunShows) {
    run.run(job(0), RunMode::scheduled);
    EXPECT_THAT(observer.events, Contains("yield"));
    std::erase(observer.events, "yield");
    EXPECT_THAT(observer.events, ElementsAre("busy", "Récupère Galerie", "idle", ""));
}

TEST_F(ExtractionRunTest, CredentialsGoAsAPair) {
    for (const auto& [user, password] : {std::pair{"alice", "secret"}, {"alice", ""}, {"", "secret"}}) {
        ExtractionJob j = job(4);
        j.user_name = user;
        j.password = password;
        EXPECT_EQ(run.run(j, RunMode::interactive), RunOutcome::completed);
    }
    EXPECT_THAT(transfer.credentials, ElementsAre("alice:secret@http://site/", ":@http://site/", ":@http://site/"));
}

// In any order of answers, a run gives the files, requests, texts and counts of copy_image called entry by entry, a
// first time and a next, an entry skipped after an equal one was written or found unchanged, tried again otherwise.
TEST_F(ExtractionRunTest, AnswersInAnyOrderGiveWhatOneFetchAfterTheOtherGives) {
    // b/3.gif fails first, and its repeat is fetched while six others are.
    std::string start = link("p.html") + link("q.html") + img("b/3.gif") + img("b/3.gif");
    for (int i = 0; i < 12; ++i) // same names in two folders, repeats, failures and error pages
        start += img("a/" + std::to_string(i % 7) + ".gif") + img("b/" + std::to_string(i % 5) + ".gif");
    // A file and a folder of the same name, in both orders; a folder where every image fails.
    for (const std::string name : {"k/a.gif", "k/a.gif/b.gif", "m/b.gif/c.gif", "m/b.gif"}) {
        start += img(name);
        transfer.serve("http://site/" + name, image + name);
    }
    transfer.serve("http://site/", start + img("c/missing.gif") + img("c/err.gif") + img("a/3.gif"));
    transfer.serve("http://site/p.html", img("a/1.gif") + img("p.gif") + link("q.html"));
    transfer.serve("http://site/q.html", img("b/4.gif") + img("p.gif"));
    for (int i = 0; i < 7; ++i)
        for (const std::string folder : {"a", "b"})
            transfer.serve("http://site/" + folder + "/" + std::to_string(i) + ".gif",
                           image + folder + std::to_string(i));
    transfer.serve("http://site/p.gif", image + "p");
    transfer.serve("http://site/c/err.gif", "<html>404</html>");
    for (const ExistingPolicy policy : {leave_existing, replace_existing, new_version})
        for (const Layout layout : {flat_layout, tree_layout}) {
            SCOPED_TRACE("policy " + std::to_string(policy) + ", layout " + std::to_string(layout));
            // In order, out of order, one after the other: the files, the sorted requests, the images unchanged.
            std::vector<std::tuple<std::map<std::string, std::string>, std::vector<std::string>, int>> results;
            std::vector<std::vector<std::string>> texts; // of the two runs, with their counters
            std::vector<std::string> entries;
            for (const int way : {1, 2, 0}) {
                const TempDir folder, data;
                OpenedDatabase opened = open_data_database(data.path() + "/");
                const std::unique_ptr<ImageMemory> remembered = image_memory_in(opened);
                ExtractionRun remembering{transfer, observer, *remembered};
                write_file(folder.file("2.gif"), "OLD"); // already present under the flat layout
                transfer.newest_first = way == 2;
                transfer.images_fetched.clear();
                int unchanged = 0;
                // The second time, one image changed on the site.
                for (const std::string a4 : {"a4", "a4 changed"}) {
                    transfer.serve("http://site/a/4.gif", image + a4);
                    if (a4 == "a4")
                        transfer.fail_once("http://site/b/3.gif"); // its later repeats are tried again
                    ExtractionJob j = job(1, policy, layout);
                    j.destination = folder.path();
                    if (way != 0) {
                        observer.texts.clear();
                        EXPECT_EQ(remembering.run(j, RunMode::interactive), RunOutcome::completed);
                        texts.push_back(observer.texts);
                        unchanged += remembering.counters().images_unchanged;
                        entries = remembering.lists().images.entries();
                        continue;
                    }
                    std::set<std::string> done;
                    for (const auto& address : entries) {
                        if (done.contains(address))
                            continue;
                        const ImageCopy copy =
                            copy_image(transfer, address, folder.path(), policy, layout, *remembered);
                        if (copy.result == image_written || copy.unchanged)
                            done.insert(address);
                        unchanged += copy.unchanged;
                    }
                }
                results.push_back({files_under(folder.path()), transfer.images_fetched, unchanged});
                std::sort(std::get<1>(results.back()).begin(), std::get<1>(results.back()).end());
            }
            EXPECT_EQ(results[0], results[2]);
            EXPECT_EQ(results[1], results[2]);
            EXPECT_EQ(texts[0], texts[2]);
            EXPECT_EQ(texts[1], texts[3]);
        }
    EXPECT_EQ(transfer.most_in_flight, max_fetches_in_flight);
}

// During a run another is refused, and a stop ends it before its next fetch: in the crawl nothing more is asked
// for; in a burst of image fetches all are cancelled, leaving whole images only and no empty folder (two in each).
TEST_F(ExtractionRunTest, DuringARunAnotherIsRefusedAndAStopEndsItBeforeItsNextFetch) {
    std::string page = link("p.html");
    for (int i = 0; i < 20; ++i) {
        const std::string name = 'd' + std::to_string(i / 2) + "/" + std::to_string(i) + ".gif";
        page += img(name);
        transfer.serve("http://site/" + name, image);
    }
    transfer.serve("http://site/", page);
    transfer.newest_first = true;
    int yields = 0, stop_at = 2; // the first yield comes inside the start page's fetch, the second after its scan
    std::vector<RunOutcome> nested;
    observer.on_yield = [&] {
        if (nested.empty())
            nested.push_back(run.run(job(0), RunMode::interactive));
        observer.stop = ++yields == stop_at;
    };
    EXPECT_EQ(run.run(job(1, replace_existing, tree_layout), RunMode::interactive), RunOutcome::stopped);
    EXPECT_THAT(nested, ElementsAre(RunOutcome::already_running));
    EXPECT_THAT(transfer.pages_fetched, ElementsAre("http://site/"));
    EXPECT_TRUE(transfer.images_fetched.empty());
    EXPECT_EQ(observer.events.back(), "idle");
    yields = 0;
    stop_at = 12;
    observer.stop = false;
    EXPECT_EQ(run.run(job(1, replace_existing, tree_layout), RunMode::interactive), RunOutcome::stopped);
    const auto kept = files_under(destination.path());
    for (const auto& [path, content] : kept)
        EXPECT_TRUE(path.ends_with(".gif") && content == image) << path << ": " << content;
    EXPECT_GT(kept.size(), 0u);
    EXPECT_LT(kept.size(), 20u);
    EXPECT_FALSE(transfer.wait_for_any()) << "nothing left in flight";
}

} // namespace
