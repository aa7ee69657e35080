#include "store/atomic_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

#include "support/temp_dir.h"

namespace {

using Names = std::vector<std::string>;

const Durability both_durabilities[] = {Durability::none, Durability::flush_to_disk};

mode_t permissions_of(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return 0;
    return info.st_mode & 07777;
}

/// Sets the process umask for one test and puts the old one back.
class UmaskGuard {
public:
    explicit UmaskGuard(mode_t mask) : old_(::umask(mask)) {}
    ~UmaskGuard() { ::umask(old_); }
    UmaskGuard(const UmaskGuard&) = delete;
    UmaskGuard& operator=(const UmaskGuard&) = delete;

private:
    mode_t old_;
};

TEST(AtomicFileTest, ReplacesTheWholeContent) {
    const std::string binary("GIF89a\0\x01\xff\0tail", 15);
    struct Case {
        const char* label;
        std::string before; // "" for no file yet
        std::string after;
    };
    const Case cases[] = {
        {"new file", "", "first content"},
        {"shorter over longer", std::string(5000, 'x'), "short"},
        {"longer over shorter", "short", std::string(70000, 'y')},
        {"bytes with NULs", "old", binary},
        {"empty over content", "old content", ""},
    };
    for (const auto durability : both_durabilities) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.label) + (durability == Durability::none ? " (none)" : " (flush)"));
            TempDir dir;
            const std::string path = dir.file("image.jpg");
            if (!c.before.empty())
                write_file(path, c.before);
            EXPECT_EQ(write_file_atomically(path, c.after, durability), "");
            EXPECT_EQ(read_file(path), c.after);
            EXPECT_EQ(list_directory(dir.path()), Names{"image.jpg"});
        }
    }
}

TEST(AtomicFileTest, AppliesTheModeLessTheUmask) {
    struct Case {
        mode_t mode, mask, expected;
    };
    const Case cases[] = {
        {0644, 022, 0644}, {0666, 022, 0644}, {0640, 0, 0640}, {0600, 077, 0600}, {0755, 027, 0750},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("mode " + std::to_string(c.mode) + " umask " + std::to_string(c.mask));
        TempDir dir;
        const std::string path = dir.file("f");
        UmaskGuard guard(c.mask);
        ASSERT_EQ(write_file_atomically(path, "x", Durability::none, c.mode), "");
        EXPECT_EQ(permissions_of(path), c.expected);
        // A replaced file takes the new mode, not the old one.
        ASSERT_EQ(::chmod(path.c_str(), 0400), 0);
        ASSERT_EQ(write_file_atomically(path, "y", Durability::none, c.mode), "");
        EXPECT_EQ(permissions_of(path), c.expected);
    }
}

TEST(AtomicFileTest, KeepsANameThatUsesAllOfNameMax) {
    TempDir dir;
    const std::string name(255, 'n');
    const std::string path = dir.file(name);
    EXPECT_EQ(write_file_atomically(path, "content", Durability::none), "");
    EXPECT_EQ(read_file(path), "content");
    EXPECT_EQ(list_directory(dir.path()), Names{name});
}

TEST(AtomicFileTest, AFailureLeavesTheOldFileAndNoTemporaryFile) {
    struct Case {
        const char* label;
        const char* target;   // relative to the folder
        const char* existing; // a file present before, or nullptr
        bool directory_at_target;
        bool read_only_folder;
    };
    const Case cases[] = {
        {"target is a directory", "photo.jpg", nullptr, true, false},
        {"folder missing", "missing/photo.jpg", nullptr, false, false},
        {"read-only folder, new file", "photo.jpg", nullptr, false, true},
        {"read-only folder, old file kept", "photo.jpg", "photo.jpg", false, true},
        {"name ending in a slash", "photo.jpg/", "photo.jpg", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        if (c.read_only_folder && ::geteuid() == 0) {
            // root writes in read-only folders anyway.
            continue;
        }
        TempDir dir;
        if (c.existing)
            write_file(dir.file(c.existing), "old image");
        if (c.directory_at_target)
            std::filesystem::create_directory(dir.file(c.target));
        const Names before = list_directory(dir.path());
        if (c.read_only_folder) {
            ASSERT_EQ(::chmod(dir.path().c_str(), 0555), 0);
        }

        EXPECT_NE(write_file_atomically(dir.file(c.target), "new image", Durability::flush_to_disk), "");

        ::chmod(dir.path().c_str(), 0755);
        EXPECT_EQ(list_directory(dir.path()), before);
        if (c.existing) {
            EXPECT_EQ(read_file(dir.file(c.existing)), "old image");
        }
        if (c.directory_at_target) {
            EXPECT_EQ(list_directory(dir.file(c.target)), Names{});
        }
    }
}

} // namespace
