// The command runner against real /bin/sh commands, logging into a private history file.
#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "history/history.h"
#include "support/test_files.h"

namespace {

constexpr char command_error_line[] = "Command not found or exited with error status\n";

/// The copy's deadline: a command's wait unless a test shortens it.
constexpr std::int64_t command_timeout_ms = 10000;

class Runner : public ::testing::Test {
  protected:
    TempDir dir;
    std::string history = dir.file("History.txt");
    std::string accounts = dir.file("passwd");
    std::string printed;

    history_log log() { return open_history_log(history.c_str(), accounts.c_str()); }

    int run(const std::string &command, std::int64_t timeout_ms = command_timeout_ms) {
        testing::internal::CaptureStdout();
        int result = run_logged_command(command.c_str(), log(), timeout_ms);
        printed = testing::internal::GetCapturedStdout();
        return result;
    }

    /// Runs a command that prints exactly `output` (kept in a file, so any byte can be in it).
    int run_printing(const std::string &output) {
        std::string output_file = dir.file("output.bin");
        write_file(output_file, output);
        return run("cat " + output_file);
    }
};

TEST_F(Runner, SilentSuccessTouchesNoHistory) {
    EXPECT_EQ(run("true"), 0);
    EXPECT_EQ(printed, "");
    EXPECT_FALSE(file_exists(history));
}

TEST_F(Runner, LogsEachLineInOrderWithAnEmptyLineAfterIt) {
    EXPECT_EQ(run("printf 'one\\ntwo\\n'"), 0);
    EXPECT_EQ(read_file(history), "MO:  one\n\nMO:  two\n\n");
    EXPECT_EQ(printed, "");
}

TEST_F(Runner, CutsLongLinesAt127Bytes) {
    std::string line = std::string(127, 'a') + std::string(73, 'b');
    EXPECT_EQ(run_printing(line + "\n"), 0);
    EXPECT_EQ(read_file(history),
              "MO:  " + std::string(127, 'a') + "\n" + "MO:  " + std::string(73, 'b') + "\n\n");
}

TEST_F(Runner, LastLineWithoutNewlineGetsNoEmptyLine) {
    EXPECT_EQ(run("printf 'a\\nb'"), 0);
    EXPECT_EQ(read_file(history), "MO:  a\n\nMO:  b\n");
}

TEST_F(Runner, AppendsToAnExistingHistory) {
    write_file(history, "earlier entry\n");
    EXPECT_EQ(run("echo later"), 0);
    EXPECT_EQ(read_file(history), "earlier entry\nMO:  later\n\n");
}

TEST_F(Runner, FailingCommandKeepsItsOutputAndReportsOnce) {
    EXPECT_EQ(run("echo partial; exit 1"), -1);
    EXPECT_EQ(read_file(history), "MO:  partial\n\n");
    EXPECT_EQ(printed, command_error_line);
}

TEST_F(Runner, MissingCommandIsReportedWithNoEntry) {
    EXPECT_EQ(run("unitcfg-no-such-command-here 2>/dev/null"), -1);
    EXPECT_EQ(printed, command_error_line);
    EXPECT_FALSE(file_exists(history));
}

TEST_F(Runner, CommandKilledBySignalIsAFailure) {
    EXPECT_EQ(run("kill -KILL $$"), -1);
    EXPECT_EQ(printed, command_error_line);
}

/// Whether process `pid` has ended (gone, or a zombie no one has reaped yet), within a second.
bool has_ended(const std::string &pid) {
    for (int tries = 0; tries < 100; ++tries) {
        std::string stat = read_file("/proc/" + pid + "/stat");
        std::size_t state = stat.rfind(") ");
        if (stat == "<missing>" || (state != std::string::npos && stat[state + 2] == 'Z'))
            return true;
        usleep(10000);
    }
    return false;
}

TEST_F(Runner, ACommandPastItsDeadlineEndsWithEverythingItStartedAndFails) {
    std::string pid_file = dir.file("pid");
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(run("echo first; sleep 30 & echo $! >" + pid_file + "; wait", 500), -1);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_EQ(printed, command_error_line);
    EXPECT_EQ(read_file(history), "MO:  first\n\n");
    EXPECT_TRUE(has_ended(read_file(pid_file).substr(0, read_file(pid_file).find('\n'))))
        << "the command's background child outlived its deadline";
}

TEST_F(Runner, EntriesDoNotCountTowardTheCommandsDeadline) {
    EXPECT_EQ(run("for i in 1 2 3 4 5 6 7 8; do echo $i; done; sleep 0.2", 1000), 0);
    EXPECT_EQ(read_file(history), "MO:  1\n\nMO:  2\n\nMO:  3\n\nMO:  4\n\nMO:  5\n\n"
                                  "MO:  6\n\nMO:  7\n\nMO:  8\n\n");
}

TEST_F(Runner, AHistoryThatBlocksCostsEachEntryItsDeadlineAndNoMore) {
    ASSERT_EQ(mkfifo(history.c_str(), 0644), 0);
    history_log blocked = log();
    blocked.entry_timeout_ms = 300;
    auto started = std::chrono::steady_clock::now();
    testing::internal::CaptureStdout();
    EXPECT_EQ(run_logged_command("echo one; echo two", blocked, command_timeout_ms), 0);
    append_outcome_entry(6170, true, blocked);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
}

class HistoryWriter : public Runner {
  protected:
    void SetUp() override {
        if (geteuid() != 0 || chown(dir.path().c_str(), 1234, 5678) != 0)
            GTEST_SKIP() << "needs root where other users are mapped";
        ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
        write_file(accounts, "root:x:0:0:root:/root:/bin/sh\n"
                             "app:x:1234:5678:the application:/home/app:/bin/sh\n");
    }

