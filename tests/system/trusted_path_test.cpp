// What the run trusts: the whole way to a path, and the file or directory at its end.
#include <cstdint>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "support/test_files.h"
#include "system/trusted_path.h"

namespace {

class TrustedPath : public ::testing::Test {
  protected:
    TempDir dir;
    std::string file = dir.file("file.CFG");

    void SetUp() override { write_file(file, "record"); }

    trust file_trust(const std::string &path) {
        std::int64_t size = -1;
        return check_trusted_file(path.c_str(), size);
    }

    std::string make_directory(const std::string &name, mode_t mode) {
        std::string path = dir.file(name);
        EXPECT_EQ(mkdir(path.c_str(), 0700), 0);
        EXPECT_EQ(chmod(path.c_str(), mode), 0);
        return path;
    }
};

TEST_F(TrustedPath, OnlyAPlainFileOfOneLinkAndBoundedSizeIsTakenAsInput) {
    std::int64_t size = -1;
    EXPECT_EQ(check_trusted_file(file.c_str(), size), trust::trusted);
    EXPECT_EQ(size, 6);
    EXPECT_EQ(file_trust(dir.file("missing")), trust::missing);

    ASSERT_EQ(symlink(file.c_str(), dir.file("link").c_str()), 0);
    EXPECT_EQ(file_trust(dir.file("link")), trust::link);
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
    EXPECT_EQ(file_trust(dir.file("fifo")), trust::not_regular);
    EXPECT_EQ(file_trust(dir.path()), trust::not_regular);
    ASSERT_EQ(link(file.c_str(), dir.file("second").c_str()), 0);
    EXPECT_EQ(file_trust(file), trust::many_links);

    std::string sparse = dir.file("sparse");
    write_file(sparse, "");
    ASSERT_EQ(truncate(sparse.c_str(), max_trusted_file_size), 0);
    EXPECT_EQ(file_trust(sparse), trust::trusted);
    ASSERT_EQ(truncate(sparse.c_str(), max_trusted_file_size + 1), 0);
    EXPECT_EQ(file_trust(sparse), trust::too_large);
}

TEST_F(TrustedPath, ADirectoryOthersMayWriteOnTheWayIsNotTrusted) {
    std::string open = make_directory("open", 0777);
    write_file(open + "/file.CFG", "record");
    EXPECT_EQ(file_trust(open + "/file.CFG"), trust::open_to_others);
    EXPECT_EQ(check_trusted_directory(open.c_str()), trust::open_to_others);
    std::string group = make_directory("group", 0770);
    EXPECT_EQ(check_trusted_directory(group.c_str()), trust::open_to_others);

    // Sticky, as /tmp is: others may add names but not replace ours, so the way holds; the
    // staged directory itself must still be writable by no one else.
    std::string sticky = make_directory("sticky", 01777);
    write_file(sticky + "/file.CFG", "record");
    EXPECT_EQ(file_trust(sticky + "/file.CFG"), trust::trusted);
    EXPECT_EQ(check_trusted_directory(sticky.c_str()), trust::open_to_others);
    EXPECT_EQ(check_trusted_directory(dir.path().c_str()), trust::trusted);
}

TEST_F(TrustedPath, LinksOnTheWayAreFollowedAndJudgedLikeTheRest) {
    std::string real = make_directory("real", 0755);
    write_file(real + "/file.CFG", "record");
    ASSERT_EQ(symlink("real", dir.file("relative").c_str()), 0);
    ASSERT_EQ(symlink((real + "/../real/.").c_str(), dir.file("absolute").c_str()), 0);
    EXPECT_EQ(file_trust(dir.file("relative/file.CFG")), trust::trusted);
    EXPECT_EQ(file_trust(dir.file("absolute/file.CFG")), trust::trusted);
    EXPECT_EQ(check_trusted_directory(dir.file("relative").c_str()), trust::link);

    std::string open = make_directory("open", 0777);
    ASSERT_EQ(symlink(real.c_str(), (open + "/way").c_str()), 0);
    EXPECT_EQ(file_trust(open + "/way/file.CFG"), trust::open_to_others);
    ASSERT_EQ(symlink("loop", dir.file("loop").c_str()), 0);
    EXPECT_EQ(file_trust(dir.file("loop/file.CFG")), trust::unreadable);

    char resolved[PATH_MAX];
    struct stat last {};
    ASSERT_EQ(walk_trusted_way(dir.file("relative/new.CFG").c_str(), true, resolved, last),
              trust::missing);
    EXPECT_EQ(std::string(resolved), real + "/new.CFG");
}

TEST_F(TrustedPath, AnotherUsersNameIsNotTrusted) {
    if (geteuid() != 0 || chown(file.c_str(), 1234, 5678) != 0)
        GTEST_SKIP() << "needs root where other users are mapped";
    EXPECT_EQ(file_trust(file), trust::other_owner);
    std::string theirs = make_directory("theirs", 0755);
    write_file(theirs + "/file.CFG", "record");
    ASSERT_EQ(chown(theirs.c_str(), 1234, 5678), 0);
    EXPECT_EQ(file_trust(theirs + "/file.CFG"), trust::other_owner);
    EXPECT_EQ(check_trusted_directory(theirs.c_str()), trust::other_owner);
}

TEST_F(TrustedPath, AFileInADirectoryJustFoundTrustedIsJudgedByItselfTheSameWay) {
    std::int64_t size = -1;
    ASSERT_EQ(check_trusted_directory(dir.path().c_str()), trust::trusted);
    EXPECT_EQ(check_trusted_file(file.c_str(), size, true), trust::trusted);
    EXPECT_EQ(size, 6);
    EXPECT_EQ(check_trusted_file(dir.file("missing").c_str(), size, true), trust::missing);
    ASSERT_EQ(symlink(file.c_str(), dir.file("link").c_str()), 0);
    EXPECT_EQ(check_trusted_file(dir.file("link").c_str(), size, true), trust::link);
    ASSERT_EQ(chmod(file.c_str(), 0664), 0);
    EXPECT_EQ(check_trusted_file(file.c_str(), size, true), trust::open_to_others);
}

TEST(TrustReason, EachVerdictHasItsOwnWords) {
    EXPECT_STREQ(trust_reason(trust::link), "a link");
    EXPECT_STREQ(trust_reason(trust::other_owner), "another user's");
    EXPECT_STREQ(trust_reason(trust::open_to_others), "open to others");
    EXPECT_STREQ(trust_reason(trust::many_links), "many links");
    EXPECT_STREQ(trust_reason(trust::too_large), "too large");
    EXPECT_STREQ(trust_reason(trust::not_directory), "not a directory");
    EXPECT_STREQ(trust_reason(trust::unreadable), "unreadable");
}

} // namespace
