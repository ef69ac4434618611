// Replacing the installed configuration file so that a kill or a power cut at any instant
// leaves the old file or the new one, whole.
#pragma once

#include <limits.h>
#include <stddef.h>

#include "../system/trusted_path.h"

/// The temporary file that a new installed file is written to before it is renamed over it:
/// the installed file's path with this suffix, in the same directory, so that the rename is
/// atomic.
inline constexpr char temporary_file_suffix[] = ".new";

/// The mode of a new installed file: data, never executable, never set-id.
inline constexpr mode_t new_installed_file_mode = 0644;

/// The temporary file's path: the installed file's, of at most `max_replaced_path_length`
/// characters, with `temporary_file_suffix`.
using temporary_path = char[max_replaced_path_length + sizeof temporary_file_suffix];

/// What the run makes of the installed path, judged once and carried to every step that
/// writes there.
struct installed_path {
    const char *file;
    /// Whether anything may be written there (see `judge_installed_path`), or why not.
    trust verdict;
    /// The directory that holds it: `cp` makes its new file there, and the run renames, removes
    /// and flushes names there.
    directory_path directory;
    /// Through a link to a missing file, that file, made before the copy (GNU `cp` will not
    /// write through a dangling link); empty otherwise.
    char missing_target[PATH_MAX];
};

/// Judges, into `installed`, whether anything may be written at `installed_file`: its directory one
/// only root or the effective user can change, along a way only they can change, links followed
/// (`check_trusted_directory`), else its verdict; then `trusted` for a regular file, a missing
/// one, or a symbolic link whose whole way only root or the effective user can change (see
/// `walk_trusted_way`) to a regular file or a missing one, left in `missing_target`; else why
/// not: `not_regular` for a directory, a FIFO or a device there or as the link's target, and for
/// another link what the walk found on its way. Changes nothing.
void judge_installed_path(const char *installed_file, installed_path &installed);

/// How the installed file is replaced, decided once before anything is written, from what the
/// installed path is at that moment:
///
/// - `refused` when `judge_installed_path` does not trust it: a way others may change, a
///   directory, a FIFO or a device there or at a link's end; nothing is written.
/// - `by_rename` when the directory takes a new file and the installed path is missing, or a
///   regular file with one link, no mount point, whose owner the new file can keep (on a plain
///   file system or an overlay alike), and the temporary name is free.
/// - `in_place` for everything else that is trusted: a symbolic link along a trusted way, a
///   hard-linked file, a mount point (of any file system), a read-only directory, an owner the
///   new file cannot take, a temporary name that could not be removed.
enum class replacement_method {
    /// The new content goes to the temporary file, which is then renamed over the installed one.
    by_rename,
    /// The installed file itself is overwritten.
    in_place,
    /// Nothing may be written.
    refused,
};

/// How one replacement of the installed file goes, decided once before anything is written.
struct file_replacement {
    replacement_method method;
    temporary_path temporary_file;
    installed_path installed;
};

/// Removes what an interrupted run leaves beside `installed_file`: its temporary file, or the
/// temporary name a rename cut in two left as a second link to the installed file (JFFS2 links
/// the new name, then unlinks the old). Nothing else is touched. Only for a path
/// `judge_installed_path` trusts: `plan_replacement` calls it so.
void remove_leftovers(const char *installed_file);

/// Judges `installed_file` and, unless refused, removes the leftovers (`remove_leftovers`), so
/// that a run that writes the file leaves nothing beside it, then chooses the
/// `replacement_method`. Never creates or changes anything but the leftovers.
file_replacement plan_replacement(const char *installed_file);

/// Whether a run could write the judged installed path now: not refused, and by rename its
/// directory takes a new file, in place the file (or the directory of a link's missing target)
/// can be written; a read-only mount, bound over the file or not, cannot. Changes nothing.
bool installed_file_writable(const installed_path &installed);

/// Where the new content is to be written: the temporary file, or the installed file itself.
const char *replacement_destination(const file_replacement &replacement);

/// Readies the destination: through a link to a missing file, makes that file, empty, with
/// `new_installed_file_mode`. Returns false when nothing may be written (refused) or the file
/// cannot be made.
bool begin_replacement(const file_replacement &replacement);

/// Puts the new content, already written to the destination, in place on storage.
/// By rename: the temporary file takes the installed file's mode without set-id and sticky
/// bits, then its owner (when there is an installed file; else `new_installed_file_mode`), is
/// flushed, renamed over the installed file, and the directory is flushed; if any step before
/// the rename fails, the temporary file is removed, the installed file is left as it was, and
/// false is returned. In place: the file loses any set-id and sticky bits, and it and its
/// directory are flushed; a flush that fails changes nothing else.
bool commit_replacement(const file_replacement &replacement);

/// Gives up a replacement whose content could not be written: removes the temporary file, or
/// the file `begin_replacement` made. The installed file is left as it was.
void abandon_replacement(const file_replacement &replacement);
