// `quillmoor --run` against small sites served on 127.0.0.1: what is written
// under the destination, what is printed, how the schedule is stamped, and
// how a run is refused or stopped.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <set>
#include <sys/file.h>
#include <unistd.h>

#include "program.h"
#include "stored_line.h"
#include "support/temp_dir.h"
#include "support/test_server.h"

namespace {

std::string image_bytes(const std::string& header, std::size_t size, unsigned seed) {
    std::string bytes = header;
    // Longer than 1025 bytes, so that no error-page test ever looks at it.
    while (bytes.size() < size)
        bytes += static_cast<char>((seed = seed * 1103515245u + 12345u) >> 24);
    return bytes;
}

/// Tells the test that a request arrived, and the server when to end it.
class Gate {
public:
    void arrive() {
        std::lock_guard lock(mutex_);
        arrived_ = true;
        changed_.notify_all();
    }
    bool wait_for_arrival() {
        std::unique_lock lock(mutex_);
        // Only a guard against hanging forever; nothing is timed.
        return changed_.wait_for(lock, std::chrono::seconds(60), [this] { return arrived_; });
    }
    bool is_open() {
        std::lock_guard lock(mutex_);
        return open_;
    }
    void open() {
        std::lock_guard lock(mutex_);
        open_ = true;
    }
    void close() {
        std::lock_guard lock(mutex_);
        arrived_ = open_ = false;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool arrived_ = false;
    bool open_ = false;
};

std::string stamp_now() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y/%m/%d %H:%M", &local);
    return text;
}

/// Every file under `root`, as paths relative to it.
std::set<std::string> files_under(const std::string& root) {
    std::set<std::string> files;
    if (!std::filesystem::exists(root))
        return files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
        if (entry.is_regular_file())
            files.insert(std::filesystem::relative(entry.path(), root).string());
    return files;
}

class SiteRun : public ::testing::Test {
protected:
    void SetUp() override {
        images_ = {{"/a.gif", image_bytes("GIF89a", 2'000, 1)},
                   {"/b.jpg", image_bytes("\xFF\xD8\xFF\xE0", 3'000, 2)},
                   {"/photos/c.jpeg", image_bytes("\xFF\xD8\xFF\xE1", 4'000, 3)}};
        far_image_ = image_bytes("\xFF\xD8\xFF\xE0", 2'500, 4);
        far_.server().Get("/far.jpg", [this](const httplib::Request&, httplib::Response& response) {
            response.set_content(far_image_, "image/jpeg");
        });
        // Started first: the pages name it.
        far_.start();
        pages_ = {{"/index.html", "<html><body><img src=\"a.gif\"><img src=missing.gif >\n"
                                  "<img src=\"" +
                                      far_.url("/far.jpg") +
                                      "\">\n"
                                      "<a href=\"page2.html\">suite</a></body></html>"},
                  {"/page2.html", "<p><IMG SRC='b.jpg'> <img src=\"a.gif\"> <a href=\"page3.html#haut\">3</a>"
                                  " <a href=\"index.html\">retour</a></p>"},
                  {"/page3.html", "<img src=\"photos/c.jpeg\">"},
                  {"/lent.html", "<img src=\"slow.gif\"> <img src=\"a.gif\">"}};
        for (const auto& [path, body] : pages_)
            site_.server().Get(path, [body](const httplib::Request&, httplib::Response& response) {
                response.set_content(body, "text/html");
            });
        for (const auto& [path, bytes] : images_)
            site_.server().Get(path, [bytes](const httplib::Request&, httplib::Response& response) {
                response.set_content(bytes, "image/gif");
            });
        site_.server().Get("/missing.gif", [](const httplib::Request&, httplib::Response& response) {
            response.status = 404;
            response.set_content("<html><body>404 Not Found</body></html>", "text/html");
        });
        site_.server().Get("/slow.gif", [this](const httplib::Request&, httplib::Response& response) {
            gate_.arrive();
            // A byte now and then until the gate opens: the transfer never
            // stalls, so only cancelling it ends the fetch early.
            response.set_chunked_content_provider("image/gif", [this](std::size_t, httplib::DataSink& sink) {
                if (gate_.is_open()) {
                    sink.done();
                    return true;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                return sink.write("G", 1);
            });
        });
        site_.server().set_pre_routing_handler([this](const httplib::Request&, httplib::Response&) {
            ++requests_;
            return httplib::Server::HandlerResponse::Unhandled;
        });
        site_.start();
        std::filesystem::create_directories(folder());
    }

    std::string folder() const { return home_.file("Qmr/"); }
    std::string destination() const { return home_.file("images"); }
    EnvironmentChanges environment() const { return {{"XDG_DATA_HOME", home_.path()}}; }
    std::string planifs() const { return read_file(folder() + "planifs.txt"); }

    // The servers' handlers read these: declared first, they outlive the servers.
    TempDir home_;
    std::atomic<int> requests_{0};
    std::map<std::string, std::string> pages_, images_;
    std::string far_image_;
    Gate gate_;
    TestServer far_;
    TestServer site_;
};

TEST_F(SiteRun, CopiesTheImagesOfEachLevelAndCountsThem) {
    struct Case {
        const char* name;
        int depth;
        int layout;
        const char* out;
        std::map<std::string, std::string> files; ///< relative path -> served path
    };
    const std::string here = "127.0.0.1:" + std::to_string(site_.port()) + "/";
    const std::string far = "127.0.0.1:" + std::to_string(far_.port()) + "/";
    const Case cases[] = {
        {"start page only",
         0,
         1,
         "1 page visitée\n1 image copiée\n2 images copiées\n",
         {{"a.gif", "/a.gif"}, {"far.jpg", "far"}}},
        {"one level of links",
         1,
         1,
         "1 page visitée\n2 pages visitées\n1 image copiée\n2 images copiées\n3 images copiées\n",
         {{"a.gif", "/a.gif"}, {"far.jpg", "far"}, {"b.jpg", "/b.jpg"}}},
        {"deepest, as a tree",
         4,
         2,
         "1 page visitée\n2 pages visitées\n3 pages visitées\n"
         "1 image copiée\n2 images copiées\n3 images copiées\n4 images copiées\n",
         {{here + "a.gif", "/a.gif"},
          {far + "far.jpg", "far"},
          {here + "b.jpg", "/b.jpg"},
          {here + "photos/c.jpeg", "/photos/c.jpeg"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(destination());
        std::filesystem::create_directories(destination());
        const StoredLine other = StoredLine::extraction("Autre", site_.url("/page3.html"), 0, "/nulle/part");
        StoredLine line =
            StoredLine::extraction(" Galerie ", " " + site_.url("/index.html"), c.depth, destination(), c.layout);
        write_file(folder() + "planifs.txt", other.text() + line.text());

        const std::string before = stamp_now();
        const ProgramResult result = run_program({"--run", "Galerie"}, environment());
        const std::string after = stamp_now();

        EXPECT_EQ(result.exit_code, 0) << result.err;
        EXPECT_EQ(result.out, c.out);
        EXPECT_EQ(result.err, "");
        std::set<std::string> expected_files;
        for (const auto& [relative, served] : c.files) {
            expected_files.insert(relative);
            EXPECT_EQ(read_file(destination() + "/" + relative), served == "far" ? far_image_ : images_.at(served))
                << relative;
        }
        EXPECT_EQ(files_under(destination()), expected_files);

        // Only the run's date and time changed, on its own line.
        const std::string stored = planifs();
        ASSERT_EQ(stored.size(), other.text().size() + line.text().size());
        line.fields[39] = stored.substr(stored.size() - 21, 10);
        line.fields[40] = stored.substr(stored.size() - 8, 5);
        EXPECT_EQ(stored, other.text() + line.text());
        const std::string stamp = line.fields[39] + " " + line.fields[40];
        EXPECT_LE(before, stamp);
        EXPECT_LE(stamp, after);
    }
}

TEST_F(SiteRun, ASecondProcessFindsTheLockHeldAndExitsWithThree) {
    const std::string planifs_text =
        StoredLine::extraction("Galerie", site_.url("/index.html"), 1, destination()).text();
    write_file(folder() + "planifs.txt", planifs_text);
    const int lock = open((folder() + "verrou").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(flock(lock, LOCK_EX | LOCK_NB), 0);

    const ProgramResult refused = run_program({"--run", "Galerie"}, environment());
    EXPECT_EQ(refused.exit_code, 3);
    EXPECT_NE(refused.err, "");
    EXPECT_EQ(requests_, 0);
    EXPECT_EQ(planifs(), planifs_text);

    // --list only reads, and is not kept waiting by a run.
    EXPECT_EQ(run_program({"--list"}, environment()).exit_code, 0);

    close(lock);
    EXPECT_EQ(run_program({"--run", "Galerie"}, environment()).exit_code, 0);
}

TEST_F(SiteRun, ASignalStopsTheRunDuringAFetchWithoutStamping) {
    struct Case {
        int signal_number;
        int exit_code;
    };
    for (const Case c : {Case{SIGINT, 130}, Case{SIGTERM, 143}}) {
        SCOPED_TRACE(c.signal_number);
        gate_.close();
        std::filesystem::remove_all(destination());
        std::filesystem::create_directories(destination());
        const std::string planifs_text =
            StoredLine::extraction("Lent", site_.url("/lent.html"), 0, destination()).text();
        write_file(folder() + "planifs.txt", planifs_text);

        Program program({"--run", "Lent"}, environment());
        ASSERT_TRUE(gate_.wait_for_arrival());
        program.send_signal(c.signal_number);
        const ProgramResult result = program.wait();
        gate_.open();

        EXPECT_EQ(result.exit_code, c.exit_code) << result.err;
        EXPECT_EQ(result.out, "1 page visitée\n");
        // The image after the one being fetched is not tried.
        EXPECT_EQ(files_under(destination()), std::set<std::string>{});
        EXPECT_EQ(planifs(), planifs_text);
    }
}

} // namespace
