// The store layer: file-name filters, images written under their destination, and what is remembered of them.
#include "store/destination.h"
#include "store/file_name_filter.h"
#include "store/image_store.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <tuple>

#include "net/address.h"
#include "net/curl_transfer.h"
#include "net/text.h"
#include "store/database.h"
#include "store/image_memory.h"
#include "support/fake_transfer.h"
#include "support/file_size_limit.h"
#include "support/temp_dir.h"
#include "support/test_server.h"

using namespace m_qmr;

namespace {

TEST(FileNameFilterTest, OnePassMatch) {
    // Name pattern, extension pattern, name, extension, whether they match; "*" jumps once, never retries.
    const std::tuple<std::string, std::string, std::string, std::string, bool> cases[] = {
        {"a?c", "*", "abc", "", true},   {"a?c", "*", "abbc", "", false},  {"abc", "*", "ABC", "", false},
        {"ab", "*", "abc", "", false},   {"*ab", "*", "abab", "", false},  {"a*c*", "*", "abcdc", "", true},
        {"*b?d", "*", "abcd", "", true}, {"x*", "*", "x", "", true},       {"x?*", "*", "x", "", false},
        {"x?", "*", "x", "", false},     {"*", "*", "", "", true},         {"**", "*", "", "", false},
        {"a**b", "*", "ab", "", true},   {"*?", "*", "ab", "", false},     {"", "*", "", "", false},
        {"p", "gif", "p", "GIF", true},  {"p", "jpg", "p", "jpeg", false}, {"p", "gif", "q", "gif", false},
    };
    for (const auto& [name_pattern, extension_pattern, name, extension, matches] : cases)
        EXPECT_EQ(correspond_motif(name, extension, {name_pattern, extension_pattern}), matches)
            << "'" << name_pattern << "." << extension_pattern << "' vs '" << name << "." << extension << "'";
}

TEST(FileNameFilterTest, ExcludeRowsFirstThenAnyActiveIncludeRow) {
    // Rows with a blank name are inactive whatever their extension.
    const PatternSet inactive = {{{"", "gif"}, {"  ", "jpg"}}};
    const PatternSet include = {{{"photo*", "jpg"}, {"", "gif"}, {"  icon?  ", " gif "}, {"*", "jpeg"}}};
    const PatternSet exclude = {{{"*z", "*"}, {"", "*"}, {"ab", "*"}}};
    // File name, taken with inactive rows only, taken with the rows above.
    const std::tuple<std::string, bool, bool> cases[] = {
        {"photo1.JPG", true, true},  {" photo2.jpg ", true, true}, {"photo.gif", true, false},
        {"icon2 . gif", true, true}, {"z.jpeg", true, false},      {"ab.jpeg", true, false},
        {".jpeg", true, true},       {"abc", false, false},        {"x.y.jpeg", true, true}, // the last "." splits
    };
    for (const auto& [file_name, taken_by_default, taken] : cases) {
        EXPECT_EQ(filtre_nom(file_name, inactive, inactive), taken_by_default) << file_name;
        EXPECT_EQ(filtre_nom(file_name, include, exclude), taken) << file_name;
    }
}

TEST(FileNameFilterTest, ExtensionIndexAndPatternCheck) {
    const std::pair<std::string, int> stored[] = {{"gif", 1}, {" jpg ", 2}, {"jpeg", 3}, {"JPG", 0}, {"\tgif", 0}};
    for (const auto& [extension, index] : stored)
        EXPECT_EQ(index_extension(extension), index) << "[" << extension << "]";
    const auto no = [](char c) { return std::string("Il ne faut pas de ") + c + " dans un nom de fichier"; };
    const std::string stars = "Un ? et un * ne peuvent se suivrent";
    // In this order, each said once however often.
    const std::pair<std::string, std::vector<std::string>> typed[] = {
        {"*a*b??", {}}, {"a?*", {stars}}, {"a*?", {stars}}, {"\\/.a**b**", {no('.'), no('/'), no('\\'), stars}}};
    for (const auto& [pattern, messages] : typed)
        EXPECT_EQ(check_name_pattern(pattern), messages) << "[" << pattern << "]";
}

namespace fs = std::filesystem;
using Files = std::map<std::string, std::string>;

// NUL and high bytes: an image is written as received, never as a C string.
const std::string image_bytes("\xff\xd8\xff\xe0\0\x10JFIF\0\x01\x02\x80\xfe tail", 20);

/// The destination is "dest" in a scratch folder, beside "outside", which shows anything written where it should not.
class ImageStoreTest : public ::testing::Test {
protected:
    /// An empty destination holding just `files`; "outside" empty.
    void reset(const Files& files) {
        for (const auto& folder : {dest_, outside_}) {
            fs::remove_all(folder);
            fs::create_directory(folder);
        }
        for (const auto& [name, content] : files)
            write_file(dest_ + "/" + name, content);
    }
    /// The files under the destination, by relative name, with their contents.
    Files files() const {
        EXPECT_EQ(list_directory(scratch_.path()), (std::vector<std::string>{"dest", "outside"}));
        EXPECT_TRUE(list_directory(outside_).empty());
        return files_under(dest_);
    }

