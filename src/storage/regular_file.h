// Reading the start of a file that the unit's boot leaves in world-writable /tmp, where anyone
// may put a FIFO, a directory, a device or a link in its place.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

#include "../system/trusted_path.h"

/// What became of reading the start of a file.
enum class read_outcome { whole, missing, not_regular, not_trusted, short_file, unreadable };

/// Reads the first `size` bytes of `path` into `bytes` when `path` is (or names by a symbolic
/// link) a regular file; anything else is not opened, so nothing blocks and no device is
/// touched. Leaves the file's size in `file_size` once it is known to be a regular file.
/// `short_file` when it holds fewer than `size` bytes.
read_outcome read_file_start(const char *path, uint8_t *bytes, size_t size, int64_t &file_size);

/// The same for a file the run takes as its input: read only when `check_trusted_file` trusts
/// it, and opened without following a link. `not_trusted`, with the reason in `verdict`, for a
/// file others could have put there or changed (`missing`, `not_regular` and `unreadable` keep
/// their own results).
read_outcome read_trusted_file_start(const char *path, uint8_t *bytes, size_t size,
                                     int64_t &file_size, trust &verdict);

/// Reads the first `size` bytes of `path`, a file the caller has just judged trusted: opened
/// without following a link, and only when it is still a regular file.
read_outcome read_judged_file_start(const char *path, uint8_t *bytes, size_t size,
                                    int64_t &file_size);

/// What a file that is not to be trusted gives instead of its start: `missing`, `not_regular`
/// and `unreadable` for those verdicts, `not_trusted` for the rest.
read_outcome refused_read(trust verdict);

/// Reads up to `size` bytes of `fd` into `bytes`, in as many reads as it takes, one cut short by
/// a signal tried again. Returns the count read, fewer than `size` only at the end of the file,
/// or -1 on an error.
ssize_t read_up_to(int fd, void *bytes, size_t size);

/// Whether two regular files hold the same bytes from `offset` to their ends: `judged_path`, a
/// file the caller has judged trusted, opened without following a link, and `path` opened as
/// `open_regular_file` opens it. Neither is opened when it is not a regular file, and false is
/// returned then, or when a read fails. Both are read from their start, a few hundred bytes at a
/// time, the bytes before `offset` passed over (never sought past).
bool same_bytes_from(const char *judged_path, const char *path, size_t offset);

/// Opens `path` for reading when it is (or names by a link) a regular file, without blocking:
/// a FIFO or a device there is never opened, and one swapped in between the look and the open
/// is closed again. Returns the descriptor, or -1.
int open_regular_file(const char *path);
