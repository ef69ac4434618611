// Whether a path is something only root, or the run's own effective user, could have put there
// and can change. The run is root, and /tmp and the history's directory are others' to write:
// the install, the history and the check all ask here, so that they always agree.
#pragma once

#include <limits.h>
#include <stddef.h>
#include <stdint.h>
#include <sys/stat.h>

/// Why a path is not trusted, or `trusted`.
enum class trust {
    trusted,
    missing,        ///< a name on the way, or the last one, does not exist
    link,           ///< the last name is a symbolic link where none is taken
    not_regular,    ///< a FIFO, a device, a directory where a file is wanted
    not_directory,  ///< a name on the way, or a wanted directory, is none
    other_owner,    ///< a name on the way, or the last one, is another user's
    open_to_others, ///< others may change a directory's names on the way, or the file
    many_links,     ///< the file has links of its own elsewhere
    too_large,      ///< more than `max_trusted_file_size` bytes
    unreadable,     ///< the way cannot be read, or has too many links
};

/// The largest file the run takes from /tmp: a configuration (its record is 44 bytes), with
/// room to spare, never a disk image. A copy of this size ends in about a second on NOR flash
/// and takes 1/256 of a 16 MiB one.
inline constexpr int64_t max_trusted_file_size = int64_t{64} * 1024;

/// The reason in a word or two, as `--check` prints it: "a link", "another user's", ...
const char *trust_reason(trust verdict);

/// Root, or the run's effective user.
bool is_trusted_owner(uid_t owner);

/// Walks the absolute `path` from "/" one name at a time, following symbolic links as the
/// kernel would (the last name's only when `follow_last`), and checks that no one else can
/// change the way: every directory on it is owned by root or the effective user and is
/// writable by no one else or sticky, and every link followed is owned likewise. `trusted` or
/// `missing` (only the last name is missing) leave the real path of the last name in
/// `resolved` and, for `trusted`, its `lstat` in `last`: the last name itself, its owner
/// included, is the caller's to judge. Never opens anything.
trust walk_trusted_way(const char *path, bool follow_last, char (&resolved)[PATH_MAX],
                       struct stat &last);

/// A file the run may take as its input: the way to it trusted (see `walk_trusted_way`), and
/// the file itself a regular file, not a link, owned by root or the effective user and writable
/// by no one else (`open_to_others` otherwise), with one link, of at most
/// `max_trusted_file_size` bytes. Its size is left in `size` when it is known. A missing file
/// is `missing`. With `way_trusted`, the caller has just found the directory that holds it
/// trusted (`check_trusted_directory`, its last name not followed), so that the way is the
/// directory's, and only the file itself is looked at.
trust check_trusted_file(const char *path, int64_t &size, bool way_trusted = false);

/// A directory whose names only root or the effective user can change: the way to it trusted,
/// and the directory itself a real one, owned likewise and writable by no one else, sticky or
/// not. A symbolic link as its last name is `link`, unless `follow_last`: then it is followed,
/// along a trusted way, as the walk follows the others.
trust check_trusted_directory(const char *path, bool follow_last = false);

/// The longest path of an installed file, or of a directory, that the run writes or locks.
inline constexpr size_t max_replaced_path_length = 255;

using directory_path = char[max_replaced_path_length + 1];

/// The directory that holds `path`: what comes before its last '/', "/" for a file in the
/// root, "." for a bare name. Returns false when the name does not fit `directory`.
bool containing_directory(const char *path, directory_path &directory);
