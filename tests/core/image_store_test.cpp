#include "store/image_store.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "engine/curl_transfer.h"
#include "support/file_size_limit.h"
#include "support/temp_dir.h"
#include "support/test_server.h"

namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;
using Files = std::map<std::string, std::string>;

// NUL and high bytes: an image is written as received, never as a C string.
const std::string image_bytes("\xff\xd8\xff\xe0\0\x10JFIF\0\x01\x02\x80\xfe tail", 20);

/// A loopback server answering from `answers_` (set between requests only) to
/// the real libcurl transfer; the scratch folder shows anything written beside the destination.
class ImageStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        server_.server().Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
            ++requests_;
            response.status = answers_[request.path].first;
            response.set_content(answers_[request.path].second, "image/jpeg");
        });
        server_.start();
        reset({});
    }
    /// An empty destination holding just `files`.
    void reset(const Files& files) {
        fs::remove_all(destination_);
        fs::create_directory(destination_);
        for (const auto& [name, content] : files)
            write_file(destination_ + "/" + name, content);
    }
    /// The files under the destination, by relative name, with their contents.
    Files files() const {
        Files found;
        for (const auto& entry : fs::recursive_directory_iterator(destination_))
            if (!entry.is_directory())
                found[fs::relative(entry.path(), destination_).string()] = read_file(entry.path().string());
        return found;
    }

    std::map<std::string, std::pair<int, std::string>> answers_;
    std::atomic<int> requests_ = 0;
    TempDir scratch_;
    const std::string destination_ = scratch_.file("dest");
    TestServer server_;
    CurlTransfer transfer_;
};

TEST(UrlArbreTest, CutsHostAndDirectories) {
    const std::pair<const char*, const char*> cases[] = {
        {"http://h/photos/2007/a.jpg", "h/photos/2007/"}, {"http://h", ""}, {"h/photos/a.jpg", ""}};
    for (const auto& [address, expected] : cases) {
        SCOPED_TRACE(address);
        EXPECT_EQ(m_qmr::url_arbre(address), expected);
    }
}

TEST_F(ImageStoreTest, PlacesTheFileByLayoutCreatingAMissingDestination) {
    const std::string host = "127.0.0.1:" + std::to_string(server_.port());
    const std::pair<int, std::string> cases[] = {{flat_layout, "a.jpg"}, {tree_layout, host + "/photos/2007/a.jpg"}};
    answers_["/photos/2007/a.jpg"] = {200, image_bytes};
    const std::string address = " " + server_.url("/photos/2007/a.jpg") + " ";
    for (const auto& [layout, expected] : cases) {
        for (const std::string ending : {"", "/", "/2026/site", "/2026/site/"}) {
            SCOPED_TRACE(expected + ", destination ending in \"" + ending + "\"");
            reset({});
            EXPECT_EQ(m_qmr::copie_image(transfer_, address, destination_ + ending, 2, layout), m_qmr::image_written);
            const std::string created = ending.size() > 1 ? "2026/site/" : "";
            EXPECT_EQ(files(), (Files{{created + expected, image_bytes}}));
            EXPECT_EQ(list_directory(scratch_.path()), Names{"dest"});
        }
    }
}

TEST_F(ImageStoreTest, AppliesThePolicyAndKeepsTheOldImageOnErrorPagesAndFailures) {
    // "a.jpeg" holds "OLD", and `version` "V" when given; the body lands in `written`, or nowhere.
    const struct {
        const char* label;
        int policy, status, result;
        std::string body, version, written;
        rlim_t size_limit = RLIM_INFINITY;
    } cases[] = {
        {"leave, without a request", leave_existing, 200, 0, "NEW", "", ""},
        {"replace", replace_existing, 200, 1, "NEW", "", "a.jpeg"},
        {"first version", new_version, 200, 1, "NEW", "", "a-v1.jpeg"},
        {"second version", new_version, 200, 1, "NEW", "a-v1.jpeg", "a-v2.jpeg"},
        {"a gap filled first", new_version, 200, 1, "NEW", "a-v2.jpeg", "a-v1.jpeg"},
        {"405 in 1025 bytes", replace_existing, 200, 0, std::string(1022, 'a') + "405", "", ""},
        {"405 in 1026 bytes", replace_existing, 200, 1, std::string(1023, 'a') + "405", "", "a.jpeg"},
        {"404 as the last bytes", replace_existing, 200, 0, "xx404", "", ""},
        {"403 is no error page", replace_existing, 200, 1, "x403x", "", "a.jpeg"},
        {"html in mixed case", replace_existing, 200, 0, "<!DOCTYPE hTmL>", "", ""},
        {"404 status, large body", replace_existing, 404, 0, std::string(5000, 'a'), "", ""},
        {"empty body", replace_existing, 200, 0, "", "", ""},
        {"download failure", replace_existing, 0, -1, image_bytes, "", ""},
        {"write failing part-way", replace_existing, 200, -1, image_bytes, "", "", image_bytes.size() / 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Files expected{{"a.jpeg", "OLD"}};
        if (!c.version.empty())
            expected[c.version] = "V";
        reset(expected);
        if (!c.written.empty())
            expected[c.written] = c.body;
        answers_["/a.jpeg"] = {c.status, c.body};
        const int requests_before = requests_;
        FileSizeLimit limit(c.size_limit);
        // Port 0 takes no connection: the transfer fails.
        const std::string address = c.status == 0 ? "http://127.0.0.1:0/a.jpeg" : server_.url("/a.jpeg");
        EXPECT_EQ(m_qmr::copie_image(transfer_, address, destination_, c.policy, flat_layout), c.result);
        EXPECT_EQ(files(), expected);
        EXPECT_EQ(list_directory(scratch_.path()), Names{"dest"});
        EXPECT_EQ(requests_ - requests_before, c.policy != leave_existing && c.status != 0);
    }
}

TEST_F(ImageStoreTest, RefusesBeforeFetchingAnAddressLeadingOutsideOrAnEmptyDestination) {
    const std::string host = server_.url("");
    const std::pair<std::string, std::string> cases[] = {{destination_, host + "/../../x.jpg"},
                                                         {destination_, host + "/a/../../../x.jpg"},
                                                         {destination_, host + "/img/.."},
                                                         {destination_, "http://../x.jpg"},
                                                         {"", host + "/a.jpg"},
                                                         {"   ", host + "/a.jpg"}};
    answers_["/a.jpg"] = {200, image_bytes};
    for (const auto& [destination, address] : cases) {
        SCOPED_TRACE("\"" + destination + "\" " + address);
        EXPECT_EQ(m_qmr::copie_image(transfer_, address, destination, 2, tree_layout), m_qmr::image_failed);
        EXPECT_EQ(list_directory(scratch_.path()), Names{"dest"});
        EXPECT_EQ(list_directory(destination_), Names{});
    }
    EXPECT_EQ(requests_, 0);
}

} // namespace
