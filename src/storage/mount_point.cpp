#include "mount_point.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "../system/command_text.h"
#include "../system/trusted_path.h"

namespace {

/// The kernel's struct statx, of which only the attributes are read here. Declared locally: not
/// every C library this builds with has it.
struct statx_result {
    uint32_t mask;
    uint32_t blksize;
    uint64_t attributes;
    uint8_t ids_and_sizes[40];
    uint64_t attributes_mask;
    uint8_t times_and_rest[192];
};
static_assert(sizeof(statx_result) == 256, "the kernel's struct statx is 256 bytes");
static_assert(offsetof(statx_result, attributes_mask) == 56, "stx_attributes_mask at 56");

constexpr int statx_no_follow = 0x100;                  // AT_SYMLINK_NOFOLLOW
constexpr int statx_no_automount = 0x800;               // AT_NO_AUTOMOUNT
constexpr unsigned statx_basic_type = 0x1;              // STATX_TYPE
constexpr uint64_t statx_attribute_mount_root = 0x2000; // STATX_ATTR_MOUNT_ROOT

/// The kernel's own answer, or `unknown` where it has no statx or no mount-root attribute.
mount_point_answer ask_statx(const char *path) {
#ifdef SYS_statx
    statx_result result{};
    if (syscall(SYS_statx, AT_FDCWD, path, statx_no_follow | statx_no_automount, statx_basic_type,
                &result) != 0 ||
        (result.attributes_mask & statx_attribute_mount_root) == 0)
        return mount_point_answer::unknown;
    return (result.attributes & statx_attribute_mount_root) != 0 ? mount_point_answer::yes
                                                                 : mount_point_answer::no;
#else
    (void)path;
    return mount_point_answer::unknown;
#endif
}

/// Skips the rest of the line. Returns false at the end of the text.
bool skip_line(FILE *text) {
    int c = 0;
    while ((c = getc(text)) != EOF && c != '\n') {
    }
    return c != EOF;
}

/// Skips `count` blank-separated fields of the line; false when the line ends first.
bool skip_fields(FILE *text, int count) {
    int c = 0;
    while (count > 0 && (c = getc(text)) != EOF && c != '\n') {
        if (c == ' ')
            --count;
    }
    if (c == '\n')
        (void)ungetc(c, text);
    return count == 0;
}

/// The next byte of a field, with "\ooo" decoded; -1 at the field's end.
int next_field_byte(FILE *text) {
    int c = getc(text);
    if (c == EOF || c == ' ' || c == '\n') {
        if (c == '\n')
            (void)ungetc(c, text);
        return -1;
    }
    if (c != '\\')
        return c;
    int value = 0;
    for (int digit = 0; digit < 3; ++digit) {
        c = getc(text);
        if (c < '0' || c > '7') {
            (void)ungetc(c, text); // not the kernel's escape: no path matches it
            return -1;
        }
        value = value * 8 + (c - '0');
    }
    return value;
}

/// Whether the field that starts here is exactly `path`; leaves the rest of the field unread.
bool field_is(FILE *text, const char *path) {
    for (const char *p = path; *p != '\0'; ++p) {
        if (next_field_byte(text) != static_cast<unsigned char>(*p))
            return false;
    }
    return next_field_byte(text) == -1;
}

/// The path by which mountinfo names `path`: its directory as the kernel names it once every
/// symbolic link is resolved (what /proc/self/fd shows for the open directory), then its last
/// component as it stands (the path itself is no link here). `path` is absolute. Returns false
/// when the directory cannot be opened or the result does not fit.
bool resolve_directory(const char *path, char (&resolved)[PATH_MAX]) {
    directory_path directory;
    if (!containing_directory(path, directory))
        return false;
    int opened = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (opened < 0)
        return false;
    constexpr char link_template[] = "/proc/self/fd/%d";
    char link[filled_capacity(link_template, 0, max_decimal_length)];
    ssize_t length = -1;
    if (fill_template(link, sizeof link, link_template, opened, nullptr, 0))
        length = readlink(link, resolved, sizeof resolved - 1);
    (void)close(opened);
    if (length <= 0)
        return false;
    const char *name = strrchr(path, '/') + 1;
    size_t at = static_cast<size_t>(length);
    size_t name_length = strlen(name);
    if (at > 1)
        resolved[at++] = '/';
    if (at + name_length >= sizeof resolved)
        return false;
    memcpy(resolved + at, name, name_length + 1);
    return true;
}

} // namespace

bool mountinfo_lists(FILE *mountinfo, const char *path) {
    bool listed = false;
    // Each line: mount ID, parent ID, major:minor, root, mount point, ...
    do {
        if (skip_fields(mountinfo, 4) && field_is(mountinfo, path))
            listed = true;
    } while (skip_line(mountinfo));
    return listed;
}

mount_point_answer is_mount_point(const char *path) {
    mount_point_answer answer = ask_statx(path);
    if (answer != mount_point_answer::unknown || path[0] != '/')
        return answer;
    // mountinfo lists a mount under its real path, not one through a symbolic link.
    char resolved[PATH_MAX];
    if (!resolve_directory(path, resolved))
        return mount_point_answer::unknown;
    FILE *mountinfo = fopen("/proc/self/mountinfo", "r");
    if (mountinfo == nullptr)
        return mount_point_answer::unknown;
    answer =
        mountinfo_lists(mountinfo, resolved) ? mount_point_answer::yes : mount_point_answer::no;
    (void)fclose(mountinfo);
    return answer;
}
