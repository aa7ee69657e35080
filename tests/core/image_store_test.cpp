#include "store/image_store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "net/curl_transfer.h"
#include "support/fake_transfer.h"
#include "support/file_size_limit.h"
#include "support/temp_dir.h"
#include "support/test_server.h"

namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;
using Files = std::map<std::string, std::string>;

// NUL and high bytes: an image is written as received, never as a C string.
const std::string image_bytes("\xff\xd8\xff\xe0\0\x10JFIF\0\x01\x02\x80\xfe tail", 20);

/// The destination is "dest" in a scratch folder, which shows anything written beside it.
class ImageStoreTest : public ::testing::Test {
protected:
    /// An empty destination holding just `files`.
    void reset(const Files& files) {
        fs::remove_all(dest_);
        fs::create_directory(dest_);
        for (const auto& [name, content] : files)
            write_file(dest_ + "/" + name, content);
    }
    /// The files under the destination, by relative name, with their contents.
    Files files() const {
        EXPECT_EQ(list_directory(scratch_.path()), Names{"dest"});
        Files found;
        for (const auto& entry : fs::recursive_directory_iterator(dest_))
            if (!entry.is_directory())
                found[fs::relative(entry.path(), dest_).string()] = read_file(entry.path().string());
        return found;
    }

    TempDir scratch_;
    const std::string dest_ = scratch_.file("dest");
    FakeTransfer transfer_;
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
    const std::pair<int, std::string> cases[] = {{flat_layout, "a.jpg"}, {tree_layout, "h/photos/2007/a.jpg"}};
    transfer_.serve("http://h/photos/2007/a.jpg", image_bytes);
    for (const auto& [layout, expected] : cases)
        for (const std::string ending : {"", "/", "/2026/site", "/2026/site/"}) {
            SCOPED_TRACE(expected + ", destination ending in \"" + ending + "\"");
            reset({});
            EXPECT_EQ(m_qmr::copie_image(transfer_, " http://h/photos/2007/a.jpg ", dest_ + ending, 2, layout),
                      m_qmr::image_written);
            EXPECT_EQ(files(), (Files{{(ending.size() > 1 ? "2026/site/" : "") + expected, image_bytes}}));
        }
}

TEST_F(ImageStoreTest, AppliesThePolicyAndKeepsTheOldImageOnErrorPagesAndFailures) {
    // "a.jpeg" holds "OLD", and `version` "V" when given; the body lands in `written`, or nowhere.
    const struct {
        const char* label;
        int policy, status, result; // status 0: the transfer fails
        std::string body, version, written;
        rlim_t size_limit = RLIM_INFINITY;
    } cases[] = {
        {"leave, without a request", leave_existing, 200, 0, "NEW", "", ""},
        {"replace", replace_existing, 200, 1, "NEW", "", "a.jpeg"},
        {"first version", new_version, 200, 1, "NEW", "", "a-v1.jpeg"},
        {"second version", new_version, 200, 1, "NEW", "a-v1.jpeg", "a-v2.jpeg"},
        {"a gap filled first", new_version, 200, 1, "NEW", "a-v2.jpeg", "a-v1.jpeg"},
        {"404 as the last of 1025 bytes", replace_existing, 200, 0, std::string(1022, 'a') + "404", "", ""},
        {"405 in 1026 bytes", replace_existing, 200, 1, std::string(1023, 'a') + "405", "", "a.jpeg"},
        {"405 in a short body", replace_existing, 200, 0, "x405x", "", ""},
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
        // Served for real over loopback, so that statuses and bodies come as libcurl hands them over.
        TestServer server;
        int requests = 0;
        server.server().Get("/a.jpeg", [&](const httplib::Request&, httplib::Response& response) {
            ++requests;
            response.status = c.status;
            response.set_content(c.body, "image/jpeg");
        });
        server.start();
        const std::string address = c.status != 0 ? server.url("/a.jpeg") : "http://127.0.0.1:1/a.jpeg";
        CurlTransfer transfer;
        FileSizeLimit limit(c.size_limit);
        EXPECT_EQ(m_qmr::copie_image(transfer, address, dest_, c.policy, flat_layout), c.result);
        EXPECT_EQ(files(), expected);
        EXPECT_EQ(requests, c.policy == leave_existing || c.status == 0 ? 0 : 1);
    }
}

TEST_F(ImageStoreTest, RefusesBeforeFetchingAnAddressLeadingOutsideOrAnEmptyDestination) {
    reset({});
    for (const std::string address : {"http://h/a/../../../x.jpg", "http://h/img/..", "http://../x.jpg"}) {
        SCOPED_TRACE(address);
        EXPECT_EQ(m_qmr::copie_image(transfer_, address, dest_, 2, tree_layout), m_qmr::image_failed);
        EXPECT_EQ(list_directory(scratch_.path()), Names{"dest"});
        EXPECT_EQ(list_directory(dest_), Names{});
    }
    for (const std::string blank : {"", "   "})
        EXPECT_EQ(m_qmr::copie_image(transfer_, "http://h/a.jpg", blank, 2, tree_layout), m_qmr::image_failed);
    EXPECT_TRUE(transfer_.images_fetched.empty());
}

} // namespace
