// The command runner and the unit's history log.
//
// The history file only grows, and only through shell pipelines started here: the program never
// writes it itself. Every caller names the history path (tests name their own); production uses
// `default_history_path`.
#pragma once

#include <stdint.h>

#include "../system/shell_child.h"
#include "user_account.h"

/// One history entry's pipeline: `date`, `sed` and the append of a line, or `echo` and the
/// append. Blocked past this, the history is a FIFO or a stalled device.
inline constexpr int64_t entry_deadline_ms = 5000;

/// The history file and who appends to it, decided once a run by `open_history_log`.
struct history_log {
    const char *path;
    /// False: others may change the way to the history, and no entry is made.
    bool appends;
    /// Who every entry's pipeline runs as.
    child_user writer;
    /// How long one entry's pipeline may take; past it, it is ended and the entry is missing.
    int64_t entry_timeout_ms;
};

/// Decides who appends to `history_path`, with no more privilege than its directory's owner.
/// When the way to the directory may be changed only by root or the effective user (see
/// `walk_trusted_way`) and the directory is theirs, writable by no one else (or missing), the
/// pipelines run as this process. When it is another user's, they run as that user and that
/// user's own group from `account_file` (see `find_primary_group`), with no supplementary
/// groups, and an existing history file that root made earlier (a regular file with one link,
/// never reached through a link) is first given to that user and group, so that it goes on
/// growing. Anything else (a way others may change, a directory of root's that others may
/// write, an owner with no account) makes no entries. Never writes the history.
history_log open_history_log(const char *history_path,
                             const char *account_file = default_account_file);

/// Runs `command` (a NUL-terminated shell command line) through the system shell with its
/// standard output read through a pipe; its standard error is left alone.
///
/// Every chunk of the output (up to and including a newline, or 127 bytes, or what is left at
/// the end) is appended to the history as an output entry, one at a time and in order, before
/// the next chunk is read. Never runs text from the output. The run waits on the command (for
/// its output and its end) for `timeout_ms` at most, the time its entries take not counted:
/// past it, the command's process group is ended, the rest of its output is not logged, and it
/// counts as failed.
///
/// Returns 0 when the command was started and its wait status was 0. Otherwise prints (and
/// flushes) one line on standard output and returns -1: "Error opening pipe!" when no pipe or
/// process could be made, "Command not found or exited with error status" for any other
/// failure. Entries already appended stay.
int run_logged_command(const char *command, const history_log &log, int64_t timeout_ms);

/// Makes a write to a standard output that nobody reads any more fail with EPIPE instead of
/// ending the program: a handler that does nothing, which, unlike ignoring the signal, is reset
/// at exec, so that the children still start with SIGPIPE at its default. A program started
/// with SIGPIPE ignored keeps it so, and so do its children. Set before the first message, or
/// before a report: a run that prints nothing pays nothing for it.
void survive_broken_pipe();

/// Prints the line of a command that failed, as `run_logged_command` does: for a command that is
/// refused before it is run.
void report_command_failure();

/// Appends the dated outcome entry of an install of `unit_number` to the history: the line
/// `date` prints, then " - UNIT_CFG of <unit> updated successfully." when `succeeded`, else
/// " - UNIT_CFG of <unit> updated failed. Might not found the file.". The pipeline's result is
/// not looked at: a missing entry is simply missing.
void append_outcome_entry(uint16_t unit_number, bool succeeded, const history_log &log);
