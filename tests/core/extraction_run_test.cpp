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

namespace {

/// Records what a run shows: every event in order ("busy", "idle", "yield" or
/// the text), and the texts alone.
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
    ExtractionJob job(int depth, int policy = replace_existing, int layout = flat_layout) {
        ExtractionJob j;
        j.title = "  Galerie ";
        j.start_address = " http://site/ ";
        j.depth = depth;
        j.existing_policy = policy;
        j.layout = layout;
        j.destination = destination.path();
        return j;
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

TEST_F(ExtractionRunTest, WhatEachModeShows) {
    transfer.serve("http://site/", img("a.gif") + img("b.gif") + img("missing.gif") + link("p.html"));
    transfer.serve("http://site/p.html", "");
    transfer.serve("http://site/a.gif", image);
    transfer.serve("http://site/b.gif", image);

    run.run(job(1), RunMode::interactive);
    EXPECT_THAT(observer.texts,
                ElementsAre("1 page visitée", "2 pages visitées", "1 image copiée", "2 images copiées"));
    // One yield inside each of the 5 fetches, one after each page and copied image.
    EXPECT_EQ(std::count(observer.events.begin(), observer.events.end(), "yield"), 5 + 4);
    EXPECT_EQ(observer.events.front(), "busy");
    EXPECT_EQ(observer.events.back(), "idle");

    observer.events.clear();
    observer.texts.clear();
    run.run(job(0), RunMode::scheduled);
    EXPECT_THAT(observer.texts, ElementsAre("Récupère Galerie", ""));
    EXPECT_THAT(std::vector(observer.events.begin(), observer.events.begin() + 3),
                ElementsAre("busy", "Récupère Galerie", "yield"));
    EXPECT_THAT(std::vector(observer.events.end() - 3, observer.events.end()), ElementsAre("idle", "", "yield"));
}

TEST_F(ExtractionRunTest, CredentialsGoAsAPairAndAnUnreachableStartIsOnePageVisited) {
    for (const auto& [user, password, sent] : std::vector<std::array<std::string, 3>>{
             {"alice", "secret", "alice:secret"}, {"alice", "", ":"}, {"", "secret", ":"}}) {
        SCOPED_TRACE(sent);
        transfer.credentials.clear();
        observer.texts.clear();
        ExtractionJob j = job(4);
        j.user_name = user;
        j.password = password;
        EXPECT_EQ(run.run(j, RunMode::interactive), RunOutcome::completed);
        EXPECT_THAT(transfer.credentials, ElementsAre(sent + "@http://site/"));
        EXPECT_THAT(observer.texts, ElementsAre("1 page visitée"));
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
    ExtractionJob j = job(1);
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

// The files under a folder by relative path, with their contents, and its empty folders as "/".
std::map<std::string, std::string> tree_of(const std::string& folder) {
    std::map<std::string, std::string> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        if (!entry.is_directory() || std::filesystem::is_empty(entry.path()))
            found[entry.path().lexically_relative(folder)] = entry.is_directory() ? "/" : read_file(entry.path());
    return found;
}

// Whatever order the answers come in, a run gives what one fetch after the
// other gives: the same files under the same names, the same requests. The
// reference is copie_image called entry by entry, with the repeat rule: an
// entry is skipped after an equal one was written, and tried again after one
// that failed.
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
            // In order, out of order, one after the other: the files and the sorted requests.
            std::vector<std::pair<std::map<std::string, std::string>, std::vector<std::string>>> results;
            for (const int way : {1, 2, 0}) {
                const TempDir folder;
                write_file(folder.file("2.gif"), "OLD"); // already present under the flat layout
                transfer.newest_first = way == 2;
                transfer.fail_once("http://site/b/3.gif"); // its later repeats are tried again
                transfer.images_fetched.clear();
                ExtractionJob j = job(1, policy, layout);
                j.destination = folder.path();
                if (way != 0) {
                    EXPECT_EQ(run.run(j, RunMode::interactive), RunOutcome::completed);
                } else {
                    std::set<std::string> written;
                    for (const auto& address : run.lists().images.entries())
                        if (!written.contains(address) &&
                            m_qmr::copie_image(transfer, address, folder.path(), policy, layout) == 1)
                            written.insert(address);
                }
                results.push_back({tree_of(folder.path()), transfer.images_fetched});
                std::sort(results.back().second.begin(), results.back().second.end());
            }
            EXPECT_EQ(results[0], results[2]);
            EXPECT_EQ(results[1], results[2]);
        }
    EXPECT_EQ(transfer.most_in_flight, max_fetches_in_flight);
}

// A stop ends the run before its next fetch: during the crawl nothing more is
// asked for; during a burst of image fetches every one is cancelled, and only
// whole images stay, each in the folder made for it.
TEST_F(ExtractionRunTest, AStopEndsTheRunBeforeItsNextFetchAndCancelsThoseInFlight) {
    std::string page = link("p.html");
    for (int i = 0; i < 20; ++i) {
        page += img("d" + std::to_string(i) + "/i.gif");
        transfer.serve("http://site/d" + std::to_string(i) + "/i.gif", image);
    }
    transfer.serve("http://site/", page);
    transfer.newest_first = true;
    int yields = 0, stop_at = 2; // the first yield comes inside the start page's fetch, the second after its scan
    observer.on_yield = [&] { observer.stop = ++yields == stop_at; };
    EXPECT_EQ(run.run(job(1, replace_existing, tree_layout), RunMode::interactive), RunOutcome::stopped);
    EXPECT_THAT(transfer.pages_fetched, ElementsAre("http://site/"));
    EXPECT_TRUE(transfer.images_fetched.empty());
    EXPECT_EQ(observer.events.back(), "idle");

    yields = 0;
    stop_at = 12;
    observer.stop = false;
    EXPECT_EQ(run.run(job(1, replace_existing, tree_layout), RunMode::interactive), RunOutcome::stopped);
    const auto kept = tree_of(destination.path());
    for (const auto& [path, content] : kept)
        EXPECT_TRUE(path.ends_with("/i.gif") && content == image) << path << ": " << content;
    EXPECT_GT(kept.size(), 0u);
    EXPECT_LT(kept.size(), 20u);
    EXPECT_TRUE(transfer.wait().empty()) << "nothing left in flight";
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

} // namespace
