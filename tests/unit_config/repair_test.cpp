// The repair phase on a private installed file: when it is rewritten, and what is kept.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>

#include "record_builder.h"
#include "support/test_files.h"
#include "unit_config/unit_config.h"

namespace {

class RepairPhase : public ::testing::Test {
  protected:
    TempDir dir;
    std::string installed = dir.file("UNIT.CFG");
    unit_config_paths paths{"/nonexistent/identity", "/nonexistent/staged", installed.c_str(),
                            "/nonexistent/history"};

    /// Installs `bytes` with a modification time far in the past, so that any write shows.
    void install_old(const std::string &bytes) {
        write_file(installed, bytes);
        struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, installed.c_str(), times, 0), 0);
    }

    bool was_written() {
        struct stat info {};
        EXPECT_EQ(stat(installed.c_str(), &info), 0);
        return info.st_mtim.tv_sec != 1000000000;
    }
};

const std::string correct_1309 = record_bytes(make_record({89, -2026, 1309, 3, 21017, 0xAF48}));

TEST_F(RepairPhase, RewritesARecordThatNeedsIt) {
    install_old(record_bytes(make_record(record_fields().selector(1309))));
    repair_installed_config(paths);
    EXPECT_EQ(read_file(installed), correct_1309);
}

TEST_F(RepairPhase, LeavesARightRecordUnopenedForWriting) {
    install_old(correct_1309);
    repair_installed_config(paths);
    EXPECT_FALSE(was_written());
    EXPECT_EQ(read_file(installed), correct_1309);
}

TEST_F(RepairPhase, LeavesOtherTagsAndShortFilesAlone) {
    const std::string other_tag =
        record_bytes(make_record(record_fields().tag(90).selector(1309).checksum(0xBEEF)));
    const std::string short_record = correct_1309.substr(0, 43);
    for (const std::string &bytes : {other_tag, short_record, std::string()}) {
        install_old(bytes);
        repair_installed_config(paths);
        EXPECT_FALSE(was_written());
        EXPECT_EQ(read_file(installed), bytes);
    }
}

TEST_F(RepairPhase, KeepsBytesBeyondTheRecord) {
    install_old(record_bytes(make_record(record_fields().selector(1309))) + "tail bytes");
    repair_installed_config(paths);
    EXPECT_EQ(read_file(installed), correct_1309 + "tail bytes");
}

TEST_F(RepairPhase, MissingFileIsNotCreated) {
    repair_installed_config(paths);
    EXPECT_FALSE(file_exists(installed));
}

} // namespace
