#include "ui/volumes.h"

#include <gtest/gtest.h>

TEST(Volumes, TheRootTheHomeAndWritableVolumesOfFilesAFolderInTheLongest) {
    const std::string mounts = "overlay / overlay rw,relatime 0 0\n"
                               "proc /proc proc rw 0 0\n"
                               "tmpfs /tmp tmpfs rw 0 0\n"
                               "/dev/sda1 /boot ext4 rw 0 0\n"
                               "/dev/sdb1 /media/jean/Cl\\303\\251\\040USB vfat rw,nosuid 0 0\n"
                               "/dev/sdc1 /run/media/jean/Photos ext4 rw 0 0\n"
                               "/dev/sr0 /media/jean/CD iso9660 ro,nosuid 0 0\n"
                               "/dev/sdd1 /mnt/plein ext4 rw 0 0\n"
                               "/dev/sde1 /home ext4 rw 0 0\n"
                               "short line\n";
    const std::vector<MountEntry> entries = parse_mounts(mounts);
    ASSERT_EQ(entries.size(), 9u);
    EXPECT_TRUE(entries[6].read_only);
    const auto writable = [](const std::string& path) { return path != "/mnt/plein"; };
    EXPECT_EQ(choose_volumes(entries, "/home/jean", writable),
              (std::vector<std::string>{"/", "/home/jean", "/media/jean/Clé USB", "/run/media/jean/Photos", "/home"}));
    const std::vector<std::string> volumes{"/", "/home/jean", "/home/jeanne", "c:"};
    for (const auto& [folder, volume] : {std::pair{"/home/jean/Images", "/home/jean"},
                                         {"/home/jeanne", "/home/jeanne"},
                                         {"/home/jea", "/"},
                                         {"C:\\Images", ""}})
        EXPECT_EQ(volume_of(folder, volumes), volume) << folder;
}
