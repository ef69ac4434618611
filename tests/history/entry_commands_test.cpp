// The texts of the history pipelines: exact with the default path, and never more than one
// quoted word for any chunk.
#include "history/entry_commands.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>

namespace {

std::string output_entry(const std::string &chunk, const char *history = default_history_path) {
    char command[output_entry_command_capacity];
    if (!build_output_entry_command(chunk.data(), chunk.size(), history, command))
        return "<refused>";
    return command;
}

std::string outcome_entry(std::uint16_t unit, bool succeeded,
                          const char *history = default_history_path) {
    char command[outcome_entry_command_capacity];
    if (!build_outcome_entry_command(unit, succeeded, history, command))
        return "<refused>";
    return command;
}

TEST(EntryCommandsDefaultText, MatchTheHistoryTemplatesByteForByte) {
    EXPECT_EQ(output_entry("cp: done\n"),
              "echo 'MO:  cp: done\n'  | cat >> /home/Quarvane/History.txt");
    EXPECT_EQ(outcome_entry(6170, true),
              "date | sed -e 's/.*/& - UNIT_CFG of 6170 updated successfully./' | cat >> "
              "/home/Quarvane/History.txt");
    EXPECT_EQ(outcome_entry(6170, false),
              "date | sed -e 's/.*/& - UNIT_CFG of 6170 updated failed. Might not found the "
              "file./' | cat >> /home/Quarvane/History.txt");
}

TEST(EntryCommandsDefaultText, WriteUnitNumbersInPlainDecimal) {
    EXPECT_NE(outcome_entry(0, true).find(" of 0 updated"), std::string::npos);
    EXPECT_NE(outcome_entry(65535, false).find(" of 65535 updated"), std::string::npos);
}

TEST(EntryCommandsQuoting, EscapesEveryQuoteAndDropsNuls) {
    EXPECT_EQ(output_entry("it's"), "echo 'MO:  it'\\''s'  | cat >> /home/Quarvane/History.txt");
    EXPECT_EQ(output_entry(std::string("a\0b\0", 4)),
              "echo 'MO:  ab'  | cat >> /home/Quarvane/History.txt");
}

TEST(EntryCommandsQuoting, UsesPrintfForChunksWithBackslashes) {
    EXPECT_EQ(output_entry("a\\nb"),
              "printf '%s\\n' 'MO:  a\\nb'  | cat >> /home/Quarvane/History.txt");
}

TEST(EntryCommandsQuoting, WorstCaseChunkFitsWithTheLongestHistoryPath) {
    std::string longest_path = "/" + std::string(max_history_path_length - 1, 'h');
    std::string quotes_and_backslash = std::string(max_chunk_length - 1, '\'') + "\\";
    std::string escaped_quotes;
    for (std::size_t i = 0; i < max_chunk_length - 1; ++i)
        escaped_quotes += "'\\''";
    EXPECT_EQ(output_entry(quotes_and_backslash, longest_path.c_str()),
              "printf '%s\\n' 'MO:  " + escaped_quotes + "\\'  | cat >> " + longest_path);
}

TEST(EntryCommandsRefuse, OverlongChunks) {
    EXPECT_EQ(output_entry(std::string(max_chunk_length + 1, 'x')), "<refused>");
}

TEST(EntryCommandsRefuse, HistoryPathsThatAreNotOnePlainWord) {
    for (const char *path : {"", "/tmp/a b", "/tmp/$(reboot)", "/tmp/x;y", "/tmp/'q'"}) {
        EXPECT_EQ(output_entry("x\n", path), "<refused>") << path;
        EXPECT_EQ(outcome_entry(6170, true, path), "<refused>") << path;
    }
    std::string overlong = "/" + std::string(max_history_path_length, 'h');
    EXPECT_EQ(outcome_entry(6170, true, overlong.c_str()), "<refused>");
}

} // namespace
