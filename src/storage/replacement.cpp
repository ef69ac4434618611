#include "replacement.h"

#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "../system/command_text.h"
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

/// The installed file's path with `temporary_file_suffix`: made the same way wherever it is
/// written, committed, abandoned or removed as a leftover.
bool make_temporary_path(const char *installed_file, temporary_path &temporary) {
    const char *const names[] = {installed_file, temporary_file_suffix};
    return fill_template(temporary, "%s%s", 0, names);
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

/// Whether `id` has a name in this process's user namespace, by the map `map_path`
/// (/proc/self/uid_map or gid_map, lines of "inside outside count"). A file whose owner has
/// none shows the overflow ID, and no process in the namespace may give a file that owner (an
/// unprivileged container's root has CAP_CHOWN, yet fchown fails with EINVAL). True where the
/// map cannot be read: a kernel without user namespaces maps everyone.
bool id_is_mapped(unsigned long id, const char *map_path) {
    FILE *map = fopen(map_path, "re");
    if (map == nullptr)
        return true;
    bool mapped = false;
    unsigned long fields[3] = {};
    unsigned long value = 0;
    int field = 0;
    bool in_number = false;
    for (int c = getc(map);; c = getc(map)) {
        if (c >= '0' && c <= '9') {
            value = value * 10 + static_cast<unsigned long>(c - '0');
            in_number = true;
            continue;
        }
        if (in_number)
            fields[field++] = value;
        value = 0;
        in_number = false;
        if (field == 3) {
            mapped = mapped || (id >= fields[0] && id - fields[0] < fields[2]);
            field = 0;
        }
        if (c == EOF)
            break;
    }
    (void)fclose(map);
    return mapped;
}

/// A new file made by this process can be given the installed file's owner.
bool owner_can_be_kept(const struct stat &installed) {
    if (installed.st_uid == geteuid() && installed.st_gid == getegid())
        return true;
    return may_change_owner() && id_is_mapped(installed.st_uid, "/proc/self/uid_map") &&
           id_is_mapped(installed.st_gid, "/proc/self/gid_map");
}

/// Every decision of `replacement_method` for a path `judge_installed_path` has judged, made
/// here alone; `temporary_file`, when given, is the name a rename would use, which must be free.
/// Device numbers are not compared: on an overlay a directory and its files report different
/// ones. Where it cannot be told whether the file is a mount point, the rename is tried: the
/// kernel refuses one over a mount point, and the old file stays.
replacement_method choose_method(const installed_path &installed, const char *temporary_file) {
    if (installed.verdict != trust::trusted)
        return replacement_method::refused;
    bool directory_takes_files = access(installed.directory, W_OK | X_OK) == 0;
    struct stat info {};
    replacement_method method = replacement_method::in_place;
    if (lstat(installed.file, &info) != 0) {
        if (directory_takes_files)
            method = replacement_method::by_rename;
    } else if (!S_ISLNK(info.st_mode) && directory_takes_files && info.st_nlink == 1 &&
               owner_can_be_kept(info) &&
               is_mount_point(installed.file) != mount_point_answer::yes) {
        // A file with links of its own, or a file mounted over the path, is written through.
        method = replacement_method::by_rename;
    }
    // A temporary name that could not be removed (a directory, say) leaves the file in place.
    struct stat left {};
    if (method == replacement_method::by_rename && temporary_file != nullptr &&
        lstat(temporary_file, &left) == 0)
        method = replacement_method::in_place;
    return method;
}

/// The temporary file takes the installed file's mode, set-id and sticky bits dropped, then its
/// owner (the mode first: a file given away can no longer be changed without CAP_FOWNER); a
/// first installed file gets `new_installed_file_mode`. Then it reaches storage.
bool take_over_and_flush(const char *temporary_file, const char *installed_file) {
    int fd = open(temporary_file, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = true;
    struct stat installed {};
    struct stat temporary {};
    if (lstat(installed_file, &installed) == 0) {
        ok = fstat(fd, &temporary) == 0 && fchmod(fd, installed.st_mode & 0777) == 0;
        if (ok && (temporary.st_uid != installed.st_uid || temporary.st_gid != installed.st_gid))
            ok = fchown(fd, installed.st_uid, installed.st_gid) == 0;
    } else {
        ok = fchmod(fd, new_installed_file_mode) == 0;
    }
    ok = ok && fsync(fd) == 0;
    return close(fd) == 0 && ok;
}

/// Written through, the installed file is still data: a set-id or sticky bit it carries (a
/// `cp` that made it with the staged file's mode) is dropped. Then it reaches storage.
bool strip_and_flush(const char *installed_file) {
    int fd = open(installed_file, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && (info.st_mode & 07000) != 0)
        (void)fchmod(fd, info.st_mode & 0777);
    bool flushed = fsync(fd) == 0;
    return close(fd) == 0 && flushed;
}

} // namespace

void judge_installed_path(const char *installed_file, installed_path &installed) {
    installed.file = installed_file;
    installed.verdict = trust::unreadable;
    installed.missing_target[0] = '\0';
    // `cp` makes the new file in the directory, and the run renames and removes names there:
    // only root may change what the directory is, or what it holds.
    if (!containing_directory(installed_file, installed.directory))
        return;
    installed.verdict = check_trusted_directory(installed.directory, true);
    if (installed.verdict != trust::trusted)
        return;
    struct stat info {};
    if (lstat(installed_file, &info) != 0) {
        installed.verdict = errno == ENOENT ? trust::trusted : trust::unreadable;
        return;
    }
    if (!S_ISLNK(info.st_mode)) {
        installed.verdict = S_ISREG(info.st_mode) ? trust::trusted : trust::not_regular;
        return;
    }
    char target[PATH_MAX];
    struct stat last {};
    installed.verdict = walk_trusted_way(installed_file, true, target, last);
    if (installed.verdict == trust::missing) {
        memcpy(installed.missing_target, target, strlen(target) + 1);
        installed.verdict = trust::trusted;
    } else if (installed.verdict == trust::trusted && !S_ISREG(last.st_mode)) {
        installed.verdict = trust::not_regular;
    }
}

void remove_leftovers(const char *installed_file) {
    temporary_path temporary;
    if (make_temporary_path(installed_file, temporary))
        (void)unlink(temporary);
}

file_replacement plan_replacement(const char *installed_file) {
    file_replacement replacement;
    replacement.method = replacement_method::refused;
    judge_installed_path(installed_file, replacement.installed);
    // Nothing is removed where others may change the directory or the way to it. A second link
    // that a rename cut in two left goes before the method is chosen: the file has one link
    // again.
    if (!make_temporary_path(installed_file, replacement.temporary_file) ||
        replacement.installed.verdict != trust::trusted)
        return replacement;
    remove_leftovers(installed_file);
    replacement.method = choose_method(replacement.installed, replacement.temporary_file);
    return replacement;
}

bool installed_file_writable(const installed_path &installed) {
    replacement_method method = choose_method(installed, nullptr);
    if (method != replacement_method::in_place)
        return method == replacement_method::by_rename;
    if (installed.missing_target[0] == '\0')
        return access(installed.file, W_OK) == 0;
    directory_path directory;
    return containing_directory(installed.missing_target, directory) &&
           access(directory, W_OK | X_OK) == 0;
}

const char *replacement_destination(const file_replacement &replacement) {
    return replacement.method == replacement_method::by_rename ? replacement.temporary_file
                                                               : replacement.installed.file;
}

bool begin_replacement(const file_replacement &replacement) {
    if (replacement.method == replacement_method::refused)
        return false;
    const char *missing_target = replacement.installed.missing_target;
    if (missing_target[0] == '\0')
        return true;
    int fd = open(missing_target, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                  new_installed_file_mode);
    return fd >= 0 && close(fd) == 0;
}

bool commit_replacement(const file_replacement &replacement) {
    const installed_path &installed = replacement.installed;
    if (replacement.method == replacement_method::refused)
        return false;
    if (replacement.method == replacement_method::in_place) {
        (void)strip_and_flush(installed.file);
        (void)flush_one(installed.directory);
        return true;
    }
    if (!take_over_and_flush(replacement.temporary_file, installed.file) ||
        rename(replacement.temporary_file, installed.file) != 0) {
        abandon_replacement(replacement);
        return false;
    }
    // The rename itself reaches storage with the directory.
    (void)flush_one(installed.directory);
    return true;
}

void abandon_replacement(const file_replacement &replacement) {
    if (replacement.method == replacement_method::by_rename)
        (void)unlink(replacement.temporary_file);
    else if (replacement.installed.missing_target[0] != '\0')
        (void)unlink(replacement.installed.missing_target);
}
