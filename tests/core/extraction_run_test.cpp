#include "engine/extraction_run.h"

#include "engine/run_observer.h"
#include "support/fake_transfer.h"
#include "support/temp_dir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

namespace {

/// Records everything a run shows, in order, as short event strings.
class RecordingObserver final : public RunObserver {
public:
    void show_status(const std::string& text) override {
        statuses.push_back(text);
        events.push_back("status:" + text);
    }
    void set_background(StatusBackground background) override {
        events.push_back(background == StatusBackground::busy ? "busy" : "idle");
    }
    void yield() override {
        ++yields;
        events.push_back("yield");
        if (on_yield)
            on_yield();
    }
    bool stop_requested() const override { return stop; }

    std::vector<std::string> statuses;
    std::vector<std::string> events;
    int yields = 0;
    bool stop = false;
    std::function<void()> on_yield;
};

/// A small GIF-like body, long enough never to be taken for an error page.
std::string image_bytes(char fill) { return "GIF89a" + std::string(2000, fill); }

std::string link(const std::string& href) { return "<a href=\"" + href + "\">lien</a>\n"; }
std::string img(const std::string& src) { return "<img src=\"" + src + "\" alt=\"\">\n"; }
std::string page(const std::string& body) { return "<html><body>\n" + body + "</body></html>\n"; }

class ExtractionRunTest : public ::testing::Test {
protected:
    ExtractionJob job(const std::string& start, int depth) {
        ExtractionJob result;
        result.title = "  Galerie ";
        result.start_address = start;
        result.depth = depth;
        result.existing_policy = 2;
        result.layout = 1;
        result.destination = destination.path();
        return result;
    }

