// Reading the start of a file that the unit's boot leaves in world-writable /tmp, where anyone
// may put a FIFO, a directory or a device in its place.
#pragma once

#include <stddef.h>
#include <stdint.h>

/// What became of reading the start of a file.
enum class file_start { whole, missing, not_regular, short_file, unreadable };

/// Reads the first `size` bytes of `path` into `bytes` when `path` is (or names by a symbolic
/// link) a regular file; anything else is not opened, so nothing blocks and no device is
/// touched. Leaves the file's size in `file_size` once it is known to be a regular file.
/// `short_file` when it holds fewer than `size` bytes.
file_start read_file_start(const char *path, uint8_t *bytes, size_t size, int64_t &file_size);
