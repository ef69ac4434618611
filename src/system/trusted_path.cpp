#include "trusted_path.h"

#include <errno.h>
#include <string.h>
#include <unistd.h>

namespace {

/// As many as the kernel itself follows on one path lookup before it gives up (ELOOP).
constexpr int max_links_followed = 40;

constexpr mode_t written_by_others = S_IWGRP | S_IWOTH;

/// No one else may add, remove or rename a trusted owner's names in it: it is writable by no
/// one else, or sticky, where only a name's owner (or root) may remove or rename it.
bool guards_its_names(const struct stat &directory) {
    return (directory.st_mode & written_by_others) == 0 || (directory.st_mode & S_ISVTX) != 0;
}

trust check_directory_on_way(const struct stat &directory) {
    if (!S_ISDIR(directory.st_mode))
        return trust::not_directory;
    if (!is_trusted_owner(directory.st_uid))
        return trust::other_owner;
    return guards_its_names(directory) ? trust::trusted : trust::open_to_others;
}

/// The names still to walk, in a buffer of their own: "a/b/c" with no leading '/'.
struct pending_names {
    char text[PATH_MAX];
    size_t at;
};

/// Puts `target` (a link's text) in front of what is still pending. False when it does not fit.
bool splice_link(pending_names &pending, const char *target, size_t target_length) {
    const char *rest = pending.text + pending.at;
    size_t rest_length = strlen(rest);
    if (target_length + 1 + rest_length >= sizeof pending.text)
        return false;
    char spliced[PATH_MAX];
    memcpy(spliced, target, target_length);
    spliced[target_length] = '/';
    memcpy(spliced + target_length + 1, rest, rest_length + 1);
    memcpy(pending.text, spliced, target_length + 1 + rest_length + 1);
    pending.at = 0;
    return true;
}

/// Drops the last name of `resolved`, which is "/" or "/a/b".
void to_parent(char (&resolved)[PATH_MAX]) {
    char *slash = strrchr(resolved, '/');
    if (slash == resolved)
        slash[1] = '\0';
    else
        *slash = '\0';
}

bool append_name(char (&resolved)[PATH_MAX], const char *name, size_t name_length) {
    size_t length = strlen(resolved);
    size_t separator = length > 1 ? 1 : 0;
    if (length + separator + name_length >= sizeof resolved)
        return false;
    if (separator != 0)
        resolved[length] = '/';
    memcpy(resolved + length + separator, name, name_length);
    resolved[length + separator + name_length] = '\0';
    return true;
}

/// Where a walk stands: the names still to walk, the `lstat` of the directory reached (its
/// real path is the caller's `resolved`), and how many links it followed.
struct walk_state {
    pending_names pending;
    struct stat directory;
    int links_followed;
};

/// Goes on from "/" (the start, or an absolute link).
bool restart_at_root(walk_state &walk, char (&resolved)[PATH_MAX]) {
    memcpy(resolved, "/", 2);
    return lstat("/", &walk.directory) == 0;
}

/// Takes the next name ("." skipped) off what is pending: its start, its length, and whether it
/// is the last one. False when no name is left.
bool next_name(pending_names &pending, const char *&name, size_t &length, bool &is_last) {
    for (;;) {
        while (pending.text[pending.at] == '/')
            ++pending.at;
        if (pending.text[pending.at] == '\0')
            return false;
        name = pending.text + pending.at;
        length = 0;
        while (name[length] != '\0' && name[length] != '/')
            ++length;
        pending.at += length;
        size_t after = pending.at;
        while (pending.text[after] == '/')
            ++after;
        is_last = pending.text[after] == '\0';
        if (length != 1 || name[0] != '.')
            return true;
    }
}

/// The path of `name` seen from `resolved`: its parent for "..". False when it does not fit.
bool walk_to_name(const char (&resolved)[PATH_MAX], const char *name, size_t length,
                  char (&walked)[PATH_MAX]) {
    memcpy(walked, resolved, strlen(resolved) + 1);
    if (length == 2 && name[0] == '.' && name[1] == '.') {
        to_parent(walked);
        return true;
    }
    return append_name(walked, name, length);
}

/// Follows the link at `walked` (its `lstat` in `info`): its text goes in front of what is
/// pending, from "/" when it is absolute, else from the directory that holds it.
trust follow_link(walk_state &walk, const char *walked, const struct stat &info,
                  char (&resolved)[PATH_MAX]) {
    if (!is_trusted_owner(info.st_uid))
        return trust::other_owner;
    char target[PATH_MAX];
    ssize_t length = readlink(walked, target, sizeof target - 1);
    if (length <= 0 || ++walk.links_followed > max_links_followed ||
        !splice_link(walk.pending, target, static_cast<size_t>(length)))
        return trust::unreadable;
    if (target[0] == '/' && !restart_at_root(walk, resolved))
        return trust::unreadable;
    return trust::trusted;
}

/// The `lstat` of `path` in `info`: `trusted` so far, or `missing`, or `unreadable`.
trust look_at(const char *path, struct stat &info) {
    if (lstat(path, &info) == 0)
        return trust::trusted;
    return errno == ENOENT ? trust::missing : trust::unreadable;
}

/// Owned by root or the effective user, and writable by no one else: another user could
/// change its bytes or names (by its mode, or a named user's ACL entry, which shows in the group
/// bits) whoever owns it.
trust check_owner_and_mode(const struct stat &info) {
    if (!is_trusted_owner(info.st_uid))
        return trust::other_owner;
    return (info.st_mode & written_by_others) == 0 ? trust::trusted : trust::open_to_others;
}

/// The file the run takes as its input, once the way to it is trusted (its `lstat` in `info`):
/// see `check_trusted_file`. Its size is left in `size` once it is known to be a regular file.
trust check_input_itself(const struct stat &info, int64_t &size) {
    if (S_ISLNK(info.st_mode))
        return trust::link;
    if (!S_ISREG(info.st_mode))
        return trust::not_regular;
    size = static_cast<int64_t>(info.st_size);
    trust verdict = check_owner_and_mode(info);
    if (verdict != trust::trusted)
        return verdict;
    if (info.st_nlink != 1)
        return trust::many_links;
    return size <= max_trusted_file_size ? trust::trusted : trust::too_large;
}

/// Each verdict's reason, at the verdict's own place (checked below).
struct reason {
    trust verdict;
    const char *text;
};
constexpr reason reasons[] = {
    {trust::trusted, "trusted"},
    {trust::missing, "missing"},
    {trust::link, "a link"},
    {trust::not_regular, "not a regular file"},
    {trust::not_directory, "not a directory"},
    {trust::other_owner, "another user's"},
    {trust::open_to_others, "open to others"},
    {trust::many_links, "many links"},
    {trust::too_large, "too large"},
    {trust::unreadable, "unreadable"},
};

constexpr size_t verdict_count = static_cast<size_t>(trust::unreadable) + 1;

/// The reasons alone, indexed by verdict, once every row is found at its verdict's place.
struct reason_texts {
    const char *text[verdict_count];
    bool in_order;
};

constexpr reason_texts texts_of_reasons() {
    reason_texts texts{{}, sizeof reasons / sizeof reasons[0] == verdict_count};
    size_t at = 0;
    for (const reason &row : reasons) {
        texts.in_order = texts.in_order && static_cast<size_t>(row.verdict) == at;
        texts.text[at++] = row.text;
    }
    return texts;
}

constexpr reason_texts reason_text = texts_of_reasons();
static_assert(reason_text.in_order, "a reason for every verdict, at its place");

} // namespace

