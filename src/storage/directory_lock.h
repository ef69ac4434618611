// Holding a directory, so that runs of the program on the same files follow one another.
#pragma once

/// Waits until no other process holds the directory that contains `path`, then holds it: an
/// exclusive `flock` on the directory, which leaves nothing on storage. Returns the lock (a
/// descriptor, closed at exec) to hand to `release_directory_lock`, or -1 when the directory
/// cannot be opened or locked (it is missing, or its file system refuses locks): the caller
/// then goes on without waiting.
int lock_containing_directory(const char *path);

/// Ends the hold of `lock_containing_directory`; does nothing for -1.
void release_directory_lock(int lock);