    FakeTransfer transfer;
    RecordingObserver observer;
    ExtractionRun run{transfer, observer};
    TempDir destination;
};

TEST_F(ExtractionRunTest, DepthDecidesHowManyLevelsOfAChainAreScanned) {
    // p1 -> p2 -> ... -> p6, each page showing one image of its own.
    for (int n = 1; n <= 6; ++n) {
        const std::string name = "p" + std::to_string(n);
        transfer.serve("http://site/" + name + ".html",
                       page(img(name + ".gif") + link("p" + std::to_string(n + 1) + ".html")));
        transfer.serve("http://site/" + name + ".gif", image_bytes('a'));
    }
    for (int depth = 0; depth <= 4; ++depth) {
        SCOPED_TRACE("depth " + std::to_string(depth));
        transfer.calls.clear();
        ASSERT_EQ(run.run(job("http://site/p1.html", depth), RunMode::interactive), RunOutcome::completed);

        std::vector<std::string> expected_pages;
        for (int n = 1; n <= depth + 1; ++n)
            expected_pages.push_back("http://site/p" + std::to_string(n) + ".html");
        EXPECT_THAT(transfer.fetched("text"), ElementsAreArray(expected_pages));
        EXPECT_EQ(static_cast<int>(transfer.fetched("bytes").size()), depth + 1);
        EXPECT_EQ(run.counters().current_page, depth + 1);
        // The last level's links are listed but never visited.
        EXPECT_EQ(run.lists().pages.count(), depth + 2);
        EXPECT_EQ(run.counters().images_copied, depth + 1);
    }
}

TEST_F(ExtractionRunTest, LevelsAreScannedBreadthFirst) {
    transfer.serve("http://site/", page(link("a.html") + link("b.html")));
    transfer.serve("http://site/a.html", page(link("a1.html")));
    transfer.serve("http://site/b.html", page(link("b1.html")));
    transfer.serve("http://site/a1.html", page(""));
    transfer.serve("http://site/b1.html", page(""));

    run.run(job("http://site/", 2), RunMode::interactive);

    EXPECT_THAT(transfer.fetched("text"), ElementsAre("http://site/", "http://site/a.html", "http://site/b.html",
                                                      "http://site/a1.html", "http://site/b1.html"));
}

TEST_F(ExtractionRunTest, PagesAreListedOncePerSpelling) {
    // The start page linked back exactly is not listed again; the same page
    // written another way, or in other letter case, is another page.
    transfer.serve("http://site/dir/", page(link("http://site/dir/") + link("index.html") + link("INDEX.html")));
    transfer.serve("http://site/dir/index.html", page(link("/dir/")));
    transfer.serve("http://site/dir/INDEX.html", page(""));

    run.run(job("  http://site/dir/ ", 3), RunMode::interactive);

    EXPECT_THAT(transfer.fetched("text"),
                ElementsAre("http://site/dir/", "http://site/dir/index.html", "http://site/dir/INDEX.html"));
}

TEST_F(ExtractionRunTest, RepeatedImageIsCopiedOnceAndRetriedAfterAFailure) {
    transfer.serve("http://site/", page(img("a.gif") + img("a.gif") + img("b.gif") + img("b.gif") + img("b.gif")));
    transfer.serve("http://site/a.gif", image_bytes('a'));
    transfer.serve("http://site/b.gif", image_bytes('b'));
    transfer.fail_once("http://site/b.gif");

    run.run(job("http://site/", 0), RunMode::interactive);

    // a.gif once; b.gif failed, so its second entry is tried and succeeds,
    // and the third is then a repeat.
    EXPECT_THAT(transfer.fetched("bytes"), ElementsAre("http://site/a.gif", "http://site/b.gif", "http://site/b.gif"));
    EXPECT_EQ(run.counters().images_copied, 2);
    EXPECT_THAT(list_directory(destination.path()), ElementsAre("a.gif", "b.gif"));
    EXPECT_EQ(read_file(destination.file("b.gif")), image_bytes('b'));
}

TEST_F(ExtractionRunTest, InteractiveRunShowsCountersAndYieldsAfterEveryPageAndImage) {
    transfer.serve("http://site/", page(img("a.gif") + img("b.gif") + img("missing.gif") + link("p.html")));
    transfer.serve("http://site/p.html", page(""));
    transfer.serve("http://site/a.gif", image_bytes('a'));
    transfer.serve("http://site/b.gif", image_bytes('b'));

    run.run(job("http://site/", 1), RunMode::interactive);

    // The fake yields once inside each of its 5 fetches; the run itself
    // yields after the 2 pages and the 2 copied images, not after the failure.
    EXPECT_THAT(observer.statuses,
                ElementsAre("1 page visitée", "2 pages visitées", "1 image copiée", "2 images copiées"));
    EXPECT_EQ(observer.events.front(), "busy");
    EXPECT_EQ(observer.events.back(), "idle");
    EXPECT_EQ(observer.yields, 5 + 4);
}

TEST_F(ExtractionRunTest, ScheduledRunShowsTheTitleOnlyAndClearsIt) {
    transfer.serve("http://site/", page(img("a.gif")));
    transfer.serve("http://site/a.gif", image_bytes('a'));

    run.run(job("http://site/", 0), RunMode::scheduled);

    EXPECT_THAT(observer.statuses, ElementsAre("Récupère Galerie", ""));
    EXPECT_EQ(observer.events[0], "busy");
    EXPECT_EQ(observer.events[1], "status:Récupère Galerie");
    EXPECT_EQ(observer.events[2], "yield");
    const std::vector<std::string> end(observer.events.end() - 3, observer.events.end());
    EXPECT_THAT(end, ElementsAre("idle", "status:", "yield"));
    EXPECT_EQ(run.counters().images_copied, 1);
}

TEST_F(ExtractionRunTest, UnreachableStartVisitsOnePageAndCopiesNothing) {
    transfer.fail("http://site/");

    EXPECT_EQ(run.run(job("http://site/", 4), RunMode::interactive), RunOutcome::completed);

    EXPECT_THAT(observer.statuses, ElementsAre("1 page visitée"));
    EXPECT_THAT(transfer.fetched("bytes"), IsEmpty());
    EXPECT_EQ(observer.events.back(), "idle");
}

TEST_F(ExtractionRunTest, CredentialsAreSentOnlyAsAPair) {
    struct Case {
        std::string user, password, expected_user, expected_password;
    };
    const Case cases[] = {
        {"alice", "secret", "alice", "secret"},
        {"alice", "", "", ""},
        {"", "secret", "", ""},
        {"", "", "", ""},
    };
    transfer.serve("http://site/", page(""));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.user + "/" + c.password);
        transfer.credentials.clear();
        auto j = job(" http://site/ ", 0);
        j.user_name = c.user;
        j.password = c.password;
        run.run(j, RunMode::interactive);
        ASSERT_EQ(transfer.credentials.size(), 1u);
        EXPECT_EQ(transfer.credentials[0].user_name, c.expected_user);
        EXPECT_EQ(transfer.credentials[0].password, c.expected_password);
        // The site that may receive them is the trimmed start address's.
        EXPECT_EQ(transfer.credentials[0].start_address, "http://site/");
    }
}

TEST_F(ExtractionRunTest, ARequestDuringARunIsRefused) {
    transfer.serve("http://site/", page(img("a.gif")));
    transfer.serve("http://site/a.gif", image_bytes('a'));
    std::vector<RunOutcome> nested;
    observer.on_yield = [&] {
        if (nested.empty())
            nested.push_back(run.run(job("http://site/", 0), RunMode::interactive));
    };

    EXPECT_EQ(run.run(job("http://site/", 0), RunMode::interactive), RunOutcome::completed);

    EXPECT_THAT(nested, ElementsAre(RunOutcome::already_running));
    EXPECT_EQ(transfer.fetched("text").size(), 1u);
    EXPECT_FALSE(run.running());
}

TEST_F(ExtractionRunTest, AStopRequestEndsTheRunBeforeItsNextFetch) {
    transfer.serve("http://site/", page(img("a.gif") + link("p.html")));
    transfer.serve("http://site/p.html", page(""));
    transfer.serve("http://site/a.gif", image_bytes('a'));
    // The stop comes while the start page is being fetched.
    observer.on_yield = [&] { observer.stop = true; };

    EXPECT_EQ(run.run(job("http://site/", 2), RunMode::interactive), RunOutcome::stopped);

    EXPECT_THAT(transfer.fetched("text"), ElementsAre("http://site/"));
    EXPECT_THAT(transfer.fetched("bytes"), IsEmpty());
    EXPECT_THAT(list_directory(destination.path()), IsEmpty());
    EXPECT_EQ(observer.events.back(), "idle");
}

} // namespace