const char *trust_reason(trust verdict) {
    return reason_text.text[static_cast<size_t>(verdict)];
}

bool is_trusted_owner(uid_t owner) {
    return owner == 0 || owner == geteuid();
}

trust walk_trusted_way(const char *path, bool follow_last, char (&resolved)[PATH_MAX],
                       struct stat &last) {
    walk_state walk{{{}, 0}, {}, 0};
    size_t path_length = strlen(path);
    if (path[0] != '/' || path_length >= sizeof walk.pending.text)
        return trust::unreadable;
    memcpy(walk.pending.text, path, path_length + 1);
    if (!restart_at_root(walk, resolved))
        return trust::unreadable;
    const char *name = nullptr;
    size_t name_length = 0;
    bool is_last = false;
    while (next_name(walk.pending, name, name_length, is_last)) {
        trust verdict = check_directory_on_way(walk.directory);
        if (verdict != trust::trusted)
            return verdict;
        char walked[PATH_MAX];
        struct stat info {};
        if (!walk_to_name(resolved, name, name_length, walked))
            return trust::unreadable;
        if (lstat(walked, &info) != 0) {
            if (errno != ENOENT)
                return trust::unreadable;
            if (is_last)
                memcpy(resolved, walked, strlen(walked) + 1);
            return trust::missing;
        }
        if (S_ISLNK(info.st_mode) && (!is_last || follow_last)) {
            verdict = follow_link(walk, walked, info, resolved);
            if (verdict != trust::trusted)
                return verdict;
            continue;
        }
        memcpy(resolved, walked, strlen(walked) + 1);
        walk.directory = info;
        if (is_last)
            break;
    }
    last = walk.directory; // the last name, or a directory the path ends in
    return trust::trusted;
}

trust check_trusted_file(const char *path, int64_t &size, bool way_trusted) {
    struct stat info {};
    // A run with nothing to do (no identity record) pays for one look, not for the whole way.
    trust verdict = look_at(path, info);
    if (verdict == trust::trusted && !way_trusted) {
        char resolved[PATH_MAX];
        verdict = walk_trusted_way(path, false, resolved, info);
    }
    return verdict == trust::trusted ? check_input_itself(info, size) : verdict;
}

trust check_trusted_directory(const char *path, bool follow_last) {
    char resolved[PATH_MAX];
    struct stat info {};
    trust verdict = walk_trusted_way(path, follow_last, resolved, info);
    if (verdict != trust::trusted)
        return verdict;
    if (S_ISLNK(info.st_mode))
        return trust::link;
    if (!S_ISDIR(info.st_mode))
        return trust::not_directory;
    return check_owner_and_mode(info);
}

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
