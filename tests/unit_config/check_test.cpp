// The --check report on private paths: every line form it prints, every reason a file is not
// trusted, and every exit status, as a reader of the report sees them.
#include <cstdint>
#include <cstdio>
#include <gtest/gtest.h>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "record_builder.h"
#include "support/test_files.h"
#include "system/trusted_path.h"
#include "unit_config/check_report.h"
#include "unit_config/unit_config.h"

namespace {

/// A record that needs every repair: selector 1309, everything else zero.
const std::string needs_repair = record_bytes(make_record(record_fields().selector(1309)));
/// The same record repaired: nothing left to change.
const std::string repaired = record_bytes(make_record({89, -2026, 1309, 3, 21017, 0xAF48}));
/// The report's lines of that repaired record.
constexpr char repaired_fields[] = "tag: 89\n"
                                   "adjusted_value: -2026\n"
                                   "selector: 1309\n"
                                   "option_byte: 3\n"
                                   "adjust_stamp: 21017\n"
                                   "checksum: 0xAF48 (right)\n";

class Check : public ::testing::Test {
  protected:
    TempDir dir;
    std::string identity = dir.file("UNIT.CFG");
    std::string staged = dir.file("staged");
    std::string installed = dir.file("installed.CFG");
    unit_config_paths paths{identity.c_str(), staged.c_str(), installed.c_str(),
                            "/nonexistent/history"};
    int status = -1;

    void SetUp() override {
        ASSERT_EQ(mkdir(staged.c_str(), 0755), 0);
        ASSERT_EQ(chmod(staged.c_str(), 0755), 0);
    }

    /// Writes `bytes` at `path` with `mode`, whatever the umask.
    void put(const std::string &path, const std::string &bytes, mode_t mode = 0644) {
        write_file(path, bytes);
        ASSERT_EQ(chmod(path.c_str(), mode), 0);
    }

    void stage(std::uint16_t unit, const std::string &bytes = staged_bytes) {
        put(staged + "/" + std::to_string(unit) + ".CFG", bytes);
    }