    std::string owner_of(const std::string &path) {
        struct stat info {};
        if (lstat(path.c_str(), &info) != 0)
            return "<missing>";
        return std::to_string(info.st_uid) + ":" + std::to_string(info.st_gid);
    }
};

TEST_F(HistoryWriter, EntriesInAnotherUsersDirectoryAreWrittenAsThatUser) {
    EXPECT_EQ(run("echo line"), 0);
    append_outcome_entry(6170, true, log());
    EXPECT_EQ(owner_of(history), "1234:5678");
    EXPECT_EQ(read_file(history).substr(0, 11), "MO:  line\n\n");
}

// A directory given to its user with a plain chown keeps root's group: the entries must not
// run with it.
TEST_F(HistoryWriter, EntriesTakeTheOwnersOwnGroupNeverTheDirectorys) {
    ASSERT_EQ(chown(dir.path().c_str(), 1234, 0), 0);
    EXPECT_EQ(run("echo line"), 0);
    EXPECT_EQ(owner_of(history), "1234:5678");
    EXPECT_EQ(log().writer.gid, 5678u);

    // A history root made earlier is handed over with the same group.
    ASSERT_EQ(unlink(history.c_str()), 0);
    write_file(history, "earlier entry\n");
    EXPECT_EQ(run("echo later"), 0);
    EXPECT_EQ(owner_of(history), "1234:5678");
    EXPECT_EQ(read_file(history), "earlier entry\nMO:  later\n\n");
}

TEST_F(HistoryWriter, AnOwnerWithNoAccountGetsNoEntries) {
    write_file(accounts, "root:x:0:0:root:/root:/bin/sh\nother:x:12345:5678::/:/bin/sh\n");
    EXPECT_FALSE(log().appends);
    EXPECT_EQ(run("echo line"), 0);
    append_outcome_entry(6170, true, log());
    EXPECT_FALSE(file_exists(history));

    // Nor does one of root's made earlier change hands.
    write_file(history, "earlier entry\n");
    EXPECT_EQ(run("echo later"), 0);
    EXPECT_EQ(owner_of(history), "0:0");
    EXPECT_EQ(read_file(history), "earlier entry\n");
}

// A missing history directory is root's to make, and the entries are tried as root, only
// where no one else may make a name beside it: in a sticky directory anyone may write, another
// user could make it, with a link at the history, between the judgement and an entry.
TEST_F(HistoryWriter, AMissingDirectoryOthersCouldMakeGetsNoEntries) {
    TempDir parent;
    std::string missing_history = parent.file("Quarvane") + "/History.txt";
    ASSERT_EQ(chmod(parent.path().c_str(), 01777), 0);
    EXPECT_FALSE(open_history_log(missing_history.c_str(), accounts.c_str()).appends);
    ASSERT_EQ(chmod(parent.path().c_str(), 0775), 0);
    EXPECT_FALSE(open_history_log(missing_history.c_str(), accounts.c_str()).appends);
    ASSERT_EQ(chmod(parent.path().c_str(), 0755), 0);
    history_log root_only = open_history_log(missing_history.c_str(), accounts.c_str());
    EXPECT_TRUE(root_only.appends);
    EXPECT_TRUE(root_only.writer.as_self);
}

TEST_F(HistoryWriter, AHistoryRootMadeEarlierIsHandedOverAndGoesOnGrowing) {
    write_file(history, "earlier entry\n");
    EXPECT_EQ(run("echo later"), 0);
    EXPECT_EQ(owner_of(history), "1234:5678");
    EXPECT_EQ(read_file(history), "earlier entry\nMO:  later\n\n");
}

TEST_F(HistoryWriter, ALinkOrAHardLinkAtTheHistoryGetsNothingOfRoots) {
    TempDir root_only;
    std::string target = root_only.file("root.txt");
    write_file(target, "root's file\n");
    ASSERT_EQ(chmod(root_only.path().c_str(), 0755), 0);
    ASSERT_EQ(symlink(target.c_str(), history.c_str()), 0);
    EXPECT_EQ(run("echo through the link"), 0);
    EXPECT_EQ(read_file(target), "root's file\n");
    EXPECT_EQ(owner_of(target), "0:0");

    ASSERT_EQ(unlink(history.c_str()), 0);
    ASSERT_EQ(link(target.c_str(), history.c_str()), 0);
    EXPECT_EQ(run("echo through the hard link"), 0);
    EXPECT_EQ(read_file(target), "root's file\n");
    EXPECT_EQ(owner_of(target), "0:0");
}

class RunnerQuotesHostileText : public Runner {
  protected:
    std::string marker = dir.file("marker");

