// What the install copies: a known unit's staged configuration file, in a directory of
// world-writable /tmp, judged once, and the shell command that copies that same path.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "../system/command_text.h"
#include "../system/trusted_path.h"

/// The longest path of the staged directory or the installed file that goes into a command.
inline constexpr size_t max_copy_path_length = 255;

/// A unit's staged file in the staged directory.
inline constexpr char staged_file_template[] = "%s/%d.CFG";
inline constexpr size_t staged_path_capacity =
    filled_capacity(staged_file_template, max_copy_path_length, decimal_length(UINT16_MAX));

/// The staged file of a known unit, as the run judged it once: the install copies it only
/// when it is trusted, and `--check` reads it only then.
struct staged_file {
    /// "<staged directory>/<unit number>.CFG"; empty when it does not fit.
    char path[staged_path_capacity];
    /// Whether the run may copy it, or why not.
    trust verdict;
    /// Its size, when it is known to be a regular file.
    int64_t size;
};

/// Judges the staged file of `unit_number`: the staged directory must be a real directory (not a
/// link) of root's or the effective user's that no one else may write, along a trusted way
/// (`check_trusted_directory`), and the file in it a trusted input (a regular file, not a link,
/// with one link, owned likewise, of at most `max_trusted_file_size` bytes; see
/// `check_trusted_file`). Only root can then change what `cp` opens. Never opens anything.
staged_file judge_staged_file(const char *staged_directory, uint16_t unit_number);

inline constexpr char copy_command_template[] = "cp %s %s";
inline constexpr size_t copy_command_capacity =
    filled_capacity(copy_command_template, staged_path_capacity - 1, 0);

/// Builds into `command` "cp <staged file> <destination>": the path that was judged, and where
/// the copy goes (`replacement_destination`). Returns false, with `command` empty, when either
/// path is not a plain path (the staged file's of at most `staged_path_capacity` - 1
/// characters, the destination's of at most `max_copy_path_length`).
bool build_copy_command(const staged_file &staged, const char *destination,
                        char (&command)[copy_command_capacity]);
