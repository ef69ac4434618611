// Finding a mount point in mountinfo text, as on a kernel without statx's mount-root attribute.
#include <cstdio>
#include <gtest/gtest.h>
#include <string>

#include "storage/mount_point.h"
#include "support/test_files.h"

namespace {

bool listed(const std::string &mountinfo, const char *path) {
    TempDir dir;
    write_file(dir.file("mountinfo"), mountinfo);
    FILE *file = std::fopen(dir.file("mountinfo").c_str(), "r");
    bool answer = mountinfo_lists(file, path);
    std::fclose(file);
    return answer;
}

constexpr char mountinfo[] =
    "22 1 8:1 / / rw,relatime - ext4 /dev/sda1 rw\n"
    "30 22 0:25 /share /usr/share rw - overlay overlay rw,lowerdir=/ro,upperdir=/rw/u\n"
    "41 30 8:1 /data/UNIT.CFG /usr/share/Quarvane/UNIT.CFG rw - jffs2 mtd0 rw\n"
    "42 30 8:1 / /usr/share/Quarvane/My\\040Unit\\134.CFG rw - tmpfs x rw\n"
    "43 30 8:1 / /usr/share/Quarvane/Gone.CFG\\040(deleted) rw - tmpfs x rw";

TEST(MountInfo, FindsExactlyTheMountPointField) {
    EXPECT_TRUE(listed(mountinfo, "/usr/share/Quarvane/UNIT.CFG"));
    EXPECT_TRUE(listed(mountinfo, "/usr/share"));
    EXPECT_TRUE(listed(mountinfo, "/"));
    // Neither a prefix, nor a longer path, nor the root field of another mount matches.
    EXPECT_FALSE(listed(mountinfo, "/usr/share/Quarvane"));
    EXPECT_FALSE(listed(mountinfo, "/usr/share/Quarvane/UNIT.CFG.new"));
    EXPECT_FALSE(listed(mountinfo, "/data/UNIT.CFG"));
    EXPECT_FALSE(listed(mountinfo, "/usr/share/Quarvane/Gone.CFG"));
}

TEST(MountInfo, DecodesOctalEscapes) {
    EXPECT_TRUE(listed(mountinfo, "/usr/share/Quarvane/My Unit\\.CFG"));
    EXPECT_FALSE(listed(mountinfo, "/usr/share/Quarvane/My\\040Unit\\134.CFG"));
}

TEST(MountInfo, ShortOrBrokenLinesMatchNothing) {
    EXPECT_FALSE(listed("", "/"));
    EXPECT_FALSE(listed("1 2 3 /\n", "/"));
    EXPECT_FALSE(listed("1 2 3 / /x\\04\n1 2 3 / /y", "/x\x04"));
    EXPECT_TRUE(listed("1 2 3 / /x\\04\n1 2 3 / /y", "/y"));
    EXPECT_TRUE(listed("1 2 3 / /a\n\n1 2 3 / /x rw", "/x"));
}

TEST(MountPoint, KernelTellsAFileMountedOverAnother) {
    // The root of this process's mounts is one; a plain file inside a directory is none.
    EXPECT_EQ(is_mount_point("/"), mount_point_answer::yes);
    TempDir dir;
    write_file(dir.file("plain"), "x");
    EXPECT_EQ(is_mount_point(dir.file("plain").c_str()), mount_point_answer::no);
}

} // namespace