    /// The report, with the exit status left in `status`.
    std::string check() {
        std::FILE *report = std::tmpfile();
        EXPECT_NE(report, nullptr);
        status = check_unit_config(report, paths);
        std::rewind(report);
        std::string text;
        for (int c = std::getc(report); c != EOF; c = std::getc(report))
            text += static_cast<char>(c);
        std::fclose(report);
        return text;
    }
};

TEST_F(Check, NothingPresentIsNoRecord) {
    EXPECT_EQ(check(), "identity: missing\n"
                       "known: no\n"
                       "installed: missing\n"
                       "install: no\n"
                       "repair: none\n");
    EXPECT_EQ(status, 2);
}

TEST_F(Check, ARightInstalledRecordIsNothingToDo) {
    put(installed, repaired);
    EXPECT_EQ(check(), "identity: missing\n"
                       "known: no\n"
                       "installed: 44 bytes\n" +
                           std::string(repaired_fields) +
                           "install: no\n"
                           "repair: none\n");
    EXPECT_EQ(status, 0);
}

TEST_F(Check, ARepairNamesEachFieldOldAndNew) {
    put(installed, needs_repair + "tail");
    EXPECT_EQ(check(), "identity: missing\n"
                       "known: no\n"
                       "installed: 48 bytes\n"
                       "tag: 89\n"
                       "adjusted_value: 0\n"
                       "selector: 1309\n"
                       "option_byte: 0\n"
                       "adjust_stamp: 0\n"
                       "checksum: 0x0000 (wrong)\n"
                       "install: no\n"
                       "repair: option_byte 0 -> 3\n"
                       "repair: adjusted_value 0 -> -2026\n"
                       "repair: adjust_stamp 0 -> 21017\n"
                       "repair: checksum 0x0000 -> 0xAF48\n");
    EXPECT_EQ(status, 1);
}

TEST_F(Check, NumbersPrintWholeAndSigned) {
    // An erased tag, a negative value and a checksum with letters: 64-bit decimal on every build.
    put(installed, record_bytes(make_record({0xFFFFFFFF, -32768, 65535, 255, 65535, 0xBEEF})));
    std::string report = check();
    EXPECT_NE(report.find("tag: 4294967295\n"), std::string::npos) << report;
    EXPECT_NE(report.find("adjusted_value: -32768\n"), std::string::npos) << report;
    EXPECT_NE(report.find("selector: 65535\n"), std::string::npos) << report;
    EXPECT_NE(report.find("option_byte: 255\n"), std::string::npos) << report;
    EXPECT_NE(report.find("adjust_stamp: 65535\n"), std::string::npos) << report;
    EXPECT_NE(report.find("checksum: 0xBEEF (wrong)\n"), std::string::npos) << report;
    // Another tag is never repaired.
    EXPECT_NE(report.find("repair: none\n"), std::string::npos) << report;
    EXPECT_EQ(status, 0);
}

TEST_F(Check, WhyAFileGivesNoRecord) {
    put(identity, identity_of(6170, 63));
    put(installed, needs_repair.substr(0, 10));
    EXPECT_EQ(check(), "identity: short, 63 bytes\n"
                       "known: no\n"
                       "installed: short, 10 bytes\n"
                       "install: no\n"
                       "repair: none\n");
    EXPECT_EQ(status, 2);

    ASSERT_EQ(unlink(identity.c_str()), 0);
    ASSERT_EQ(mkdir(identity.c_str(), 0755), 0);
    ASSERT_EQ(unlink(installed.c_str()), 0);
    ASSERT_EQ(mkfifo(installed.c_str(), 0644), 0);
    EXPECT_EQ(check(), "identity: not a regular file\n"
                       "known: no\n"
                       "installed: not a regular file\n"
                       "install: no\n"
                       "repair: none\n");
    EXPECT_EQ(status, 2);
}

TEST_F(Check, AnIdentityOthersCouldHaveWrittenIsNotTrustedAndSaysWhy) {
    std::string elsewhere = dir.file("identity.bin");
    put(elsewhere, identity_of(6170));
    ASSERT_EQ(symlink(elsewhere.c_str(), identity.c_str()), 0);
    EXPECT_EQ(check().substr(0, 39), "identity: not trusted, a link\nknown: no");

    ASSERT_EQ(unlink(identity.c_str()), 0);
    ASSERT_EQ(link(elsewhere.c_str(), identity.c_str()), 0);
    EXPECT_EQ(check().substr(0, 33), "identity: not trusted, many links");

    ASSERT_EQ(unlink(elsewhere.c_str()), 0);
    put(identity, identity_of(6170), 0664);
    EXPECT_EQ(check().substr(0, 37), "identity: not trusted, open to others");
}

TEST_F(Check, AnUnknownUnitInstallsNothing) {
    put(identity, identity_of(6161));
    stage(6161);
    EXPECT_EQ(check(), "identity: 6161\n"
                       "known: no\n"
                       "installed: missing\n"
                       "install: no\n"
                       "repair: none\n");
    EXPECT_EQ(status, 2);
}

TEST_F(Check, AKnownUnitsStagedFileIsInstalledAndItsRecordRepaired) {
    put(identity, identity_of(6170));
    stage(6170, needs_repair);
    // Another unit's right record: the install changes it.
    put(installed, record_bytes(make_record({89, -2036, 1310, 3, 21017, 0xAF51})));
    std::string report = check();
    EXPECT_EQ(report.substr(0, 43), "identity: 6170\nknown: yes\nstaged: 44 bytes\n");
    EXPECT_NE(report.find("install: yes\n"
                          "repairs: the staged record\n"
                          "repair: option_byte 0 -> 3\n"),
              std::string::npos)
        << report;
    EXPECT_EQ(status, 1);

    // A staged file that is no whole record is installed all the same, and nothing is repaired.
    stage(6170, "short");
    report = check();
    EXPECT_NE(report.find("staged: 5 bytes\n"), std::string::npos) << report;
    EXPECT_EQ(report.substr(report.size() - 53),
              "install: yes\nrepairs: the staged record\nrepair: none\n");
    EXPECT_EQ(status, 1);
}

/// The check on what a run has just made, through the real install and repair, with the staged
/// file left where it was (it stays in /tmp until the next boot).
class CheckAfterARun : public Check {
  protected:
    std::string history = dir.file("History.txt");

