#include "replacement.h"

#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "../history/fill_template.h"
#include "mount_point.h"

namespace {

/// Opens `path` read-only, `fsync`s it and closes it. Returns false when any step fails.
bool flush_one(const char *path) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool flushed = fsync(fd) == 0;
    return close(fd) == 0 && flushed;
}

void flush_directory_of(const char *path) {
    directory_path directory;
    if (containing_directory(path, directory))
        (void)flush_one(directory);
}

bool make_temporary_path(const char *installed_file, file_replacement &replacement) {
    const char *const names[] = {installed_file, temporary_file_suffix};
    return fill_template(replacement.temporary_file, "%s%s", 0, names);
}

/// Whether this process may give a file any owner: CAP_CHOWN in its effective set, as capget
/// (Linux 2.2) reports it; where capget cannot tell, whether it runs as root. Root without
/// CAP_CHOWN (a hardened service, a container) may not.
bool may_change_owner() {
    // The kernel's header (version, pid 0: this process) and two sets of three masks
    // (effective, permitted, inheritable), of which the first effective one holds CAP_CHOWN.
    constexpr uint32_t version_3 = 0x20080522; // two sets of 32 bits, Linux 2.6.26
    constexpr uint32_t version_1 = 0x19980330; // one set, before Linux 2.6.25
    constexpr uint32_t cap_chown = 1U << 0;
    uint32_t header[2] = {version_3, 0};
    uint32_t sets[6] = {};
    if (syscall(SYS_capget, header, sets) != 0) {
        header[0] = version_1;
        header[1] = 0;
        if (syscall(SYS_capget, header, sets) != 0)
            return geteuid() == 0;
    }
    return (sets[0] & cap_chown) != 0;
}

/// A new file made by this process can be given the installed file's owner.
bool owner_can_be_kept(const struct stat &installed) {
    return (installed.st_uid == geteuid() && installed.st_gid == getegid()) || may_change_owner();
}

/// Whether the installed file can be replaced by a new one renamed over it: its directory
/// takes a new file, and the path is missing, or a regular file with one link that is no mount
/// point, whose owner the new file can keep. Device numbers are not compared: on an overlay a
/// directory and its files report different ones. Where it cannot be told whether the file is
/// a mount point, the rename is tried: the kernel refuses one over a mount point, and the old
/// file stays.
bool can_replace_by_rename(const char *installed_file) {
    directory_path directory;
    if (!containing_directory(installed_file, directory) || access(directory, W_OK | X_OK) != 0)
        return false;
    struct stat info {};
    if (lstat(installed_file, &info) != 0)
        return errno == ENOENT;
    // A link of any kind, or a file mounted over the path, is written through, not replaced.
    return S_ISREG(info.st_mode) && info.st_nlink == 1 && owner_can_be_kept(info) &&
           is_mount_point(installed_file) != mount_point_answer::yes;
}

/// A rename that a power cut split in two (JFFS2 links the new name, then unlinks the old)
/// leaves the temporary name as a second link to the installed file. Removing it gives the
/// installed file its one link back, so that it is replaced by rename again.
void finish_split_rename(const char *installed_file, const char *temporary_file) {
    struct stat installed {};
    struct stat temporary {};
    if (lstat(installed_file, &installed) == 0 && lstat(temporary_file, &temporary) == 0 &&
        S_ISREG(temporary.st_mode) && installed.st_dev == temporary.st_dev &&
        installed.st_ino == temporary.st_ino)
        (void)unlink(temporary_file);
}

/// The temporary file takes the installed file's owner and mode (owner first: a change of
/// owner clears the set-id bits), then reaches storage.
bool take_over_and_flush(const char *temporary_file, const char *installed_file) {
    int fd = open(temporary_file, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = true;
    struct stat installed {};
    struct stat temporary {};
    if (lstat(installed_file, &installed) == 0) {
        ok = fstat(fd, &temporary) == 0;
        if (ok && (temporary.st_uid != installed.st_uid || temporary.st_gid != installed.st_gid))
            ok = fchown(fd, installed.st_uid, installed.st_gid) == 0;
        ok = ok && fchmod(fd, installed.st_mode & 07777) == 0;
    }
    ok = ok && fsync(fd) == 0;
    return close(fd) == 0 && ok;
}

} // namespace

bool containing_directory(const char *path, directory_path &directory) {
    const char *last_slash = strrchr(path, '/');
    if (last_slash == nullptr) {
        memcpy(directory, ".", 2);
        return true;
    }
    size_t length = last_slash == path ? 1 : static_cast<size_t>(last_slash - path);
    if (length > max_replaced_path_length)
        return false;
    memcpy(directory, path, length);
    directory[length] = '\0';
    return true;
}

file_replacement plan_replacement(const char *installed_file) {
    file_replacement replacement{installed_file, false, {}};
    if (!make_temporary_path(installed_file, replacement))
        return replacement;
    finish_split_rename(installed_file, replacement.temporary_file);
    if (!can_replace_by_rename(installed_file))
        return replacement;
    // A temporary file left by an interrupted run is replaced; one that cannot be removed
    // (a directory, say) leaves the way of today.
    replacement.by_rename = unlink(replacement.temporary_file) == 0 || errno == ENOENT;
    return replacement;
}

const char *replacement_destination(const file_replacement &replacement) {
    return replacement.by_rename ? replacement.temporary_file : replacement.installed_file;
}

bool commit_replacement(const file_replacement &replacement) {
    if (!replacement.by_rename) {
        (void)flush_one(replacement.installed_file);
        flush_directory_of(replacement.installed_file);
        return true;
    }
    if (!take_over_and_flush(replacement.temporary_file, replacement.installed_file) ||
        rename(replacement.temporary_file, replacement.installed_file) != 0) {
        abandon_replacement(replacement);
        return false;
    }
    // The rename itself reaches storage with the directory.
    flush_directory_of(replacement.installed_file);
    return true;
}

void abandon_replacement(const file_replacement &replacement) {
    if (replacement.by_rename)
        (void)unlink(replacement.temporary_file);
}
