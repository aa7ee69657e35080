#include "store/atomic_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/file_size_limit.h"
#include "support/temp_dir.h"

namespace {

TEST(AtomicFileTest, ReplacesTheWholeFileWithItsModeOrLeavesTheOldOne) {
    const struct {
        std::string before, after; // no file before when ""
        mode_t mode;
        rlim_t size_limit = RLIM_INFINITY;
    } cases[] = {
        {std::string(5000, 'x'), "short", 0600},        // the new mode, not the old file's
        {"old image", std::string(100, 'n'), 0600, 10}, // the write fails part-way
    };
    const mode_t old_mask = ::umask(022);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.after.substr(0, 5));
        TempDir dir;
        const std::string path = dir.file("image.jpg");
        if (!c.before.empty())
            write_file(path, c.before);
        const bool fails = c.size_limit != RLIM_INFINITY;
        FileSizeLimit limit(c.size_limit);
        EXPECT_EQ(write_file_atomically(path, c.after, Durability::flush_to_disk, c.mode).empty(), !fails);
        EXPECT_EQ(static_cast<mode_t>(std::filesystem::status(path).permissions()), fails ? 0644u : c.mode);
        EXPECT_EQ(read_file(path), fails ? c.before : c.after);
        EXPECT_EQ(list_directory(dir.path()), std::vector<std::string>{"image.jpg"});
    }
    ::umask(old_mask);
}

} // namespace
