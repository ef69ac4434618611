// Children started through the system shell, each bounded by a deadline: past it, the child's
// whole process group is ended, so that nothing others can put at a path (a FIFO, a device, a
// lock) can hold a run for good. A child holds nothing of the run's that it does not need: it
// starts in a session of its own, at "/", with only the three standard descriptors (and its
// output pipe), and an environment of its own; one started for another user holds nothing of
// root's at all, since that user may trace it once it has started its shell.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

#include "clock.h"

/// How long the run waits to reap a child it has ended, once its deadline passed. A killed
/// child is gone within milliseconds; one whose end is still not reported after this is held
/// back by a tracer, and is left to init, which reaps it once the run has exited.
inline constexpr int64_t reap_deadline_ms = 1000;

/// The command search path of every child's shell: the system's directories, never the
/// caller's.
inline constexpr char child_search_path[] = "PATH=/usr/sbin:/usr/bin:/sbin:/bin";

/// Who a child runs as: the run's own user, or another user and group, with no supplementary
/// groups (the history's directory's owner).
struct child_user {
    bool as_self;
    uid_t uid;
    gid_t gid;
};
inline constexpr child_user run_as_self = {true, 0, 0};

/// How a child's run ended.
enum class child_end : uint8_t {
    exited,        ///< it exited: `status` is its exit status
    killed,        ///< a signal ended it before its deadline: `status` is the signal
    past_deadline, ///< it was still going at its deadline, and its group was ended
    not_started,   ///< no pipe or process could be made
    not_waited,    ///< it could not be waited for, or its end was not reported in time
};

struct child_outcome {
    child_end end;
    uint8_t status;
};

/// Whether the child ran to its end and exited 0.
inline bool ended_well(const child_outcome &outcome) {
    return outcome.end == child_end::exited && outcome.status == 0;
}

/// A started child: its process ID, which is also its session's and its process group's, and
/// the read end of its standard output (-1 when that is not captured).
struct shell_child {
    pid_t pid;
    int output;
};

/// Starts "/bin/sh -c `command`" in a session (and so a process group) of its own, with SIGCHLD
/// at its default and unblocked, its working directory "/", and an environment of
/// `child_search_path` and the caller's TZ, LANG, LANGUAGE and LC_* variables. Every descriptor
/// the run holds, or was started with, beyond the standard three is closed in the child. Its
/// standard output is a pipe read through `child.output` when `capture_output`.
///
/// As another `user`: standard input, error and (uncaptured) output are /dev/null, and before its
/// exec the child takes on the user's ID and group with no supplementary groups, joins a session
/// keyring of its own, and keeps no capability; it may not be traced (or its memory read) by that
/// user until the exec, and it makes sure it can no longer become root. A child that cannot do all
/// of this exits 126 without running anything.
///
/// Returns false when no pipe or process could be made.
bool start_shell(const char *command, const child_user &user, bool capture_output,
                 shell_child &child);

/// Reads up to `capacity` bytes of the child's output, waiting at most until `deadline` (see
/// `monotonic_ms`). Returns the count, 0 at the end of the output, -1 on an error or once the
/// deadline has passed.
ssize_t read_child_output(const shell_child &child, char *bytes, size_t capacity, int64_t deadline);

/// Closes the output, if any, and waits for the child until `deadline`. Whether it ended or the
/// deadline passed, its process group is then ended (whatever it started that is still there
/// goes with it) before the child is reaped, so that the group's ID cannot be reused in between.
/// The reap waits `reap_deadline_ms` at most, and leaves the child to init after that. Returns
/// how it ended: `exited` or `killed` once reaped, `past_deadline`, or `not_waited` when the
/// wait failed or the reap ran out of time.
child_outcome finish_shell(shell_child &child, int64_t deadline);

/// Runs `command` to its end, as `user`, within `timeout_ms`: `finish_shell`'s outcome, or
/// `not_started`.
child_outcome run_shell(const char *command, const child_user &user, int64_t timeout_ms);
