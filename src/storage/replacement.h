// Replacing the installed configuration file so that a kill or a power cut at any instant
// leaves the old file or the new one, whole.
#pragma once

#include <stddef.h>

/// The temporary file that a new installed file is written to before it is renamed over it:
/// the installed file's path with this suffix, in the same directory, so that the rename is
/// atomic.
inline constexpr char temporary_file_suffix[] = ".new";

/// The longest path of an installed file, or of its directory, that is replaced.
inline constexpr size_t max_replaced_path_length = 255;

using directory_path = char[max_replaced_path_length + 1];

/// The directory that holds `path`: what comes before its last '/', "/" for a file in the
/// root, "." for a bare name. Returns false when the name does not fit `directory`.
bool containing_directory(const char *path, directory_path &directory);

/// How one replacement of the installed file goes, decided once before anything is written.
struct file_replacement {
    const char *installed_file;
    /// True: the new content goes to `temporary_file`, which is then renamed over the installed
    /// file. False: the installed file itself is overwritten, as on a unit where it cannot be
    /// replaced (a symbolic link, a hard-linked file, a mount point, a read-only directory).
    bool by_rename;
    char temporary_file[max_replaced_path_length + sizeof temporary_file_suffix];
};

/// Decides how `installed_file` is replaced. First a temporary name left as a second link to
/// the installed file by a rename cut in two is removed. Then: by rename only when the
/// directory takes a new file and the installed path is missing, or a regular file with one
/// link, no mount point, whose owner the new file can keep, on a plain file system or an
/// overlay alike; a temporary file left by an interrupted run is removed then. Otherwise in
/// place: a symbolic link, a hard-linked file, a mount point (of any file system), a read-only
/// directory. Never creates or changes anything else.
file_replacement plan_replacement(const char *installed_file);

/// Where the new content is to be written: the temporary file, or the installed file itself.
const char *replacement_destination(const file_replacement &replacement);

/// Puts the new content, already written to the destination, in place on storage.
/// By rename: the temporary file takes the installed file's mode and owner (when there is an
/// installed file), is flushed, renamed over the installed file, and the directory is flushed;
/// if any step before the rename fails, the temporary file is removed, the installed file is
/// left as it was, and false is returned. In place: the file and its directory are flushed,
/// and a flush that fails changes nothing else.
bool commit_replacement(const file_replacement &replacement);

/// Gives up a replacement whose content could not be written: removes the temporary file. The
/// installed file is left as it was. Nothing to do in place.
void abandon_replacement(const file_replacement &replacement);
