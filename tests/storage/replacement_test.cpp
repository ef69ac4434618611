// Replacing the installed file: what an interrupted run leaves beside it goes first.
#include <gtest/gtest.h>
#include <string>
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

} // namespace
