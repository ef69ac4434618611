// The command runner and the unit's history log.
//
// The history file only grows, and only through shell pipelines started here: the program never
// opens it itself. Every caller may pass another history path (tests do); production uses
// `default_history_path`.
#pragma once

#include <stdint.h>

/// The unit's history file. Every entry command appends to it with `cat >>`.
inline constexpr char default_history_path[] = "/home/Quarvane/History.txt";

/// Runs `command` (a NUL-terminated shell command line) through the system shell with its
/// standard output read through a pipe; its standard error is left alone.
///
/// Every chunk of the output (up to and including a newline, or 127 bytes, or what is left at
/// the end) is appended to `history_path` as an output entry, one at a time and in order, before
/// the next chunk is read. Never runs text from the output.
///
/// Returns 0 when the command was started and its wait status was 0. Otherwise prints (and
/// flushes) one line on standard output and returns -1: "Error opening pipe!" when no pipe could
/// be made, "Command not found or exited with error status" for any other failure. Entries
/// already appended stay.
int run_logged_command(const char *command, const char *history_path = default_history_path);

/// Appends the dated outcome entry of an install of `unit_number` to `history_path`: the line
/// `date` prints, then " - UNIT_CFG of <unit> updated successfully." when `succeeded`, else
/// " - UNIT_CFG of <unit> updated failed. Might not found the file.". The pipeline's result is
/// not looked at: a missing entry is simply missing.
void append_outcome_entry(uint16_t unit_number, bool succeeded,
                          const char *history_path = default_history_path);
