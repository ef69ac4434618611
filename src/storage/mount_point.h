// Whether a path is the root of a mount: a file bind-mounted over the installed path cannot be
// replaced by rename, whatever file system it comes from.
#pragma once

#include <stdio.h>

/// What is known of whether a path is a mount point.
enum class mount_point_answer { no, yes, unknown };

/// Whether `path` itself (not what a symbolic link names) is the root of a mount. Asks the
/// kernel with statx's mount-root attribute (Linux 5.8); where that is not to be had, looks the
/// path up in /proc/self/mountinfo, its directory resolved first, since mountinfo names a mount
/// by its real path and the directory may be reached through a symbolic link. `unknown` when
/// neither can tell (no /proc, a relative path, a directory that cannot be resolved).
mount_point_answer is_mount_point(const char *path);

/// Whether the mountinfo text read from `mountinfo` (the format of /proc/self/mountinfo) has a
/// mount whose mount point, its octal escapes decoded, is exactly `path`. Reads to the end.
bool mountinfo_lists(FILE *mountinfo, const char *path);
