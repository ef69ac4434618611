// What the install copies: a unit's staged configuration file, in a directory of
// world-writable /tmp, and the shell command that copies it.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "../system/command_text.h"
#include "../system/trusted_path.h"

/// The longest path the copy command accepts for the staged directory or the installed file.
inline constexpr size_t max_copy_path_length = 255;

inline constexpr char copy_command_template[] = "cp %s/%d.CFG %s";

/// Two paths and at most five digits in place of the three conversions.
inline constexpr size_t copy_command_capacity =
    (sizeof copy_command_template - 1) - 6 + 2 * max_copy_path_length + max_decimal_digits + 1;

/// Builds into `command` "cp <staged_directory>/<unit_number>.CFG <installed_file>", the unit
/// number in decimal. Returns false, with `command` empty, when either path is not a plain path
/// of at most `max_copy_path_length` characters.
bool build_copy_command(uint16_t unit_number, const char *staged_directory,
                        const char *installed_file, char (&command)[copy_command_capacity]);

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