    TempDir scratch_;
    const std::string dest_ = scratch_.file("dest");
    const std::string outside_ = scratch_.file("outside");
    FakeTransfer transfer_;
    NoImageMemory memory_;
};

TEST_F(ImageStoreTest, PlacesTheFileByLayoutCreatingAMissingDestination) {
    // Address, layout, where it lands under the destination; "" when it is refused unfetched.
    const std::tuple<std::string, int, std::string> cases[] = {
        {" http://h/photos/2007/a.jpg ", flat_layout, "a.jpg"},
        {"http://h/photos/2007/a.jpg", tree_layout, "h/photos/2007/a.jpg"},
        {"http://h/a/b/../../../tmp/./x.jpg", tree_layout, "h/tmp/x.jpg"}, // ".." stops at the host
        {"http://h/my pic.jpg", tree_layout, "h/my pic.jpg"},              // named as the page wrote it
        {"http://h/get.php?f=x/../a.jpg", tree_layout, "h/a.jpg"},         // no empty folder for the query's "x/.."
        {"http://h/img/..", tree_layout, ""},
        {"http://../x.jpg", tree_layout, ""},
    };
    for (const auto& [address, layout, landed] : cases)
        for (const std::string ending : {"", "/", "/2026/site"}) {
            SCOPED_TRACE(address + ", destination ending in \"" + ending + "\"");
            reset({});
            transfer_.serve(without_dot_segments(trim_spaces(address)), image_bytes);
            const int result = copie_image(transfer_, address, dest_ + ending, 2, layout, memory_);
            EXPECT_EQ(result, landed.empty() ? image_failed : image_written);
            const std::string folder = ending.size() > 1 ? "2026/site/" : "";
            const Files expected = landed.empty() ? Files{} : Files{{folder + landed, image_bytes}};
            EXPECT_EQ(files(), expected);
        }
    for (const std::string blank : {"", "   ", "dest", " /dest"})
        EXPECT_EQ(copie_image(transfer_, "http://h/a.jpg", blank, 2, tree_layout, memory_), image_failed);
    EXPECT_EQ(transfer_.images_fetched.size(), 3u * 5u) << "the refused ones were not fetched";
    EXPECT_EQ(url_arbre("http://h"), "");
    EXPECT_EQ(url_arbre("h/photos/a.jpg"), "");
    // With every image format the path alone names the file and its folders.
    for (const bool all_formats : {false, true}) {
        const auto place = image_place("http://h/p/a.png?s=x/y.jpg#f", "/d", tree_layout, all_formats);
        EXPECT_EQ(place->tree + place->name, all_formats ? "h/p/a.png" : "h/p/a.png?s=x/y.jpg#f");
    }
}

TEST_F(ImageStoreTest, AppliesThePolicyAndKeepsTheOldImageOnErrorPagesAndFailures) {
    // "a.b.jpeg" holds "OLD", and `version` "V" when given; the body lands in `written`, or nowhere.
    const struct {
        const char* label;
        int policy, status, result; // status 0: the transfer fails after sending the body
        std::string body, version, written;
        rlim_t size_limit = RLIM_INFINITY;
    } cases[] = {
        {"leave, without a request", leave_existing, 200, 0, "NEW", "", ""},
        {"replace", replace_existing, 200, 1, "NEW", "", "a.b.jpeg"},
        {"an empty policy replaces", 0, 200, 1, "NEW", "", "a.b.jpeg"},
        {"an unknown policy replaces", 7, 200, 1, "NEW", "", "a.b.jpeg"},
        {"first version, before the last dot", new_version, 200, 1, "NEW", "", "a.b-v1.jpeg"},
        {"a gap filled first", new_version, 200, 1, "NEW", "a.b-v2.jpeg", "a.b-v1.jpeg"},
        {"the same bytes are not written again", replace_existing, 200, 0, "OLD", "", ""},
        {"nor as a version", new_version, 200, 0, "OLD", "", ""},
        {"nor beside a version equal beyond a gap", new_version, 200, 0, "V", "a.b-v2.jpeg", ""},
        {"404 as the last of 1025 bytes", replace_existing, 200, 0, std::string(1022, 'a') + "404", "", ""},
        {"405 in 1026 bytes", replace_existing, 200, 1, std::string(1023, 'a') + "405", "", "a.b.jpeg"},
        {"403 is no error page", replace_existing, 200, 1, "x403x", "", "a.b.jpeg"},
        {"html in mixed case", replace_existing, 200, 0, "<!DOCTYPE hTmL>", "", ""},
        {"404 status, large body", replace_existing, 404, 0, std::string(5000, 'a'), "", ""},
        {"empty body", replace_existing, 200, 0, "", "", ""},
        {"download failing part-way", replace_existing, 0, -1, std::string(3000, 'c'), "", ""},
        {"write failing part-way", replace_existing, 200, -1, std::string(50000, 'w'), "", "", 30000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Files expected{{"a.b.jpeg", "OLD"}};
        if (!c.version.empty())
            expected[c.version] = "V";
        reset(expected);
        if (!c.written.empty())
            expected[c.written] = c.body;
        const std::string address = "http://h/a.b.jpeg";
        c.status ? transfer_.serve(address, c.body, c.status) : transfer_.fail(address, c.body);
        transfer_.images_fetched.clear();
        FileSizeLimit limit(c.size_limit);
        EXPECT_EQ(copie_image(transfer_, address, dest_ + "/", c.policy, flat_layout, memory_), c.result);
        EXPECT_EQ(files(), expected);
        EXPECT_EQ(transfer_.images_fetched.size(), c.policy == leave_existing ? 0u : 1u);
    }
}

TEST_F(ImageStoreTest, NeverWritesThroughALinkNorLeavesTheFoldersOfAFailure) {
    const std::string address = "http://h/sub/a.jpg";
    transfer_.serve(address, image_bytes);
    transfer_.serve("http://h/sub/missing.jpg", "<html>404</html>");
    // The image's name is a link to a file outside: the link is replaced, its target untouched.
    reset({});
    write_file(outside_ + "/target", "KEEP");
    fs::create_symlink(outside_ + "/target", dest_ + "/a.jpg");
    EXPECT_EQ(copie_image(transfer_, address, dest_, replace_existing, flat_layout, memory_), image_written);
    EXPECT_EQ(read_file(outside_ + "/target"), "KEEP");
    EXPECT_EQ(fs::is_symlink(dest_ + "/a.jpg"), false);
    fs::remove(outside_ + "/target");
    // A folder of the tree is a link that leads outside: nothing is written through it.
    reset({});
    fs::create_directory_symlink(outside_, dest_ + "/h");
    EXPECT_EQ(copy_image(transfer_, address, dest_, replace_existing, tree_layout, memory_).failure, CopyFailure::disk);
    EXPECT_EQ(files(), (Files{{"h", "-> " + outside_}}));
    // An error page leaves neither a file nor the folders made for it, the destination's included.
    reset({});
    EXPECT_EQ(copy_image(transfer_, "http://h/sub/missing.jpg", dest_ + "/new", replace_existing, tree_layout, memory_)
                  .failure,
              CopyFailure::server);
    EXPECT_EQ(files(), Files{});
}

TEST_F(ImageStoreTest, ADestinationMadeForARunGoesWhenTheRunLeftItEmpty) {
    // The destination under "dest" (which stays), what the run writes there, what is left.
    const std::tuple<std::string, std::string, Files> cases[] = {
        {"new/site/", "", {}},
        {"new/site", "a.jpg", {{"new/site/a.jpg", "x"}}},
        {"new/site", "../a.jpg", {{"new/a.jpg", "x"}}},
    };
    for (const auto& [folder, written, left] : cases) {
        SCOPED_TRACE(folder + " " + written);
        reset({});
        {
            const Result<PreparedDestination> made = prepare_destination(dest_ + "/" + folder);
            EXPECT_TRUE(made.ok());
            if (!written.empty())
                write_file(dest_ + "/" + folder + "/" + written, "x");
        }
        EXPECT_EQ(files(), left) << "the run is over";
    }
}

/// Serves /x/a.gif and /y/a.gif with the ETag and Last-Modified of each version as `sends` says ('e', 'l', both or
/// none), and 304 to a request that sends either back; records each request with the validators it brought.
class ValidatingSite {
public:
    ValidatingSite() {
        server_.server().Get(R"(/\w/a\.gif)", [this](const httplib::Request& q, httplib::Response& r) {
            const std::lock_guard lock(mutex_);
            const auto& [body, version] = files_[q.path];
            const std::string etag = "W/\"v" + std::to_string(version) + "\"";
            const std::string modified = "Sun, 0" + std::to_string(version) + " Jan 2006 10:00:00 GMT";
            const std::string none_match = q.get_header_value("If-None-Match");
            const std::string since = q.get_header_value("If-Modified-Since");
            requests_.push_back(q.path + (none_match.empty() ? "" : " ?" + none_match) +
                                (since.empty() ? "" : " ?" + since));
            if (sends.find('e') != std::string::npos)
                r.set_header("ETag", etag);
            if (sends.find('l') != std::string::npos)
                r.set_header("Last-Modified", modified);
            if ((!none_match.empty() && none_match == etag) || (!since.empty() && since == modified))
                r.status = 304;
            else
                r.set_content(body, "image/gif");
        });
        server_.start();
    }
    /// Puts version `version` of a file on the site.
    void put(const std::string& path, std::string body, int version) {
        const std::lock_guard lock(mutex_);
        files_[path] = {std::move(body), version};
    }
    /// The requests since the last call, with the validators they sent.
    std::vector<std::string> requests() {
        const std::lock_guard lock(mutex_);
        return std::exchange(requests_, {});
    }
    std::string url(const std::string& path) const { return server_.url(path); }
    std::string sends;

private:
    std::mutex mutex_;
    std::map<std::string, std::pair<std::string, int>> files_;
    std::vector<std::string> requests_;
    TestServer server_; // last: it stops before what its handler uses goes
};

/// Copies from a ValidatingSite into a fresh destination, remembering in a fresh database of the data folder.
class UnchangedImageTest : public ImageStoreTest {
protected:
    /// With `damage` in the database and its WAL file, when given, before it is opened.
    void reset_all(const std::string& sends, const std::string& damage = {}) {
        reset({});
        fs::remove_all(data_.path());
        fs::create_directory(data_.path());
        for (const std::string file : {"quillmoor.db", "quillmoor.db-wal"})
            if (!damage.empty())
                write_file(data_.file(file), damage + file);
        remembered_.reset();
        opened_ = open_data_database(data_.path() + "/");
        remembered_ = image_memory_in(opened_);
        site_.sends = sends;
    }
    ImageCopy copy(const std::string& path, int policy) {
        return copy_image(curl_, site_.url(path), dest_, static_cast<ExistingPolicy>(policy), flat_layout,
                          *remembered_);
    }
    /// Inode and modification time of a file.
    std::pair<ino_t, std::int64_t> identity(const std::string& name) const {
        struct stat info {};
        ::stat((dest_ + "/" + name).c_str(), &info);
        return {info.st_ino, info.st_mtim.tv_sec * 1'000'000'000LL + info.st_mtim.tv_nsec};
    }

    TempDir data_;
    OpenedDatabase opened_;
    std::unique_ptr<ImageMemory> remembered_;
    ValidatingSite site_;
    CurlTransfer curl_;
};

// A second run sends back the validators when the file is as written; a third finds nothing new. Nothing equal to a
// file there is written, and the file keeps its inode and time.
TEST_F(UnchangedImageTest, AskedForOnlyWhenChangedAndWrittenOnlyWhenNew) {
    // The same size: only the bytes tell them apart.
    const std::string v1 = "GIF89a first", v2 = "GIF89a other", edited = "GIF89a mine!";
    const std::string day1 = "Sun, 01 Jan 2006 10:00:00 GMT";
    enum Event { unchanged, changed_on_server, edited_by_user, deleted_by_user };
    const struct {
        const char* label;
        Event event;
        int result; ///< of the second run
        Files replaced, versioned;
    } cases[] = {
        {"unchanged", unchanged, 0, {{"a.gif", v1}}, {{"a.gif", v1}}},
        {"changed on the server", changed_on_server, 1, {{"a.gif", v2}}, {{"a.gif", v1}, {"a-v1.gif", v2}}},
        {"edited by the user", edited_by_user, 1, {{"a.gif", v1}}, {{"a.gif", edited}, {"a-v1.gif", v1}}},
        {"deleted by the user", deleted_by_user, 1, {{"a.gif", v1}}, {{"a.gif", v1}}},
    };
    for (const int policy : {replace_existing, new_version})
        for (const auto& [sends, validators] : std::initializer_list<std::array<std::string, 2>>{
                 {"e", " ?W/\"v1\""}, {"l", " ?" + day1}, {"el", " ?W/\"v1\" ?" + day1}, {"", ""}})
            for (const auto& c : cases) {
                SCOPED_TRACE("policy " + std::to_string(policy) + ", validators '" + sends + "', " + c.label);
                reset_all(sends);
                site_.put("/x/a.gif", v1, 1);
                ASSERT_EQ(copy("/x/a.gif", policy).result, image_written);
                const auto written = identity("a.gif");
                if (c.event == changed_on_server)
                    site_.put("/x/a.gif", v2, 2);
                if (c.event == edited_by_user) {
                    write_file(dest_ + "/a.gif", edited);
                    fs::last_write_time(dest_ + "/a.gif",
                                        fs::last_write_time(dest_ + "/a.gif") - std::chrono::hours(1));
                }
                if (c.event == deleted_by_user)
                    fs::remove(dest_ + "/a.gif");
                // The validators go back exactly as the server sent them, and only for a file nobody touched.
                const bool untouched = c.event == unchanged || c.event == changed_on_server;
                site_.requests();
                const ImageCopy second = copy("/x/a.gif", policy);
                EXPECT_EQ(second.result, c.result);
                EXPECT_EQ(second.unchanged, c.result == 0);
                EXPECT_EQ(site_.requests(), std::vector<std::string>{"/x/a.gif" + (untouched ? validators : "")});
                EXPECT_EQ(files(), policy == new_version ? c.versioned : c.replaced);
                EXPECT_TRUE(c.event != unchanged || identity("a.gif") == written);
                const std::string last = c.event == changed_on_server && policy == new_version ? "a-v1.gif" : "a.gif";
                const auto after = std::pair(files(), identity(last));
                EXPECT_TRUE(copy("/x/a.gif", policy).unchanged) << "third run";
                EXPECT_EQ(std::pair(files(), identity(last)), after);
                EXPECT_EQ(site_.requests()[0].find(" ?") != std::string::npos, !sends.empty()) << "third run";
            }
    EXPECT_EQ(remembered_->take_notice(), "");
}

// The memory is a cache: missing, made 0600 without a word; damaged, set aside with its WAL file and made again;
// full, done without. Each is told once, and images are copied all the same.
TEST_F(UnchangedImageTest, TheMemoryIsACacheWhoseTroublesStopNoCopy) {
    const struct {
        char trouble;
        std::string notice;
        bool remembers;
    } cases[] = {{' ', "", true},
                 {'d', "mise de côté sous « " + data_.path() + "/quillmoor.db.bak »", true},
                 {'f', "n'a pas pu être lue ou écrite (erreur d'entrée-sortie du disque)", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.trouble);
        reset_all("el", c.trouble == 'd' ? "damaged " : "");
        site_.put("/x/a.gif", "GIF89a x", 1);
        std::optional<FileSizeLimit> full;
        if (c.trouble == 'f')
            full.emplace(fs::file_size(data_.file("quillmoor.db-wal")));
        EXPECT_EQ(copy("/x/a.gif", new_version).result, image_written);
        EXPECT_TRUE(copy("/x/a.gif", new_version).unchanged);
        EXPECT_EQ(site_.requests().back().find(" ?") != std::string::npos, c.remembers);
        const std::string notice = remembered_->take_notice();
        EXPECT_TRUE(c.notice.empty() ? notice.empty() : notice.find(c.notice) != std::string::npos) << notice;
        EXPECT_EQ(remembered_->take_notice(), "") << "told once";
        EXPECT_EQ(fs::status(data_.file("quillmoor.db")).permissions(), fs::perms::owner_read | fs::perms::owner_write);
        EXPECT_EQ(read_file(data_.file("quillmoor.db.bak")), c.trouble == 'd' ? "damaged quillmoor.db" : "");
    }
}

// Two addresses of one file name: one's validators never go for the other; a second run under policy 3 adds nothing.
TEST_F(UnchangedImageTest, TwoAddressesOfOneFileKeepTheirOwnValidators) {
    for (const int policy : {replace_existing, new_version}) {
        SCOPED_TRACE(policy);
        reset_all("el");
        site_.put("/x/a.gif", "GIF89a x", 1);
        site_.put("/y/a.gif", "GIF89a y", 2);
        for (const std::string path : {"/x/a.gif", "/y/a.gif"})
            EXPECT_EQ(copy(path, policy).result, image_written);
        site_.requests();
        const int second[] = {copy("/x/a.gif", policy).result, copy("/y/a.gif", policy).result};
        const Files replaced{{"a.gif", "GIF89a y"}}, versioned{{"a.gif", "GIF89a x"}, {"a-v1.gif", "GIF89a y"}};
        const std::vector<std::string> unasked{"/x/a.gif", "/y/a.gif"},
            asked{"/x/a.gif ?W/\"v1\" ?Sun, 01 Jan 2006 10:00:00 GMT",
                  "/y/a.gif ?W/\"v2\" ?Sun, 02 Jan 2006 10:00:00 GMT"};
        EXPECT_EQ(files(), policy == new_version ? versioned : replaced);
        EXPECT_EQ(site_.requests(), policy == new_version ? asked : unasked);
        EXPECT_EQ(second[0] + second[1], policy == new_version ? 0 : 2);
    }
}

} // namespace
