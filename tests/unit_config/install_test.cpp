// The install phase on private paths: which identity records install, and what a copy logs.
#include <cstdint>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "record_builder.h"
#include "support/test_files.h"
#include "unit_config/install.h"
#include "unit_config/unit_config.h"

namespace {

constexpr char installed_bytes[] = "configuration installed before";

/// An identity record whose first two bytes are `low`, then `high`.
std::string identity_record(std::uint8_t low, std::uint8_t high) {
    return identity_of(static_cast<std::uint16_t>(low | high << 8));
}

class Install : public ::testing::Test {
  protected:
    TempDir dir;
    std::string identity = dir.file("UNIT.CFG");
    std::string staged = dir.file("staged");
    std::string installed = dir.file("installed.CFG");
    std::string history = dir.file("History.txt");
    unit_config_paths paths{identity.c_str(), staged.c_str(), installed.c_str(), history.c_str()};
    std::string printed;

    void SetUp() override {
        ASSERT_EQ(mkdir(staged.c_str(), 0755), 0);
        ASSERT_EQ(chmod(staged.c_str(), 0755), 0); // whatever the umask
        write_file(installed, installed_bytes);
    }

    void stage(std::uint16_t unit) {
        write_file(staged + "/" + std::to_string(unit) + ".CFG", staged_bytes);
    }

    void install() {
        testing::internal::CaptureStdout();
        install_unit_config(paths);
        printed = testing::internal::GetCapturedStdout();
    }

    void expect_nothing_happened() {
        EXPECT_EQ(read_file(installed), installed_bytes);
        EXPECT_FALSE(file_exists(history));
        EXPECT_EQ(printed, "");
    }

    void expect_installed(std::uint16_t unit) {
        EXPECT_EQ(read_file(installed), staged_bytes);
        std::string entry = " - UNIT_CFG of " + std::to_string(unit) + " updated successfully.\n";
        std::string text = read_file(history);
        EXPECT_EQ(text.find('\n'), text.size() - 1) << text;
        EXPECT_EQ(text.substr(text.size() - std::min(text.size(), entry.size())), entry);
        EXPECT_EQ(printed, "");
    }

    /// The failure a missing staged file gives: the message, the failure entry, nothing copied.
    void expect_failed(const std::string &installed_before = installed_bytes) {
        EXPECT_EQ(printed, "Command not found or exited with error status\n");
        EXPECT_EQ(read_file(installed), installed_before);
        std::string text = read_file(history);
        std::string entry = " - UNIT_CFG of 6170 updated failed. Might not found the file.\n";
        EXPECT_EQ(text.find('\n'), text.size() - 1) << text;
        EXPECT_EQ(text.substr(text.size() - std::min(text.size(), entry.size())), entry);
        (void)unlink(history.c_str());
    }

    std::string mode_of(const std::string &path) {
        struct stat info {};
        EXPECT_EQ(stat(path.c_str(), &info), 0);
        char text[8];
        std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(info.st_mode & 07777));
        return text;
    }
};

/// A staged file as the install would have judged it, with `path` as its path.
staged_file staged_at(const char *path) {
    staged_file staged{{}, trust::trusted, 0};
    std::snprintf(staged.path, sizeof staged.path, "%s", path);
    return staged;
}

TEST(CopyCommand, DefaultTextIsExact) {
    char command[copy_command_capacity];
    ASSERT_TRUE(build_copy_command(staged_at("/tmp/Quarvane/6170.CFG"),
                                   default_unit_config_paths.installed_file, command));
    EXPECT_STREQ(command, "cp /tmp/Quarvane/6170.CFG /usr/share/Quarvane/UNIT.CFG");
}

TEST(CopyCommand, RefusesPathsThatAreNotOnePlainWord) {
    char command[copy_command_capacity];
    EXPECT_FALSE(build_copy_command(staged_at("/tmp/a b/6170.CFG"), "/x/UNIT.CFG", command));
    EXPECT_FALSE(build_copy_command(staged_at("/tmp/q/6170.CFG"), "/x/$(reboot)", command));
    EXPECT_STREQ(command, "");
    EXPECT_FALSE(build_copy_command(staged_at(""), "/x/UNIT.CFG", command));
    std::string longest = "/" + std::string(max_copy_path_length - 1, 'd');
    EXPECT_TRUE(build_copy_command(staged_at("/tmp/q/6170.CFG"), longest.c_str(), command));
    EXPECT_FALSE(
        build_copy_command(staged_at("/tmp/q/6170.CFG"), (longest + "d").c_str(), command));
}

