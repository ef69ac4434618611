// Holding a directory, so that runs of the program on the same files follow one another.
#pragma once

#include <stdint.h>

/// How long a run waits for the lock: longer than any run holds it (the copy's deadline, the
/// outcome entry's, and the repair's writes to flash; `cp` prints nothing to log), so that a
/// second run started beside a first one follows it. A lock held longer is not a run's: anyone
/// who can read the directory can hold it, and the run then goes on without it.
inline constexpr int64_t lock_wait_ms = 25000;

/// Waits until no other process holds the directory that contains `path`, at most `wait_ms`,
/// then holds it: an exclusive `flock` on the directory, which leaves nothing on storage.
/// Returns the lock (a descriptor, closed at exec) to hand to `release_directory_lock`, or -1
/// when the directory cannot be opened or locked (it is missing, or its file system refuses
/// locks) or the wait ran out: the caller then goes on without it.
int lock_containing_directory(const char *path, int64_t wait_ms = lock_wait_ms);

/// Ends the hold of `lock_containing_directory`; does nothing for -1.
void release_directory_lock(int lock);
