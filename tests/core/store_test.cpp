// The store layer: file-name filters, and images written under their destination.
#include "store/destination.h"
#include "store/file_name_filter.h"
#include "store/image_store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <tuple>

#include "net/address.h"
#include "net/text.h"
#include "support/fake_transfer.h"
#include "support/file_size_limit.h"
#include "support/temp_dir.h"

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

/// The destination is "dest" in a scratch folder, beside "outside", which
/// shows anything written where it should not be.
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

} // namespace