// The path the install judges is the one its command copies: built once, from the directory and
// the unit number in decimal.
TEST(StagedFile, ItsPathIsTheDirectoryAndTheUnitNumber) {
    TempDir dir;
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    write_file(dir.file("6170.CFG"), staged_bytes);
    ASSERT_EQ(chmod(dir.file("6170.CFG").c_str(), 0644), 0);
    staged_file staged = judge_staged_file(dir.path().c_str(), 6170);
    EXPECT_EQ(std::string(staged.path), dir.file("6170.CFG"));
    EXPECT_EQ(staged.verdict, trust::trusted);
    EXPECT_EQ(staged.size, static_cast<std::int64_t>(sizeof staged_bytes - 1));
    EXPECT_EQ(std::string(judge_staged_file(dir.path().c_str(), 65535).path),
              dir.file("65535.CFG"));
    EXPECT_EQ(judge_staged_file(dir.path().c_str(), 65535).verdict, trust::missing);

    std::string overlong = "/" + std::string(max_copy_path_length + 5, 'd');
    staged = judge_staged_file(overlong.c_str(), 6170);
    EXPECT_STREQ(staged.path, "");
    EXPECT_EQ(staged.verdict, trust::unreadable);
}

TEST(StagedFile, AFileInADirectoryOthersMayWriteOrALinkedOneIsNotTrusted) {
    TempDir dir;
    std::string open = dir.file("open");
    ASSERT_EQ(mkdir(open.c_str(), 0700), 0);
    ASSERT_EQ(chmod(open.c_str(), 0777), 0);
    write_file(open + "/6170.CFG", staged_bytes);
    EXPECT_EQ(judge_staged_file(open.c_str(), 6170).verdict, trust::open_to_others);

    std::string real = dir.file("real");
    ASSERT_EQ(mkdir(real.c_str(), 0755), 0);
    write_file(real + "/6170.CFG", staged_bytes);
    ASSERT_EQ(symlink(real.c_str(), dir.file("linked").c_str()), 0);
    EXPECT_EQ(judge_staged_file(dir.file("linked").c_str(), 6170).verdict, trust::link);
    EXPECT_EQ(judge_staged_file(real.c_str(), 6170).verdict, trust::trusted);
    ASSERT_EQ(symlink((real + "/6170.CFG").c_str(), (real + "/6171.CFG").c_str()), 0);
    EXPECT_EQ(judge_staged_file(real.c_str(), 6171).verdict, trust::link);
}

TEST_F(Install, KnownUnitIsCopiedAndLogged) {
    stage(6170);
    write_file(identity, identity_record(0x1A, 0x18));
    install();
    expect_installed(6170);
}

TEST_F(Install, EveryKnownUnitInstalls) {
    const std::uint16_t known[] = {6162, 6163, 6164, 6165, 6166, 6167, 6168, 6169, 6170,
                                   6171, 6172, 6173, 6174, 6175, 6350, 6351, 6352, 6353,
                                   6354, 6355, 6356, 6357, 6358, 6360, 6362};
    for (std::uint16_t unit : known) {
        SCOPED_TRACE(unit);
        write_file(installed, installed_bytes);
        write_file(history, "");
        stage(unit);
        write_file(identity, identity_of(unit));
        install();
        expect_installed(unit);
    }
}

TEST_F(Install, UnknownUnitsChangeNothingEvenWhenStaged) {
    for (std::uint16_t unit : {6161, 6176, 6349, 6359, 6361, 6363, 0, 65535}) {
        SCOPED_TRACE(unit);
        stage(unit);
        write_file(identity, identity_of(unit));
        install();
        expect_nothing_happened();
    }
}

TEST_F(Install, UnitNumberIsLittleEndian) {
    stage(6170);
    stage(0x1A18);
    write_file(identity, identity_record(0x18, 0x1A));
    install();
    expect_nothing_happened();
}

TEST_F(Install, IdentityNeedsAWholeRecordInARegularFile) {
    stage(6170);
    install();
    expect_nothing_happened();

    for (const std::string &short_record : {identity_of(6170, 63), std::string()}) {
        write_file(identity, short_record);
        install();
        expect_nothing_happened();
    }

    ASSERT_EQ(unlink(identity.c_str()), 0);
    ASSERT_EQ(mkdir(identity.c_str(), 0700), 0);
    install();
    expect_nothing_happened();
}

