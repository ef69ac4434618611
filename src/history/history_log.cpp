#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "../system/trusted_path.h"
#include "history.h"
#include "user_account.h"

namespace {

/// A history file that earlier runs made as root, in a directory that is now another user's,
/// goes to that user, or its pipelines could no longer append. Only a regular file with one
/// link, checked before and after it is opened without following links: never a file that is
/// also somewhere else. Returns whether it was handed over; one that is not is not appended to
/// by the pipelines, as any history they cannot write.
bool hand_over_history(const char *history_path, uid_t owner, gid_t group) {
    struct stat before {};
    if (lstat(history_path, &before) != 0 || !S_ISREG(before.st_mode) || before.st_nlink != 1 ||
        !is_trusted_owner(before.st_uid))
        return false;
    int fd = open(history_path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat opened {};
    bool handed_over = fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && opened.st_nlink == 1 &&
                       opened.st_dev == before.st_dev && opened.st_ino == before.st_ino &&
                       fchown(fd, owner, group) == 0;
    (void)close(fd);
    return handed_over;
}

} // namespace

history_log open_history_log(const char *history_path, const char *account_file) {
    history_log log{history_path, false, run_as_self, entry_deadline_ms};
    directory_path directory;
    char resolved[PATH_MAX];
    struct stat info {};
    if (!containing_directory(history_path, directory))
        return log;
    trust verdict = walk_trusted_way(directory, true, resolved, info);
    // A missing directory: its entries are lost, as they always were, where only root could
    // make it. Where others may make names beside it (a sticky directory anyone may write, as
    // /tmp, or a /home mounted so), another user could make it after this judgement, with a
    // link at the history to a file of root's: then the run writes no entries.
    if (verdict == trust::missing) {
        directory_path parent;
        struct stat parent_info {};
        log.appends = containing_directory(resolved, parent) && lstat(parent, &parent_info) == 0 &&
                      S_ISDIR(parent_info.st_mode) &&
                      (parent_info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
        return log;
    }
    if (verdict != trust::trusted || !S_ISDIR(info.st_mode))
        return log;
    if (is_trusted_owner(info.st_uid)) {
        log.appends = (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
        return log;
    }
    // The owner's own group, never the directory's: that may be one the owner is not in. An
    // owner the user database does not know gets no entries.
    gid_t group = 0;
    if (!find_primary_group(info.st_uid, group, account_file))
        return log;
    log.appends = true;
    log.writer = child_user{false, info.st_uid, group};
    (void)hand_over_history(history_path, info.st_uid, group);
    return log;
}