    void expect_logged_verbatim(const std::string &line) {
        SCOPED_TRACE(line);
        EXPECT_EQ(run_printing(line + "\n"), 0);
        EXPECT_EQ(read_file(history), "MO:  " + line + "\n\n");
        EXPECT_FALSE(file_exists(marker)) << "text from the output was run";
        write_file(history, "");
    }
};

TEST_F(RunnerQuotesHostileText, ShellSyntaxIsLoggedNotRun) {
    expect_logged_verbatim("it's a 'quoted' word");
    expect_logged_verbatim("'; touch " + marker + "; echo '");
    expect_logged_verbatim("$(touch " + marker + ")");
    expect_logged_verbatim("`touch " + marker + "`");
    expect_logged_verbatim("'$(touch " + marker + ")'\"`touch " + marker + "`\"");
    expect_logged_verbatim("%n%s%d %% -n -e");
}

TEST_F(RunnerQuotesHostileText, BackslashesAreLoggedAsThemselves) {
    expect_logged_verbatim("a\\nb\\tc\\\\d");
    expect_logged_verbatim("cut here \\c and this must stay");
    expect_logged_verbatim("\\0101 \\x41 \\");
}

TEST_F(RunnerQuotesHostileText, QuotesFillingAWholeChunk) {
    std::string quotes(130, '\'');
    EXPECT_EQ(run_printing(quotes + "\n"), 0);
    EXPECT_EQ(read_file(history), "MO:  " + quotes.substr(0, 127) + "\nMO:  '''\n\n");
}

TEST_F(RunnerQuotesHostileText, EveryByteValueButNulIsKept) {
    std::string bytes;
    for (int value = 1; value <= 255; ++value)
        bytes += static_cast<char>(value);
    // Chunks as they are read: up to the newline (byte 10), then 127 bytes, then the rest.
    EXPECT_EQ(run_printing(bytes + "\n"), 0);
    EXPECT_EQ(read_file(history), "MO:  " + bytes.substr(0, 10) + "\n" +       //
                                      "MO:  " + bytes.substr(10, 127) + "\n" + //
                                      "MO:  " + bytes.substr(137) + "\n\n");
}

TEST_F(RunnerQuotesHostileText, NulBytesAreDroppedAndTheRestLogged) {
    EXPECT_EQ(run_printing(std::string("ab\0cd\0\n", 7)), 0);
    EXPECT_EQ(read_file(history), "MO:  abcd\n\n");
}

TEST_F(RunnerQuotesHostileText, NulBytesCountTowardTheChunkLength) {
    std::string line = std::string(100, 'x') + std::string(27, '\0') + "tail\n";
    EXPECT_EQ(run_printing(line), 0);
    EXPECT_EQ(read_file(history), "MO:  " + std::string(100, 'x') + "\nMO:  tail\n\n");
}

class OutcomeEntry : public ::testing::Test {
  protected:
    TempDir dir;
    std::string history = dir.file("History.txt");

    /// The one line the entry appended, with its date prefix checked and removed.
    std::string entry_after_date() {
        std::string text = read_file(history);
        EXPECT_EQ(text.find('\n'), text.size() - 1) << "not exactly one line: " << text;
        std::size_t text_start = text.find(" - UNIT_CFG");
        EXPECT_NE(text_start, std::string::npos) << text;
        EXPECT_GT(text_start, 0u) << "no date before the entry: " << text;
        return text_start == std::string::npos ? text : text.substr(text_start);
    }
};

TEST_F(OutcomeEntry, SuccessIsOneDatedLine) {
    append_outcome_entry(6170, true, open_history_log(history.c_str()));
    EXPECT_EQ(entry_after_date(), " - UNIT_CFG of 6170 updated successfully.\n");
}

TEST_F(OutcomeEntry, FailureIsOneDatedLine) {
    append_outcome_entry(6362, false, open_history_log(history.c_str()));
    EXPECT_EQ(entry_after_date(),
              " - UNIT_CFG of 6362 updated failed. Might not found the file.\n");
}

} // namespace
