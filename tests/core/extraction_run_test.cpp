#include "engine/extraction_run.h"

#include "engine/run_observer.h"
#include "store/image_store.h"
#include "support/fake_transfer.h"
#include "support/temp_dir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <set>

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
    // lost.gif is tried twice, and counted once.
    transfer.serve("http://site/", img("a.gif") + img("gone.gif") + img("error.gif") + img("lost.gif") +
                                       img("lost.gif") + link("p.html") + link("q.html") + link("r.html"));
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

// Everything under a folder, by relative path: "/" for a folder, else the
// size and the last bytes of the file, which tell the test's images apart.
std::map<std::string, std::string> tree_of(const std::string& folder) {
    std::map<std::string, std::string> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        const std::string content = entry.is_directory() ? "/" : read_file(entry.path());
        found[entry.path().lexically_relative(folder).string()] =
            std::to_string(content.size()) + content.substr(content.size() < 3 ? 0 : content.size() - 3);
    }
    return found;
}

// Whatever order the answers come in, a run gives what one fetch after the
// other gives: the same files under the same names, the same texts, the same
// requests. The reference is copie_image called entry by entry, with the
// repeat rule: an entry is skipped after an equal one was written.
TEST_F(ExtractionRunTest, AnswersInAnyOrderGiveWhatOneFetchAfterTheOtherGives) {
    std::string start = link("p.html") + link("q.html");
    for (int i = 0; i < 12; ++i) // same names in two folders, repeats, failures and error pages
        start += img("a/" + std::to_string(i % 7) + ".gif") + img("b/" + std::to_string(i % 5) + ".gif");
    transfer.serve("http://site/", start + img("a/missing.gif") + img("b/err.gif") + img("a/3.gif"));
    transfer.serve("http://site/p.html", img("a/1.gif") + img("p.gif") + link("q.html"));
    transfer.serve("http://site/q.html", img("b/4.gif") + img("p.gif"));
    for (int i = 0; i < 7; ++i)
        transfer.serve("http://site/a/" + std::to_string(i) + ".gif", image + "a" + std::to_string(i));
    for (int i = 0; i < 5; ++i)
        transfer.serve("http://site/b/" + std::to_string(i) + ".gif", image + "b" + std::to_string(i));
    transfer.serve("http://site/p.gif", image + "p");
    transfer.serve("http://site/b/err.gif", "<html>404</html>");
    for (const int policy : {leave_existing, replace_existing, new_version})
        for (const int layout : {flat_layout, tree_layout}) {
            SCOPED_TRACE("policy " + std::to_string(policy) + ", layout " + std::to_string(layout));
            std::vector<std::map<std::string, std::string>> trees;
            std::vector<std::vector<std::string>> requests;
            for (const int way : {1, 2, 0}) { // in order, out of order, one after the other
                const TempDir folder;
                write_file(folder.file("2.gif"), "OLD"); // already present under the flat layout
                transfer.newest_first = way == 2;
                transfer.fail_once("http://site/b/3.gif"); // its later repeats are tried again
                transfer.images_fetched.clear();
                auto j = job(1);
                j.existing_policy = policy;
                j.layout = layout;
                j.destination = folder.path();
                if (way == 0) {
                    std::set<std::string> written;
                    for (const auto& address : run.lists().images.entries())
                        if (!written.contains(address))
                            written.insert(m_qmr::copie_image(transfer, address, j.destination, policy, layout) == 1
                                               ? address
                                               : "");
                } else {
                    EXPECT_EQ(run.run(j, RunMode::interactive), RunOutcome::completed);
                }
                trees.push_back(tree_of(folder.path()));
                requests.push_back(transfer.images_fetched);
                std::sort(requests.back().begin(), requests.back().end());
            }
            EXPECT_EQ(trees[0], trees[2]);
            EXPECT_EQ(trees[1], trees[2]);
            EXPECT_EQ(requests[0], requests[2]);
            EXPECT_EQ(requests[1], requests[2]);
        }
    EXPECT_EQ(transfer.most_in_flight, max_fetches_in_flight);
}

TEST_F(ExtractionRunTest, AStopDuringABurstCancelsEveryFetchAndLeavesNoTemporaryFile) {
    std::string page;
    for (int i = 0; i < 20; ++i) {
        page += img("d" + std::to_string(i) + "/" + std::to_string(i) + ".gif");
        transfer.serve("http://site/d" + std::to_string(i) + "/" + std::to_string(i) + ".gif", image);
    }
    transfer.serve("http://site/", page);
    transfer.newest_first = true;
    int yields = 0;
    observer.on_yield = [&] { observer.stop = ++yields == 6; };
    auto j = job(0);
    j.layout = tree_layout;
    EXPECT_EQ(run.run(j, RunMode::interactive), RunOutcome::stopped);
    // Only whole images, under the folders they were written to.
    const auto written = tree_of(destination.path());
    for (const auto& [path, content] : written)
        EXPECT_TRUE(content == "/" || content == image) << path;
    EXPECT_LT(written.size(), 20u * 3);
    EXPECT_EQ(transfer.wait().size(), 0u) << "nothing left in flight";
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
