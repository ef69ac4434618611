// Replacing the installed file: how it is chosen from what the path is, judged once, and what an
// interrupted run leaves beside it goes first.
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "storage/replacement.h"
#include "support/test_files.h"

namespace {

class Replacement : public ::testing::Test {
  protected:
    TempDir dir;
    std::string file = dir.file("file.CFG");

    void SetUp() override { write_file(file, "record"); }
};

TEST_F(Replacement, LeftoversBesideTheInstalledFileAreRemoved) {
    std::string temporary = file + temporary_file_suffix;
    write_file(temporary, "partial copy");
    remove_leftovers(file.c_str());
    EXPECT_FALSE(file_exists(temporary));
    ASSERT_EQ(link(file.c_str(), temporary.c_str()), 0);
    remove_leftovers(file.c_str());
    EXPECT_FALSE(file_exists(temporary));
    EXPECT_EQ(read_file(file), "record");
}

TEST_F(Replacement, APlainFileIsReplacedByRenameALinkOrAHardLinkInPlace) {
    file_replacement plan = plan_replacement(file.c_str());
    EXPECT_EQ(plan.method, replacement_method::by_rename);
    EXPECT_EQ(std::string(replacement_destination(plan)), file + temporary_file_suffix);
    EXPECT_EQ(std::string(plan.installed.directory), dir.path());
    EXPECT_TRUE(installed_file_writable(plan.installed));

    ASSERT_EQ(link(file.c_str(), dir.file("second").c_str()), 0);
    plan = plan_replacement(file.c_str());
    EXPECT_EQ(plan.method, replacement_method::in_place);
    EXPECT_EQ(std::string(replacement_destination(plan)), file);

    std::string link_path = dir.file("link.CFG");
    ASSERT_EQ(symlink(dir.file("target.CFG").c_str(), link_path.c_str()), 0);
    plan = plan_replacement(link_path.c_str());
    EXPECT_EQ(plan.method, replacement_method::in_place);
    EXPECT_EQ(std::string(plan.installed.missing_target), dir.file("target.CFG"));
    ASSERT_TRUE(begin_replacement(plan));
    EXPECT_TRUE(file_exists(dir.file("target.CFG")));
    abandon_replacement(plan);
    EXPECT_FALSE(file_exists(dir.file("target.CFG")));
}

TEST_F(Replacement, NothingIsWrittenWhereOthersMayChangeTheWayOrNoFileCanBe) {
    std::string open = dir.file("open");
    ASSERT_EQ(mkdir(open.c_str(), 0700), 0);
    ASSERT_EQ(chmod(open.c_str(), 0777), 0);
    write_file(open + "/file.CFG" + temporary_file_suffix, "left by another user");
    file_replacement plan = plan_replacement((open + "/file.CFG").c_str());
    EXPECT_EQ(plan.method, replacement_method::refused);
    EXPECT_EQ(plan.installed.verdict, trust::open_to_others);
    EXPECT_FALSE(begin_replacement(plan));
    EXPECT_FALSE(installed_file_writable(plan.installed));
    // Nothing is removed in a directory others may change.
    EXPECT_TRUE(file_exists(open + "/file.CFG" + temporary_file_suffix));

    std::string directory = dir.file("directory.CFG");
    ASSERT_EQ(mkdir(directory.c_str(), 0755), 0);
    installed_path judged;
    judge_installed_path(directory.c_str(), judged);
    EXPECT_EQ(judged.verdict, trust::not_regular);
}

TEST_F(Replacement, ATemporaryNameThatCannotBeRemovedLeavesTheFileInPlace) {
    std::string temporary = file + temporary_file_suffix;
    ASSERT_EQ(mkdir(temporary.c_str(), 0755), 0);
    write_file(temporary + "/inside", "keeps the directory");
    EXPECT_EQ(plan_replacement(file.c_str()).method, replacement_method::in_place);
}

} // namespace
