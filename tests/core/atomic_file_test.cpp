#include "store/atomic_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "support/file_size_limit.h"
#include "support/temp_dir.h"

TEST(AtomicFileTest, ReplacesTheWholeFileWithItsModeOrLeavesTheOldOne) {
    TempDir dir;
    const std::string path = dir.file("image.jpg");
    write_file(path, std::string(5000, 'x'));
    ::chmod(path.c_str(), 0644);
    EXPECT_EQ(write_file_atomically(path, "short", Durability::flush_to_disk, 0600), "");
    {
        FileSizeLimit limit(10); // the next write fails part-way
        EXPECT_NE(write_file_atomically(path, std::string(100, 'n'), Durability::flush_to_disk), "");
    }
    EXPECT_EQ(read_file(path), "short");
    EXPECT_EQ(static_cast<unsigned>(std::filesystem::status(path).permissions()), 0600u);
    EXPECT_EQ(list_directory(dir.path()), std::vector<std::string>{"image.jpg"});
}