TEST_F(Install, IdentityBeyond64BytesIsIgnored) {
    stage(6170);
    write_file(identity, identity_of(6170, 100));
    install();
    expect_installed(6170);
}

TEST_F(Install, KnownUnitWithoutStagedFileIsLoggedAsFailed) {
    write_file(identity, identity_of(6170));
    install();
    expect_failed();
}

TEST_F(Install, AStagedFileOthersCouldHavePutThereFailsLikeAMissingOne) {
    write_file(identity, identity_of(6170));
    std::string staged_file = staged + "/6170.CFG";
    std::string elsewhere = dir.file("elsewhere");
    write_file(elsewhere, staged_bytes);

    ASSERT_EQ(symlink(elsewhere.c_str(), staged_file.c_str()), 0);
    install();
    expect_failed();
    ASSERT_EQ(unlink(staged_file.c_str()), 0);
    ASSERT_EQ(link(elsewhere.c_str(), staged_file.c_str()), 0);
    install();
    expect_failed();
    ASSERT_EQ(unlink(staged_file.c_str()), 0);
    ASSERT_EQ(mkfifo(staged_file.c_str(), 0644), 0);
    install();
    expect_failed();
    ASSERT_EQ(unlink(staged_file.c_str()), 0);
    write_file(staged_file, std::string(64 * 1024 + 1, 'x'));
    install();
    expect_failed();
    stage(6170);
    ASSERT_EQ(chmod(staged.c_str(), 0777), 0);
    install();
    expect_failed();
    // A record written by another user would choose among root's staged files.
    ASSERT_EQ(chmod(staged.c_str(), 0755), 0);
    ASSERT_EQ(unlink(identity.c_str()), 0);
    ASSERT_EQ(symlink(dir.file("identity.bin").c_str(), identity.c_str()), 0);
    write_file(dir.file("identity.bin"), identity_of(6170));
    install();
    expect_nothing_happened();
}

TEST_F(Install, ADirectoryAtTheInstalledPathFailsTheInstall) {
    write_file(identity, identity_of(6170));
    stage(6170);
    ASSERT_EQ(unlink(installed.c_str()), 0);
    ASSERT_EQ(mkdir(installed.c_str(), 0755), 0);
    install();
    EXPECT_EQ(printed, "Command not found or exited with error status\n");
    EXPECT_FALSE(file_exists(installed + "/6170.CFG"));
    EXPECT_NE(read_file(history).find("updated failed."), std::string::npos);
}

TEST_F(Install, TheInstalledFileIsDataWhateverModeTheStagedFileHas) {
    write_file(identity, identity_of(6170));
    stage(6170);
    ASSERT_EQ(chmod((staged + "/6170.CFG").c_str(), 04755), 0);
    ASSERT_EQ(unlink(installed.c_str()), 0);
    install();
    expect_installed(6170);
    EXPECT_EQ(mode_of(installed), "0644");
    // A mode taken over from the old file loses its set-id and sticky bits.
    ASSERT_EQ(chmod(installed.c_str(), 07750), 0);
    install();
    EXPECT_EQ(mode_of(installed), "0750");
}

TEST_F(Install, ALinkAtTheInstalledPathIsWrittenThroughOnlyAlongATrustedWay) {
    write_file(identity, identity_of(6170));
    stage(6170);
    std::string target = dir.file("target.CFG");
    ASSERT_EQ(unlink(installed.c_str()), 0);
    ASSERT_EQ(symlink(target.c_str(), installed.c_str()), 0);
    // Dangling: the target is made, then written through, as any cp does.
    install();
    expect_installed(6170);
    EXPECT_EQ(mode_of(target), "0644");
    (void)unlink(history.c_str());
    write_file(target, installed_bytes);
    install();
    expect_installed(6170);

    std::string open = dir.file("open");
    ASSERT_EQ(mkdir(open.c_str(), 0700), 0);
    ASSERT_EQ(chmod(open.c_str(), 0777), 0);
    write_file(open + "/target.CFG", installed_bytes);
    ASSERT_EQ(unlink(installed.c_str()), 0);
    ASSERT_EQ(symlink((open + "/target.CFG").c_str(), installed.c_str()), 0);
    (void)unlink(history.c_str());
    install();
    expect_failed();
}

} // namespace
