// The staged configuration file of a unit, in a directory of world-writable /tmp.
#pragma once

#include <stdint.h>

#include "../storage/trusted_path.h"
#include "copy_command.h"

/// Room for "<staged directory>/<unit number>.CFG".
inline constexpr size_t staged_path_capacity = max_copy_path_length + 1 + max_decimal_digits + 5;

/// Whether the run may copy the staged file of `unit_number`: the staged directory is a real
/// directory (not a link) of root's or the effective user's that no one else may write, and the
/// file a trusted input (`check_trusted_file`: a regular file, not a link, with one link, owned
/// likewise, of at most `max_trusted_file_size` bytes). Only root can then change what `cp`
/// opens. The file's path is left in `path` (empty when it does not fit), its size in `size`
/// when it is known.
trust check_staged_file(const char *staged_directory, uint16_t unit_number,
                        char (&path)[staged_path_capacity], int64_t &size);
