// The shell command that installs a unit's staged configuration file.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "../history/fill_template.h"

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
