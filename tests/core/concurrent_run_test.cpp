// A run against real servers on 127.0.0.1, with several fetches in flight.
#include "engine/extraction_run.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <thread>

#include "engine/run_observer.h"
#include "net/curl_transfer.h"
#include "support/temp_dir.h"
#include "support/test_server.h"

namespace {

using namespace std::chrono_literals;

class QuietObserver final : public RunObserver {
public:
    void show_status(const std::string&) override {}
    void set_background(StatusBackground) override {}
    void yield() override {}
};

TEST(ConcurrentRunTest, KeepsToSixConnectionsAndOffersCredentialsToTheStartSiteOnly) {
    std::mutex mutex;
    std::set<int> site_ports;
    int busy = 0, most_busy = 0;
    std::atomic<int> credentials_elsewhere = 0;
    TestServer site, other;
    const auto challenge = [](httplib::Response& r) {
        r.status = 401;
        r.set_header("WWW-Authenticate", "Basic realm=\"q\"");
    };
    site.server().Get(R"(/.*)", [&](const httplib::Request& q, httplib::Response& r) {
        if (q.get_header_value("Authorization") != "Basic YW5uOnMzY3JldA==")
            return challenge(r);
        {
            const std::lock_guard lock(mutex);
            site_ports.insert(q.remote_port);
            most_busy = std::max(most_busy, ++busy);
        }
        std::this_thread::sleep_for(20ms); // a remote server's delay
        std::string body;
        if (q.path == "/") {
            for (int i = 0; i < 30; ++i)
                body += "<img src=\"img/" + std::to_string(i) + ".gif\">";
            for (int i = 0; i < 6; ++i)
                body += "<img src=\"" + other.url("/o/" + std::to_string(i) + ".gif") + "\">";
        } else {
            body = "GIF89a" + std::string(3000, 'g') + q.path;
        }
        r.set_content(body, "image/gif");
        const std::lock_guard lock(mutex);
        --busy;
    });
    other.server().Get(R"(/.*)", [&](const httplib::Request& q, httplib::Response& r) {
        credentials_elsewhere += q.has_header("Authorization");
        challenge(r);
    });
    site.start();
    other.start();

    const TempDir destination;
    ExtractionJob job;
    job.start_address = site.url("/");
    job.user_name = "ann";
    job.password = "s3cret";
    job.existing_policy = replace_existing;
    job.layout = flat_layout;
    job.destination = destination.path();
    CurlTransfer transfer;
    QuietObserver observer;
    ExtractionRun run(transfer, observer);
    EXPECT_EQ(run.run(job, RunMode::interactive), RunOutcome::completed);

    EXPECT_EQ(run.counters().images_copied, 30);
    EXPECT_EQ(run.counters().failed_images.server, 6);
    EXPECT_EQ(read_file(destination.file("29.gif")), "GIF89a" + std::string(3000, 'g') + "/img/29.gif");
    EXPECT_EQ(credentials_elsewhere, 0);
    const std::lock_guard lock(mutex);
    EXPECT_LE(site_ports.size(), static_cast<std::size_t>(max_fetches_in_flight));
    EXPECT_LE(most_busy, max_fetches_in_flight);
    EXPECT_GE(most_busy, 2) << "fetches overlap";
}

} // namespace
