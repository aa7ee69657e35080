#include "engine/extraction_run.h"

#include "engine/run_observer.h"
#include "support/fake_transfer.h"
#include "support/temp_dir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

/// Records what a run shows, in order: "busy", "idle", "yield", or the text.
class RecordingObserver final : public RunObserver {
public:
    void show_status(const std::string& text) override { events.push_back(text); }
    void set_background(StatusBackground b) override {
        events.push_back(b == StatusBackground::busy ? "busy" : "idle");
    }
    void yield() override {
        events.push_back("yield");
        if (on_yield)
            on_yield();
    }
    bool stop_requested() const override { return stop; }

    std::vector<std::string> events;
    std::function<void()> on_yield;
    bool stop = false;
};

const std::string image = "GIF89a" + std::string(2000, 'x'); // too long to pass for an error page

std::string link(const std::string& href) {
    return "<a href=\"" + href + "\">lien</a>\n";
}
std::string img(const std::string& src) {
    return "<img src=\"" + src + "\">\n";
}

class ExtractionRunTest : public ::testing::Test {
protected:
    ExtractionJob job(int depth) {
        ExtractionJob j;
        j.title = "  Galerie ";
        j.start_address = " http://site/ ";
        j.depth = depth;
        j.existing_policy = 2;
        j.layout = 1;
        j.destination = destination.path();
        return j;
    }
    std::vector<std::string> texts() const {
        std::vector<std::string> result;
        for (const auto& e : observer.events)
            if (e != "busy" && e != "idle" && e != "yield")
                result.push_back(e);
        return result;
    }

    FakeTransfer transfer;
    RecordingObserver observer;
    ExtractionRun run{transfer, observer};
    TempDir destination;
};

TEST_F(ExtractionRunTest, DepthDecidesHowManyLevelsAreScannedBreadthFirst) {
    // Two branches, three levels deep; "/" links back to itself, and "A.html"
    // is another spelling, so another page.
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
        EXPECT_EQ(run.counters().current_page, static_cast<int>(expected[depth].size()));
    }
}

TEST_F(ExtractionRunTest, RepeatedImageIsCopiedOnceAndRetriedAfterAFailure) {
    transfer.serve("http://site/", img("a.gif") + img("a.gif") + img("b.gif") + img("b.gif") + img("b.gif"));
    transfer.serve("http://site/a.gif", image);
    transfer.serve("http://site/b.gif", image);
    transfer.fail_once("http://site/b.gif");

    run.run(job(0), RunMode::interactive);

    // b.gif failed, so its second entry is tried; the third is a repeat.
    EXPECT_THAT(transfer.images_fetched, ElementsAre("http://site/a.gif", "http://site/b.gif", "http://site/b.gif"));
    EXPECT_THAT(list_directory(destination.path()), ElementsAre("a.gif", "b.gif"));
}

TEST_F(ExtractionRunTest, WhatEachModeShows) {
    transfer.serve("http://site/", img("a.gif") + img("b.gif") + img("missing.gif") + link("p.html"));
    transfer.serve("http://site/p.html", "");
    transfer.serve("http://site/a.gif", image);
    transfer.serve("http://site/b.gif", image);

    run.run(job(1), RunMode::interactive);
    EXPECT_THAT(texts(), ElementsAre("1 page visitée", "2 pages visitées", "1 image copiée", "2 images copiées"));
    // One yield inside each of the 5 fetches, one after each page and copied image.
    EXPECT_EQ(std::count(observer.events.begin(), observer.events.end(), "yield"), 5 + 4);
    EXPECT_EQ(observer.events.front(), "busy");
    EXPECT_EQ(observer.events.back(), "idle");

    observer.events.clear();
    run.run(job(0), RunMode::scheduled);
    EXPECT_THAT(texts(), ElementsAre("Récupère Galerie", ""));
    EXPECT_THAT(std::vector(observer.events.begin(), observer.events.begin() + 3),
                ElementsAre("busy", "Récupère Galerie", "yield"));
    EXPECT_THAT(std::vector(observer.events.end() - 3, observer.events.end()), ElementsAre("idle", "", "yield"));
}

TEST_F(ExtractionRunTest, CredentialsGoAsAPairAndAnUnreachableStartIsOnePageVisited) {
    for (const auto& [user, password, sent] : std::vector<std::array<std::string, 3>>{
             {"alice", "secret", "alice:secret"}, {"alice", "", ":"}, {"", "secret", ":"}}) {
        SCOPED_TRACE(sent);
        transfer.credentials.clear();
        observer.events.clear();
        auto j = job(4);
        j.user_name = user;
        j.password = password;
        EXPECT_EQ(run.run(j, RunMode::interactive), RunOutcome::completed);
        EXPECT_THAT(transfer.credentials, ElementsAre(sent + "@http://site/"));
        EXPECT_THAT(texts(), ElementsAre("1 page visitée"));
        EXPECT_EQ(observer.events.back(), "idle");
    }
}

TEST_F(ExtractionRunTest, CountsWhatFailedByKind) {
    transfer.serve("http://site/", img("a.gif") + img("gone.gif") + img("error.gif") + img("lost.gif") +
                                       link("p.html") + link("q.html") + link("r.html"));
    transfer.serve("http://site/p.html", "", 404);
    transfer.fail("http://site/q.html");
    transfer.serve("http://site/r.html", "");
    transfer.serve("http://site/a.gif", image);
    transfer.serve("http://site/gone.gif", image, 410);
    transfer.serve("http://site/error.gif", "<html>");
    auto j = job(1);
    run.run(j, RunMode::interactive);
    const RunCounters& c = run.counters();
    EXPECT_EQ(std::tuple(c.failed_pages.network, c.failed_pages.server, c.failed_pages.disk), std::tuple(1, 1, 0));
    EXPECT_EQ(std::tuple(c.failed_images.network, c.failed_images.server, c.failed_images.disk), std::tuple(1, 2, 0));
    EXPECT_FALSE(c.start_page_failed);

    j.destination = destination.file("a.gif/under a file"); // no folder can be made there
    run.run(j, RunMode::interactive);
    EXPECT_EQ(run.counters().failed_images.disk, 4);
    transfer.serve("http://site/", "", 500);
    run.run(j, RunMode::interactive);
    EXPECT_TRUE(run.counters().start_page_failed);
}

TEST_F(ExtractionRunTest, ARunRequestedDuringARunIsRefused) {
    transfer.serve("http://site/", "");
    std::vector<RunOutcome> nested;
    observer.on_yield = [&] {
        if (nested.empty())
            nested.push_back(run.run(job(0), RunMode::interactive));
    };
    EXPECT_EQ(run.run(job(0), RunMode::interactive), RunOutcome::completed);
    EXPECT_THAT(nested, ElementsAre(RunOutcome::already_running));
    EXPECT_EQ(transfer.pages_fetched.size(), 1u);
}

TEST_F(ExtractionRunTest, AStopEndsTheRunBeforeItsNextFetch) {
    transfer.serve("http://site/", img("a.gif") + link("p.html"));
    transfer.serve("http://site/a.gif", image);
    // The first yield comes inside the start page's fetch, the second after its scan.
    int yields = 0;
    observer.on_yield = [&] { observer.stop = ++yields == 2; };

    EXPECT_EQ(run.run(job(2), RunMode::interactive), RunOutcome::stopped);
    EXPECT_THAT(transfer.pages_fetched, ElementsAre("http://site/"));
    EXPECT_THAT(transfer.images_fetched, IsEmpty());
    EXPECT_EQ(observer.events.back(), "idle");
}

} // namespace
