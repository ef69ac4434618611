// Children started through the system shell, each bounded by a deadline: past it, the child's
// whole process group is ended, so that nothing others can put at a path (a FIFO, a device, a
// lock) can hold a run for good.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

/// The copy: how long the run waits on it (for its output and its end; the entries of its
/// output have deadlines of their own). A staged file is at most 64 KiB, which a unit copies in
/// about a second even onto NOR flash: a copy still going after this is blocked, not slow.
inline constexpr int64_t copy_deadline_ms = 10000;

/// One history entry's pipeline: `date`, `sed` and the append of a line, or `echo` and the
/// append. Blocked past this, the history is a FIFO or a stalled device.
inline constexpr int64_t entry_deadline_ms = 5000;

/// Who a child runs as: the run's own user, or another user and group, with no supplementary
/// groups (the history's directory's owner).
struct child_user {
    bool as_self;
    uid_t uid;
    gid_t gid;
};
inline constexpr child_user run_as_self = {true, 0, 0};

/// A started child: its process ID, which is also its process group's, and the read end of its
/// standard output (-1 when that is not captured).
struct shell_child {
    pid_t pid;
    int output;
};

/// Milliseconds on a clock that never jumps, for deadlines.
int64_t monotonic_ms();

/// Starts "/bin/sh -c `command`" in a process group of its own, as `user`, with SIGCHLD at its
/// default and unblocked, and its standard output a pipe read through `child.output` when
/// `capture_output`. Returns false when no pipe or process could be made; a child that cannot
/// take on `user` exits 126 without running anything.
bool start_shell(const char *command, const child_user &user, bool capture_output,
                 shell_child &child);

/// Reads up to `capacity` bytes of the child's output, waiting at most until `deadline` (see
/// `monotonic_ms`). Returns the count, 0 at the end of the output, -1 on an error or once the
/// deadline has passed.
ssize_t read_child_output(const shell_child &child, char *bytes, size_t capacity, int64_t deadline);

/// Closes the output, if any, and waits for the child until `deadline`; past it, ends the
/// child's process group and reaps the child. Returns the wait status, or -1 when the deadline
/// passed or the wait failed.
int finish_shell(shell_child &child, int64_t deadline);

/// Runs `command` to its end, as `user`, within `timeout_ms`. Returns `finish_shell`'s result,
/// or -1 when it could not start.
int run_shell(const char *command, const child_user &user, int64_t timeout_ms);