    void run() {
        paths.history_file = history.c_str();
        install_unit_config(paths);
        repair_installed_config(paths);
    }

    /// The "install: ..." line of the report, with the status left in `status`.
    std::string install_line() {
        std::string report = check();
        std::size_t at = report.find("install: ");
        return at == std::string::npos ? report : report.substr(at, report.find('\n', at) - at);
    }
};

TEST_F(CheckAfterARun, AGoodRunLeavesNothingToChange) {
    // A tail longer than the comparison reads at a time, each byte its own.
    std::string tail;
    for (int i = 0; i < 600; ++i)
        tail += static_cast<char>(i * 7);
    put(identity, identity_of(6170));
    stage(6170, needs_repair + tail);
    run();
    ASSERT_EQ(read_file(installed), repaired + tail);
    EXPECT_EQ(check(), "identity: 6170\n"
                       "known: yes\n"
                       "staged: 644 bytes\n"
                       "installed: 644 bytes\n" +
                           std::string(repaired_fields) +
                           "install: yes, the same as installed\n"
                           "repairs: the staged record\n"
                           "repair: option_byte 0 -> 3\n"
                           "repair: adjusted_value 0 -> -2026\n"
                           "repair: adjust_stamp 0 -> 21017\n"
                           "repair: checksum 0x0000 -> 0xAF48\n");
    EXPECT_EQ(status, 0);

    // A staged record that needs no repair, and a second run over the first.
    stage(6170, repaired);
    run();
    run();
    EXPECT_EQ(install_line(), "install: yes, the same as installed");
    EXPECT_EQ(status, 0);
}

TEST_F(CheckAfterARun, AnyByteThatDiffersIsAChange) {
    std::string tail(600, 'T');
    put(identity, identity_of(6170));
    stage(6170, needs_repair + tail);
    run();
    const std::string left = read_file(installed);
    ASSERT_EQ(left, repaired + tail);
    auto flipped = [&left](std::size_t at) {
        std::string bytes = left;
        bytes[at] = static_cast<char>(bytes[at] ^ 1);
        return bytes;
    };
    for (const std::string &bytes :
         {left + "x", left.substr(0, left.size() - 1), flipped(0), flipped(43), flipped(44),
          flipped(44 + 256), flipped(left.size() - 1), std::string()}) {
        put(installed, bytes);
        EXPECT_EQ(install_line(), "install: yes") << bytes.size();
        EXPECT_EQ(status, 1) << bytes.size();
    }
    put(installed, left);
    EXPECT_EQ(install_line(), "install: yes, the same as installed");

    // A staged record that differs from the one installed: another selector's correction.
    stage(6170, record_bytes(make_record(record_fields().selector(1310))) + tail);
    EXPECT_EQ(install_line(), "install: yes");
    EXPECT_EQ(status, 1);
    // A staged file that is longer than the installed one.
    stage(6170, left + "x");
    EXPECT_EQ(install_line(), "install: yes");
    EXPECT_EQ(status, 1);
}

TEST_F(CheckAfterARun, ShortAndEmptyStagedFiles) {
    put(identity, identity_of(6170));
    // Copied as it is and never repaired: the same, but still no installed record.
    stage(6170, "short");
    run();
    std::string report = check();
    EXPECT_NE(report.find("installed: short, 5 bytes\n"
                          "install: yes, the same as installed\n"
                          "repairs: the staged record\n"
                          "repair: none\n"),
              std::string::npos)
        << report;
    EXPECT_EQ(status, 2);

    // An empty staged file is not the same as no installed file.
    stage(6170, "");
    ASSERT_EQ(unlink(installed.c_str()), 0);
    EXPECT_EQ(install_line(), "install: yes");
    EXPECT_EQ(status, 1);
    run();
    EXPECT_EQ(install_line(), "install: yes, the same as installed");
    EXPECT_EQ(status, 2);
}

TEST_F(Check, AStagedFileTheRunWouldRefuseSaysWhy) {
    put(identity, identity_of(6170));
    put(installed, repaired);
    auto staged_line = [this]() {
        std::string report = check();
        std::size_t at = report.find("staged: ");
        return at == std::string::npos ? report : report.substr(at, report.find('\n', at) + 1 - at);
    };
    EXPECT_EQ(staged_line(), "staged: missing\n");
    EXPECT_EQ(status, 0);

    stage(6170, std::string(64 * 1024 + 1, 'x'));
    EXPECT_EQ(staged_line(), "staged: not trusted, too large\n");
    ASSERT_EQ(unlink((staged + "/6170.CFG").c_str()), 0);
    ASSERT_EQ(mkfifo((staged + "/6170.CFG").c_str(), 0644), 0);
    EXPECT_EQ(staged_line(), "staged: not a regular file\n");
    ASSERT_EQ(unlink((staged + "/6170.CFG").c_str()), 0);

    stage(6170);
    ASSERT_EQ(chmod(staged.c_str(), 0777), 0);
    EXPECT_EQ(staged_line(), "staged: not trusted, open to others\n");
    ASSERT_EQ(chmod(staged.c_str(), 0755), 0);

    std::string real = dir.file("real");
    ASSERT_EQ(rename(staged.c_str(), real.c_str()), 0);
    ASSERT_EQ(symlink(real.c_str(), staged.c_str()), 0);
    EXPECT_EQ(staged_line(), "staged: not trusted, a link\n");
    ASSERT_EQ(unlink(staged.c_str()), 0);
    put(staged, "a file");
    EXPECT_EQ(staged_line(), "staged: not trusted, not a directory\n");
    EXPECT_EQ(status, 0);
}

TEST_F(Check, AnotherUsersFilesAreNotTrusted) {
    put(identity, identity_of(6170));
    stage(6170);
    if (geteuid() != 0 || chown((staged + "/6170.CFG").c_str(), 1234, 5678) != 0)
        GTEST_SKIP() << "needs root where other users are mapped";
    std::string report = check();
    EXPECT_NE(report.find("staged: not trusted, another user's\n"), std::string::npos) << report;
}

TEST_F(Check, AnInstalledPathOthersMayChangeIsNotTrusted) {
    std::string open = dir.file("open");
    ASSERT_EQ(mkdir(open.c_str(), 0777), 0);
    ASSERT_EQ(chmod(open.c_str(), 0777), 0);
    put(open + "/target.CFG", repaired);
    ASSERT_EQ(symlink((open + "/target.CFG").c_str(), installed.c_str()), 0);
    EXPECT_EQ(check(), "identity: missing\n"
                       "known: no\n"
                       "installed: not trusted, open to others\n"
                       "install: no\n"
                       "repair: none\n");
    EXPECT_EQ(status, 2);

    // Along a trusted way, a link is read through.
    std::string closed = dir.file("closed");
    ASSERT_EQ(mkdir(closed.c_str(), 0755), 0);
    put(closed + "/target.CFG", repaired);
    ASSERT_EQ(unlink(installed.c_str()), 0);
    ASSERT_EQ(symlink((closed + "/target.CFG").c_str(), installed.c_str()), 0);
    EXPECT_NE(check().find("installed: 44 bytes\n"), std::string::npos);
    EXPECT_EQ(status, 0);
}

TEST_F(Check, ARecordThatCannotBeWrittenNowIsNoRecordARunCanKeep) {
    put(identity, identity_of(6170));
    put(installed, needs_repair);
    std::string immutable = "'" + installed + "' '" + dir.path() + "'";
    if (std::system(("chattr +i " + immutable + " 2>/dev/null").c_str()) != 0) {
        (void)std::system(("chattr -i " + immutable + " 2>/dev/null").c_str());
        GTEST_SKIP() << "needs a file system with immutable files";
    }
    std::string report = check();
    (void)std::system(("chattr -i " + immutable).c_str());
    EXPECT_NE(report.find("staged: missing\n"), std::string::npos) << report;
    EXPECT_NE(report.find("install: no\n"
                          "repair: option_byte 0 -> 3\n"),
              std::string::npos)
        << report;
    EXPECT_EQ(report.substr(report.size() - 26), "repair: cannot be written\n");
    EXPECT_EQ(status, 2);
}

TEST_F(Check, AReportThatCannotBeWrittenSaysNothingOfARun) {
    put(installed, needs_repair);
    std::FILE *full = std::fopen("/dev/full", "w");
    if (full == nullptr)
        GTEST_SKIP() << "no /dev/full";
    EXPECT_EQ(check_unit_config(full, paths), 3);
    std::fclose(full);
}

/// A line form of the table as a pattern: a "%s" stands for a number, a checksum or a name the
/// report puts there, and after "not trusted, " for one of the reasons.
std::regex pattern_of(const char *form) {
    std::string reasons;
    for (trust verdict : {trust::trusted, trust::missing, trust::link, trust::not_regular,
                          trust::not_directory, trust::other_owner, trust::open_to_others,
                          trust::many_links, trust::too_large, trust::unreadable})
        reasons += std::string(reasons.empty() ? "(" : "|") + trust_reason(verdict);
    reasons += ")";
    const std::string word = "(-?[0-9]+|0x[0-9A-F]{4}|identity|staged|installed|option_byte|"
                             "adjusted_value|adjust_stamp|checksum)";
    std::string pattern;
    for (const char *at = form; *at != '\0'; ++at) {
        if (at[0] == '%' && at[1] == 's') {
            bool reason = pattern.size() >= 13 &&
                          pattern.compare(pattern.size() - 13, 13, "not trusted, ") == 0;
            pattern += reason ? reasons : word;
            ++at;
        } else if (std::string("()+.-").find(*at) != std::string::npos) {
            pattern += std::string("\\") + *at;
        } else {
            pattern += *at;
        }
    }
    return std::regex(pattern);
}

// The table is the contract: every line the report prints is one of its forms, and every form is
// printed in some state of the files.
TEST_F(Check, EveryLineIsOneOfTheTablesFormsAndEveryFormIsPrinted) {
    std::vector<std::string> reports;
    reports.push_back(check());
    put(identity, identity_of(6170, 10));
    put(installed, needs_repair.substr(0, 10));
    reports.push_back(check());
    ASSERT_EQ(unlink(identity.c_str()), 0);
    ASSERT_EQ(mkdir(identity.c_str(), 0755), 0);
    ASSERT_EQ(unlink(installed.c_str()), 0);
    ASSERT_EQ(mkfifo(installed.c_str(), 0644), 0);
    reports.push_back(check());
    ASSERT_EQ(rmdir(identity.c_str()), 0);
    ASSERT_EQ(unlink(installed.c_str()), 0);
    put(identity, identity_of(6170), 0666);
    reports.push_back(check());
    put(identity, identity_of(6170));
    put(installed, repaired);
    reports.push_back(check());
    stage(6170, needs_repair);
    reports.push_back(check());
    put(installed, needs_repair);
    reports.push_back(check());

    std::set<const check_line *> printed;
    for (const std::string &report : reports) {
        std::istringstream lines(report);
        for (std::string line; std::getline(lines, line);) {
            bool known = false;
            for (const check_line *form : check_lines) {
                if (std::regex_match(line, pattern_of(form->text))) {
                    printed.insert(form);
                    known = true;
                }
            }
            EXPECT_TRUE(known) << line;
        }
    }
    // What these states cannot show without root's view of the system: unreadable files (root
    // reads everything) and a write refused by the file system (see the immutable case above).
    std::set<const check_line *> elsewhere = {&unreadable_line, &repair_unwritable_line};
    for (const check_line *form : check_lines) {
        if (elsewhere.count(form) == 0) {
            EXPECT_EQ(printed.count(form), 1u) << form->text;
        }
    }
}

TEST(CheckStatuses, AreZeroToThreeInOrderEachWithItsMeaning) {
    int expected = 0;
    for (const check_status &status : check_statuses) {
        EXPECT_EQ(status.status, expected++);
        EXPECT_NE(std::string(status.meaning), "");
    }
    EXPECT_EQ(expected, 4);
}

} // namespace
