// The choice of the data folder and the lock that keeps two processes from
// rewriting planifs.txt together.
#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

#include "support/temp_dir.h"
#include "ui/data_folder.h"
#include "ui/instance_lock.h"

namespace {

mode_t permissions(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode) ? status.st_mode & 0777 : 0;
}

TEST(DataFolder, UserFolderElseFolderBesideTheProgram) {
    struct Case {
        const char* name;
        const char* xdg_data_home; ///< relative to the test's folder, "" unset, "=" kept as written
        const char* home;
        const char* program_folder;
        const char* expected; ///< relative to the test's folder; "" for no usable folder
        bool fallback;
    };
    const Case cases[] = {
        {"XDG_DATA_HOME, created", "xdg/data", "home", "bin/", "xdg/data/Qmr/", false},
        {"no XDG_DATA_HOME: under the home", "", "home", "bin/", "home/.local/share/Qmr/", false},
        {"a relative XDG_DATA_HOME is ignored", "=rel/data", "home", "bin/", "home/.local/share/Qmr/", false},
        {"XDG_DATA_HOME is a file", "a-file", "home", "bin/", "bin/qmrsetin/", true},
        {"Qmr is a file", "with-file", "home", "bin/", "bin/qmrsetin/", true},
        {"neither XDG_DATA_HOME nor home", "", "", "bin", "bin/qmrsetin/", true},
        {"the fallback is a file too", "a-file", "", "blocked/", "", false},
        {"nothing known", "", "", "", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TempDir root;
        write_file(root.file("a-file"), "x");
        std::filesystem::create_directories(root.file("with-file"));
        write_file(root.file("with-file/Qmr"), "x");
        std::filesystem::create_directories(root.file("blocked"));
        write_file(root.file("blocked/qmrsetin"), "x");
        std::filesystem::create_directories(root.file("bin"));

        const auto place = [&](const char* relative) {
            return *relative == '\0' ? std::string() : root.file(relative);
        };
        DataFolderSources sources{place(c.xdg_data_home), place(c.home), place(c.program_folder)};
        if (c.xdg_data_home[0] == '=')
            sources.xdg_data_home = c.xdg_data_home + 1;

        const DataFolder folder = choose_data_folder(sources);
        EXPECT_EQ(folder.path, place(c.expected));
        EXPECT_EQ(folder.fallback, c.fallback);
        EXPECT_EQ(folder.error.empty(), *c.expected != '\0');
        if (*c.expected != '\0') {
            EXPECT_EQ(permissions(folder.path), 0700u);
        }
    }
}

TEST(DataFolder, AnExistingFolderIsUsedAsItIs) {
    const TempDir root;
    std::filesystem::create_directories(root.file("xdg/Qmr"));
    chmod(root.file("xdg/Qmr").c_str(), 0755);
    write_file(root.file("xdg/Qmr/planifs.txt"), "kept");

    const DataFolder folder = choose_data_folder({root.file("xdg"), "", ""});
    EXPECT_EQ(folder.path, root.file("xdg/Qmr/"));
    EXPECT_EQ(permissions(folder.path), 0755u);
    EXPECT_EQ(read_file(folder.path + "planifs.txt"), "kept");
}

TEST(InstanceLock, OneHolderAtATime) {
    const TempDir root;
    const std::string path = root.file(InstanceLock::file_name);

    InstanceLock first;
    ASSERT_EQ(first.acquire(path), InstanceLock::State::held);
    // Another open of the file, as another process would make, is refused.
    InstanceLock second;
    EXPECT_EQ(second.acquire(path), InstanceLock::State::held_elsewhere);
    EXPECT_FALSE(second.held());

    // Moving the lock keeps it held.
    InstanceLock moved = std::move(first);
    EXPECT_FALSE(first.held());
    EXPECT_EQ(second.acquire(path), InstanceLock::State::held_elsewhere);

    moved.release();
    EXPECT_EQ(second.acquire(path), InstanceLock::State::held);
    { InstanceLock scoped = std::move(second); }
    EXPECT_EQ(InstanceLock().acquire(path), InstanceLock::State::held);
}

TEST(InstanceLock, AMissingFolderFails) {
    const TempDir root;
    InstanceLock lock;
    EXPECT_EQ(lock.acquire(root.file("missing/verrou")), InstanceLock::State::failed);
    EXPECT_NE(lock.error(), "");
}

} // namespace
