#include "store/image_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/curl_transfer.h"
#include "support/fake_transfer.h"
#include "support/file_size_limit.h"
#include "support/temp_dir.h"
#include "support/test_server.h"

namespace {

using Names = std::vector<std::string>;
using Files = std::map<std::string, std::string>;

// An image with NUL and high bytes: written as received, never as a C string.
const std::string image_bytes("\xff\xd8\xff\xe0\0\x10JFIF\0\x01\x02\x80\xfe tail", 20);

void replace_all(std::string& text, const std::string& from, const std::string& to) {
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

/// Every entry under `root`, relative, directories with a final "/", sorted.
Names tree_of(const std::string& root) {
    Names names;
    std::error_code ignored;
    for (auto it = std::filesystem::recursive_directory_iterator(root, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        auto name = std::filesystem::relative(it->path(), root).string();
        names.push_back(it->is_directory() ? name + "/" : name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

/// The regular files under `root` and their contents.
Files files_of(const std::string& root) {
    Files files;
    for (const auto& name : tree_of(root))
        if (name.back() != '/')
            files[name] = read_file(root + "/" + name);
    return files;
}

/// A loopback server that serves images from a table, fetched through the
/// real libcurl transfer; the destination lies in a scratch folder whose
/// listing shows whatever might have been written beside it.
class ImageStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        server_.server().Get(R"(/.*)", [this](const httplib::Request& request, httplib::Response& response) {
            std::lock_guard lock(mutex_);
            ++requests_;
            const auto found = answers_.find(request.path);
            if (found == answers_.end()) {
                response.status = 404;
                response.set_content(std::string(4000, 'x'), "text/plain");
                return;
            }
            response.status = found->second.status;
            response.set_content(found->second.body, "image/jpeg");
        });
        server_.start();
        destination_ = scratch_.file("dest");
        std::filesystem::create_directory(destination_);
    }

    void serve(const std::string& path, std::string body, int status = 200) {
        std::lock_guard lock(mutex_);
        answers_[path] = Answer{status, std::move(body)};
    }
    int requests() {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    std::string host() const { return "127.0.0.1:" + std::to_string(server_.port()); }
    /// `text` with "{host}" and "{port}" filled in.
    std::string fill(std::string text) const {
        replace_all(text, "{host}", host());
        replace_all(text, "{port}", std::to_string(server_.port()));
        return text;
    }
    /// "name=content name=content" as files, names filled in.
    Files parse_files(const std::string& text) const {
        Files files;
        std::istringstream in(text);
        for (std::string item; in >> item;) {
            const auto equals = item.find('=');
            files[fill(item.substr(0, equals))] = item.substr(equals + 1);
        }
        return files;
    }
    Names filled(const std::vector<const char*>& texts) const {
        Names names;
        for (const auto* text : texts)
            names.push_back(fill(text));
        std::sort(names.begin(), names.end());
        return names;
    }

    struct Answer {
        int status;
        std::string body;
    };
    std::mutex mutex_;
    std::map<std::string, Answer> answers_;
    int requests_ = 0;

    TempDir scratch_;
    std::string destination_;
    TestServer server_;
    CurlTransfer transfer_;
};

TEST(UrlArbreTest, CutsHostAndDirectories) {
    struct Case {
        const char* address;
        const char* expected;
    };
    const Case cases[] = {
        {"http://h/photos/2007/a.jpg", "h/photos/2007/"},
        {"http://h/a.jpg", "h/"},
        {"https://h:8080/a/b.jpg", "h:8080/a/"},
        {"http://h/dir/", "h/dir/"},
        {"http://h/a//b.jpg", "h/a//"},
        {"http://h/cgi?img=/x/y.jpg", "h/cgi?img=/x/"},
        {"http://user:pw@h/a.jpg", "user:pw@h/"},
        {"http://h", ""},
        {"h/photos/a.jpg", ""},
        {"", ""},
        {"http:///a.jpg", "/"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        EXPECT_EQ(m_qmr::url_arbre(c.address), c.expected);
    }
}

TEST_F(ImageStoreTest, PlacesTheFileByLayoutWithOrWithoutFinalSlash) {
    struct Case {
        const char* label;
        int layout;
        const char* path;                  // of the address, after the host
        std::vector<const char*> expected; // everything under the destination
    };
    const Case cases[] = {
        {"flat", flat_layout, "/photos/2007/a.jpg", {"a.jpg"}},
        {"tree",
         tree_layout,
         "/photos/2007/a.jpg",
         {"{host}/", "{host}/photos/", "{host}/photos/2007/", "{host}/photos/2007/a.jpg"}},
        {"tree, no directory in the path", tree_layout, "/a.jpg", {"{host}/", "{host}/a.jpg"}},
        {"tree, nothing after the host", tree_layout, "", {"{port}"}},
        {"flat, nothing after the host", flat_layout, "", {"{port}"}},
        {"tree climbing back to the destination", tree_layout, "/../b.jpg", {"{host}/", "b.jpg"}},
        {"empty stored layout is flat", 0, "/photos/a.jpg", {"a.jpg"}},
        {"unknown layout is flat", 3, "/photos/a.jpg", {"a.jpg"}},
    };
    serve("/photos/2007/a.jpg", image_bytes);
    serve("/a.jpg", image_bytes);
    serve("/", image_bytes);
    serve("/b.jpg", image_bytes);
    serve("/photos/a.jpg", image_bytes);
    for (const auto& c : cases) {
        for (const char* ending : {"", "/"}) {
            SCOPED_TRACE(std::string(c.label) + ", destination ending in \"" + ending + "\"");
            std::filesystem::remove_all(destination_);
            std::filesystem::create_directory(destination_);

            EXPECT_EQ(
                m_qmr::copie_image(transfer_, " " + server_.url(c.path) + " ", destination_ + ending, 2, c.layout),
                m_qmr::image_written);

            const Names expected = filled(c.expected);
            EXPECT_EQ(tree_of(destination_), expected);
            EXPECT_EQ(read_file(destination_ + "/" + expected.back()), image_bytes);
            EXPECT_EQ(list_directory(scratch_.path()), Names{"dest"});
        }
    }
}

TEST_F(ImageStoreTest, AppliesThePolicyForAnImageAlreadyThere) {
    // Files as "name=content ...": before the call, and after it. The image
    // is served as "NEW"; it is written exactly when "NEW" shows up after.
    struct Case {
        const char* label;
        int policy;
        int layout;
        const char* served;
        const char* before;
        const char* after;
    };
    const Case cases[] = {
        {"leave, present", 1, flat_layout, "/photo.jpg", "photo.jpg=OLD", "photo.jpg=OLD"},
        {"leave, present in the tree", 1, tree_layout, "/p/photo.jpg", "{host}/p/photo.jpg=OLD",
         "{host}/p/photo.jpg=OLD"},
        {"leave, absent", 1, flat_layout, "/photo.jpg", "", "photo.jpg=NEW"},
        {"replace, present", 2, flat_layout, "/photo.jpg", "photo.jpg=OLD", "photo.jpg=NEW"},
        {"empty stored policy replaces", 0, flat_layout, "/photo.jpg", "photo.jpg=OLD", "photo.jpg=NEW"},
        {"unknown policy replaces", 4, flat_layout, "/photo.jpg", "photo.jpg=OLD", "photo.jpg=NEW"},
        {"version, absent", 3, flat_layout, "/photo.jpg", "", "photo.jpg=NEW"},
        {"version, first", 3, flat_layout, "/photo.jpg", "photo.jpg=OLD", "photo.jpg=OLD photo-v1.jpg=NEW"},
        {"version, second", 3, flat_layout, "/photo.jpg", "photo.jpg=OLD photo-v1.jpg=V1",
         "photo.jpg=OLD photo-v1.jpg=V1 photo-v2.jpg=NEW"},
        {"version, gap filled first", 3, flat_layout, "/photo.jpg", "photo.jpg=OLD photo-v2.jpg=V2",
         "photo.jpg=OLD photo-v1.jpg=NEW photo-v2.jpg=V2"},
        {"version keeps a four-letter extension", 3, flat_layout, "/photo.jpeg", "photo.jpeg=OLD",
         "photo.jpeg=OLD photo-v1.jpeg=NEW"},
        {"version goes before the last dot", 3, flat_layout, "/a.b.gif", "a.b.gif=OLD", "a.b.gif=OLD a.b-v1.gif=NEW"},
        {"version of a name without a dot", 3, flat_layout, "/photo", "photo=OLD", "photo=OLD photo-v1=NEW"},
        {"version in the tree, dots in the host only", 3, tree_layout, "/photo", "{host}/photo=OLD",
         "{host}/photo=OLD {host}/photo-v1=NEW"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        std::filesystem::remove_all(destination_);
        std::filesystem::create_directory(destination_);
        for (const auto& [name, content] : parse_files(c.before)) {
            const auto path = std::filesystem::path(destination_) / name;
            std::filesystem::create_directories(path.parent_path());
            write_file(path.string(), content);
        }
        serve(c.served, "NEW");
        const int requests_before = requests();
        const bool written = std::string(c.after).find("=NEW") != std::string::npos;

        EXPECT_EQ(m_qmr::copie_image(transfer_, server_.url(c.served), destination_, c.policy, c.layout),
                  written ? m_qmr::image_written : m_qmr::image_not_written);

        EXPECT_EQ(files_of(destination_), parse_files(c.after));
        // Leaving an image in place costs no request at all.
        EXPECT_EQ(requests() - requests_before, written ? 1 : 0);
    }
}

TEST_F(ImageStoreTest, VersionsStopAtThirtyThousand) {
    write_file(destination_ + "/photo.jpg", "OLD");
    // Hard links: one system call each, where writing 30000 files would take seconds.
    const std::string original = destination_ + "/photo.jpg";
    for (int n = 1; n <= 30000; ++n) {
        ASSERT_EQ(::link(original.c_str(), (destination_ + "/photo-v" + std::to_string(n) + ".jpg").c_str()), 0);
    }
    serve("/photo.jpg", "NEW");

    EXPECT_EQ(m_qmr::copie_image(transfer_, server_.url("/photo.jpg"), destination_, 3, flat_layout),
              m_qmr::image_not_written);
    EXPECT_EQ(requests(), 0);
    EXPECT_FALSE(file_exists(destination_ + "/photo-v30001.jpg"));

    ASSERT_TRUE(std::filesystem::remove(destination_ + "/photo-v30000.jpg"));
    EXPECT_EQ(m_qmr::copie_image(transfer_, server_.url("/photo.jpg"), destination_, 3, flat_layout),
              m_qmr::image_written);
    EXPECT_EQ(read_file(destination_ + "/photo-v30000.jpg"), "NEW");
}

TEST_F(ImageStoreTest, RefusesErrorPagesByContentAndStatus) {
    struct Case {
        const char* label;
        int status;
        std::string body;
        int expected;
    };
    const Case cases[] = {
        {"405 in 1025 bytes", 200, std::string(1022, 'a') + "405", 0},
        {"405 in 1026 bytes", 200, std::string(1023, 'a') + "405", 1},
        {"404 at the start", 200, "404 Not Found", 0},
        {"405 as the last bytes", 200, "xx405", 0},
        {"html in mixed case", 200, "<!DOCTYPE hTmL>", 0},
        {"HTML in capitals", 200, "<HTML>", 0},
        {"html as the last bytes", 200, "ab html", 0},
        {"HTML in 1026 bytes", 200, "<HTML>" + std::string(1020, 'a'), 1},
        {"403 is not refused", 200, "x403x", 1},
        {"40 at the very end", 200, "abc40", 1},
        {"htm at the very end", 200, "abchtm", 1},
        {"4 0 5 apart", 200, "4x05", 1},
        {"404 status, large body", 404, std::string(5000, 'a'), 0},
        {"400 status, clean body", 400, image_bytes, 0},
        {"500 status, clean body", 500, image_bytes, 0},
        {"clean image", 200, image_bytes, 1},
        {"empty body", 200, "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        std::filesystem::remove_all(destination_);
        std::filesystem::create_directory(destination_);
        serve("/i/a.gif", c.body, c.status);

        EXPECT_EQ(m_qmr::copie_image(transfer_, server_.url("/i/a.gif"), destination_, 2, flat_layout), c.expected);

        const Files expected = c.expected == 1 ? Files{{"a.gif", c.body}} : Files{};
        EXPECT_EQ(files_of(destination_), expected);
        EXPECT_EQ(tree_of(destination_).size(), expected.size());
    }
}

TEST_F(ImageStoreTest, AnEmptyBodyDoesNotWipeTheImageUnderReplace) {
    write_file(destination_ + "/a.jpg", image_bytes);
    serve("/a.jpg", "");
    EXPECT_EQ(m_qmr::copie_image(transfer_, server_.url("/a.jpg"), destination_, 2, flat_layout),
              m_qmr::image_not_written);
    EXPECT_EQ(files_of(destination_), (Files{{"a.jpg", image_bytes}}));
}

TEST_F(ImageStoreTest, NothingIsCreatedForAnAddressLeadingOutside) {
    struct Case {
        int layout;
        const char* address;
    };
    const Case cases[] = {
        {tree_layout, "http://{host}/../../x.jpg"},
        {tree_layout, "http://{host}/../../../../home/u/x.jpg"},
        {tree_layout, "http://{host}/a/../../../x.jpg"},
        {tree_layout, "http://{host}/./../../x.jpg"},
        {tree_layout, "http://../x.jpg"},
        {tree_layout, "http://{host}/img/.."},
        {tree_layout, "http://{host}/img/."},
        {tree_layout, "http://{host}/img/x:.."},
        {flat_layout, "http://{host}/img/.."},
        {flat_layout, "http://{host}/img/."},
        {tree_layout, "http://{host}/img/"},
        {flat_layout, "http://{host}/img/"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.address) + (c.layout == tree_layout ? " (tree)" : " (flat)"));
        for (const char* policy_name : {"1", "2", "3"}) {
            const int policy = policy_name[0] - '0';
            EXPECT_EQ(m_qmr::copie_image(transfer_, fill(c.address), destination_, policy, c.layout),
                      m_qmr::image_failed);
        }
        EXPECT_EQ(list_directory(scratch_.path()), Names{"dest"});
        EXPECT_EQ(tree_of(destination_), Names{});
    }
    EXPECT_EQ(requests(), 0);
}

TEST(ImageStoreNameTest, AHostTheFileSystemRefusesFailsOnlyInTheTree) {
    struct Case {
        const char* label;
        std::string host;
    };
    const Case cases[] = {
        {"host longer than a file name may be", std::string(300, 'h')},
        {"host holding a NUL", std::string("ho\0st", 5)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        TempDir dir;
        FakeTransfer transfer;
        const std::string address = "http://" + c.host + "/pics/a.jpg";
        transfer.serve(address, "IMG");

        EXPECT_EQ(m_qmr::copie_image(transfer, address, dir.path(), 2, tree_layout), m_qmr::image_failed);
        EXPECT_EQ(list_directory(dir.path()), Names{});
        EXPECT_TRUE(transfer.calls.empty());

        EXPECT_EQ(m_qmr::copie_image(transfer, address, dir.path(), 2, flat_layout), m_qmr::image_written);
        EXPECT_EQ(read_file(dir.file("a.jpg")), "IMG");
        EXPECT_EQ(list_directory(dir.path()), Names{"a.jpg"});
    }
}

TEST_F(ImageStoreTest, FailuresGiveMinusOneAndLeaveNoTemporaryFile) {
    enum Trouble { none, read_only, server_down, write_error };
    struct Case {
        const char* label;
        int layout;
        Trouble trouble;
        std::vector<const char*> before; // files under the destination, holding "OLD"
        bool fetches;
    };
    const Case cases[] = {
        {"read-only destination", flat_layout, read_only, {}, true},
        {"read-only destination, old image kept", flat_layout, read_only, {"a.jpg"}, true},
        {"read-only destination, tree", tree_layout, read_only, {}, false},
        {"download failure", flat_layout, server_down, {}, false},
        {"download failure, old image kept", flat_layout, server_down, {"a.jpg"}, false},
        {"write error part-way", flat_layout, write_error, {}, true},
        {"write error part-way, old image kept", tree_layout, write_error, {"{host}/a.jpg"}, true},
        {"a file where the host directory goes", tree_layout, none, {"{host}"}, true},
        {"a directory where the image goes", flat_layout, none, {"a.jpg/keep"}, true},
    };
    TestServer down;
    down.start();
    const std::string dead_address = down.url("/a.jpg");
    down.stop();
    serve("/a.jpg", image_bytes);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        if (c.trouble == read_only && ::geteuid() == 0)
            continue; // root writes in read-only folders anyway
        std::filesystem::remove_all(destination_);
        std::filesystem::create_directory(destination_);
        for (const auto* name : c.before) {
            const auto path = std::filesystem::path(destination_) / fill(name);
            std::filesystem::create_directories(path.parent_path());
            write_file(path.string(), "OLD");
        }
        const Names tree_before = tree_of(destination_);
        if (c.trouble == read_only) {
            ASSERT_EQ(::chmod(destination_.c_str(), 0555), 0);
        }
        const int requests_before = requests();
        {
            FileSizeLimit limit(c.trouble == write_error ? image_bytes.size() / 2 : RLIM_INFINITY);
            EXPECT_EQ(m_qmr::copie_image(transfer_, c.trouble == server_down ? dead_address : server_.url("/a.jpg"),
                                         destination_, 2, c.layout),
                      m_qmr::image_failed);
        }
        ::chmod(destination_.c_str(), 0755);
        EXPECT_EQ(tree_of(destination_), tree_before);
        for (const auto& [name, content] : files_of(destination_))
            EXPECT_EQ(content, "OLD") << name;
        EXPECT_EQ(list_directory(scratch_.path()), Names{"dest"});
        EXPECT_EQ(requests() - requests_before, c.fetches ? 1 : 0);
    }
}

TEST_F(ImageStoreTest, AMissingDestinationIsCreated) {
    serve("/photos/a.jpg", image_bytes);
    for (const int layout : {flat_layout, tree_layout}) {
        SCOPED_TRACE(layout);
        std::filesystem::remove_all(destination_);
        const std::string nested = destination_ + "/2026/site";
        EXPECT_EQ(m_qmr::copie_image(transfer_, server_.url("/photos/a.jpg"), nested, 2, layout), m_qmr::image_written);
        const std::string expected =
            layout == flat_layout ? "/a.jpg" : "/127.0.0.1:" + std::to_string(server_.port()) + "/photos/a.jpg";
        EXPECT_EQ(read_file(nested + expected), image_bytes);
    }
}

TEST_F(ImageStoreTest, AnEmptyDestinationFailsWithoutFetching) {
    serve("/a.jpg", image_bytes);
    for (const char* destination : {"", "   "}) {
        SCOPED_TRACE(std::string("\"") + destination + "\"");
        for (const int layout : {flat_layout, tree_layout})
            EXPECT_EQ(m_qmr::copie_image(transfer_, server_.url("/a.jpg"), destination, 2, layout),
                      m_qmr::image_failed);
    }
    EXPECT_EQ(requests(), 0);
}

} // namespace
