// The command runner against real /bin/sh commands, logging into a private history file.
#include <gtest/gtest.h>
#include <string>

#include "history/history.h"
#include "support/test_files.h"

namespace {

constexpr char command_error_line[] = "Command not found or exited with error status\n";

class Runner : public ::testing::Test {
  protected:
    TempDir dir;
    std::string history = dir.file("History.txt");
    std::string printed;

    int run(const std::string &command) {
        testing::internal::CaptureStdout();
        int result = run_logged_command(command.c_str(), open_history_log(history.c_str()));
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
