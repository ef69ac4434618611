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

/// How the installed file is replaced.
enum class replacement_way {
    /// The new content goes to the temporary file, which is then renamed over the installed one.
    by_rename,
    /// The installed file itself is overwritten, as on a unit where it cannot be replaced (a
    /// symbolic link whose way only root can change, a hard-linked file, a mount point, a
    /// read-only directory).
    in_place,
    /// Nothing may be written: a link whose way others can change, a directory, a FIFO or a
    /// device at the installed path.
    refused,
};

/// How one replacement of the installed file goes, decided once before anything is written.
struct file_replacement {
    const char *installed_file;
    replacement_way way;
    char temporary_file[max_replaced_path_length + sizeof temporary_file_suffix];
    /// In place through a link to a missing file: that file, made before the copy (GNU `cp`
    /// will not write through a dangling link); empty otherwise.
    char missing_target[PATH_MAX];
};

/// Removes what an interrupted run leaves beside `installed_file`: its temporary file, or the
/// temporary name a rename cut in two left as a second link to the installed file (JFFS2 links
/// the new name, then unlinks the old). Nothing else is touched. Only for a path
/// `check_installed_path` trusts: `plan_replacement` calls it so.
void remove_leftovers(const char *installed_file);

/// Whether anything may be written at `installed_file`: its directory one only root or the
/// effective user can change, along a way only they can change, links followed
/// (`check_trusted_directory`), else its verdict; then `trusted` for a regular file, a missing
/// one, or a symbolic link whose whole way only root or the effective user can change (see
/// `walk_trusted_way`) to a regular file or a missing one, left in `missing_target`; else why
/// not: `not_regular` for a directory, a FIFO or a device there or as the link's target, and for
/// another link what the walk found on its way. Changes nothing.
trust check_installed_path(const char *installed_file, char (&missing_target)[PATH_MAX]);

/// Decides how `installed_file` is replaced: unless refused, it first removes leftovers
/// (`remove_leftovers`), so that a run that writes the file leaves nothing beside it. By
/// rename only when the directory takes a new file and the installed path is missing, or a
/// regular file with one link, no mount point, whose owner the new file can keep, on a plain
/// file system or an overlay alike. In place for a hard-linked file, a mount point (of any file
/// system), a read-only directory, and a symbolic link only when the whole way to its target may
/// be changed by root or the effective user alone (`walk_trusted_way`) and the target is a
/// regular file or missing. Refused for anything else, a directory others may change included
/// (`check_installed_path`). Never creates or changes anything but the leftovers.
file_replacement plan_replacement(const char *installed_file);

/// Whether a run could write the installed file now: the way is not refused, and by rename its
/// directory takes a new file, in place the file (or the directory of a link's missing target)
/// can be written; a read-only mount, bound over the file or not, cannot. Changes nothing.
bool installed_file_writable(const char *installed_file);

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
