// Finding a user's own group in the user database.
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>

#include "history/user_account.h"
#include "support/test_files.h"

namespace {

class PrimaryGroup : public ::testing::Test {
  protected:
    TempDir dir;
    std::string accounts = dir.file("passwd");

    /// The group found for `uid` in a database holding `lines`, or -1 when none is.
    long long group_of(uid_t uid, const std::string &lines) {
        write_file(accounts, lines);
        gid_t group = 99;
        if (!find_primary_group(uid, group, accounts.c_str()))
            return group == 99 ? -1 : -2; // -2: a group left behind on failure
        return static_cast<long long>(group);
    }
};

TEST_F(PrimaryGroup, TheFourthFieldOfTheUsersLine) {
    std::string database = "root:x:0:0:root:/root:/bin/sh\n"
                           "app:x:1234:5678:the app:/home/app:/bin/sh\n"
                           "big:x:4294967294:4294967294::/:/bin/false\n";
    EXPECT_EQ(group_of(1234, database), 5678);
    EXPECT_EQ(group_of(0, database), 0);
    EXPECT_EQ(group_of(4294967294U, database), 4294967294LL);
    EXPECT_EQ(group_of(123, database), -1) << "a prefix of another user's number";
    EXPECT_EQ(group_of(12345, database), -1);
}

TEST_F(PrimaryGroup, TheFirstLineForTheUserCounts) {
    EXPECT_EQ(group_of(1234, "a:x:1234:100::/:/bin/sh\nb:x:1234:200::/:/bin/sh\n"), 100);
}

TEST_F(PrimaryGroup, ALastLineWithoutItsLineEndCounts) {
    EXPECT_EQ(group_of(1234, "root:x:0:0::/:/bin/sh\napp:x:1234:5678::/:/bin/sh"), 5678);
    EXPECT_EQ(group_of(1234, "app:x:1234:5678"), 5678);
}

TEST_F(PrimaryGroup, LinesThatAreNotPlainNumbersNameNoOne) {
    EXPECT_EQ(group_of(1234, "app:x:1234::/:/bin/sh\n"), -1) << "an empty group";
    EXPECT_EQ(group_of(1234, "app:x:1234\n"), -1) << "no group field";
    EXPECT_EQ(group_of(1234, "app:x:+1234:5678::/:/bin/sh\n"), -1);
    EXPECT_EQ(group_of(1234, "app:x:1234:56a8::/:/bin/sh\n"), -1);
    EXPECT_EQ(group_of(1234, "app:x:1234:-1::/:/bin/sh\n"), -1);
    EXPECT_EQ(group_of(1234, "app:x:1234:4294967295::/:/bin/sh\n"), -1) << "(gid_t)-1";
    EXPECT_EQ(group_of(1234, "app:x:1234:99999999999999999999::/:/bin/sh\n"), -1);
    EXPECT_EQ(group_of(1234, "app:1234:5678\n"), -1) << "the numbers one field early";
    // A bad line does not spoil the next one.
    EXPECT_EQ(group_of(1234, "app:x:12x4:1:\napp:x:1234:5678::/:/bin/sh\n"), 5678);
}

TEST_F(PrimaryGroup, LongLinesAreReadAcrossBuffers) {
    std::string comment(2000, 'c');
    EXPECT_EQ(group_of(1234, "a:x:1:1:" + comment + ":/:/bin/sh\napp:x:1234:5678:" + comment +
                                 ":/:/bin/sh\n"),
              5678);
}

TEST_F(PrimaryGroup, NothingButARegularFileIsRead) {
    gid_t group = 99;
    EXPECT_FALSE(find_primary_group(0, group, dir.file("missing").c_str()));
    EXPECT_FALSE(find_primary_group(0, group, dir.path().c_str()));
    std::string fifo = dir.file("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    EXPECT_FALSE(find_primary_group(0, group, fifo.c_str())) << "and it did not block";
    EXPECT_EQ(group, 99u);
}

} // namespace
