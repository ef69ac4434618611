#include "regular_file.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

/// Opens `path` without blocking (`flags` added) and keeps it only when it is a regular file.
/// Leaves its size in `file_size`; -1 with `errno` set otherwise.
int open_checked(const char *path, int flags, int64_t &file_size) {
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | flags);
    if (fd < 0)
        return -1;
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        (void)close(fd);
        errno = EINVAL;
        return -1;
    }
    file_size = static_cast<int64_t>(info.st_size);
    return fd;
}

read_outcome read_opened(int fd, uint8_t *bytes, size_t size) {
    ssize_t got = read_up_to(fd, bytes, size);
    (void)close(fd);
    if (got == static_cast<ssize_t>(size))
        return read_outcome::whole;
    return got >= 0 ? read_outcome::short_file : read_outcome::unreadable;
}

/// The result of an open that failed: the path went missing, was swapped for something that is
/// no regular file, or cannot be read.
read_outcome open_failure() {
    if (errno == ENOENT)
        return read_outcome::missing;
    return errno == EINVAL || errno == ELOOP ? read_outcome::not_regular : read_outcome::unreadable;
}

} // namespace

ssize_t read_up_to(int fd, void *bytes, size_t size) {
    size_t got = 0;
    while (got < size) {
        ssize_t count = read(fd, static_cast<char *>(bytes) + got, size - got);
        if (count == 0)
            break;
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        got += static_cast<size_t>(count);
    }
    return static_cast<ssize_t>(got);
}

read_outcome read_file_start(const char *path, uint8_t *bytes, size_t size, int64_t &file_size) {
    struct stat info {};
    if (stat(path, &info) != 0)
        return errno == ENOENT ? read_outcome::missing : read_outcome::unreadable;
    if (!S_ISREG(info.st_mode))
        return read_outcome::not_regular;
    int fd = open_checked(path, 0, file_size);
    return fd < 0 ? open_failure() : read_opened(fd, bytes, size);
}

read_outcome read_judged_file_start(const char *path, uint8_t *bytes, size_t size,
                                    int64_t &file_size) {
    int fd = open_checked(path, O_NOFOLLOW, file_size);
    return fd < 0 ? open_failure() : read_opened(fd, bytes, size);
}

read_outcome read_trusted_file_start(const char *path, uint8_t *bytes, size_t size,
                                     int64_t &file_size, trust &verdict) {
    verdict = check_trusted_file(path, file_size);
    if (verdict != trust::trusted)
        return refused_read(verdict);
    return read_judged_file_start(path, bytes, size, file_size);
}

read_outcome refused_read(trust verdict) {
    switch (verdict) {
    case trust::missing:
        return read_outcome::missing;
    case trust::not_regular:
        return read_outcome::not_regular;
    case trust::unreadable:
        return read_outcome::unreadable;
    default:
        return read_outcome::not_trusted;
    }
}

int open_regular_file(const char *path) {
    struct stat info {};
    int64_t size = 0;
    if (stat(path, &info) != 0 || !S_ISREG(info.st_mode))
        return -1;
    return open_checked(path, 0, size);
}

bool same_bytes_from(const char *judged_path, const char *path, size_t offset) {
    int64_t size = 0;
    int first = open_checked(judged_path, O_NOFOLLOW, size);
    int second = open_regular_file(path);
    bool same = first >= 0 && second >= 0;
    char first_bytes[256];
    char second_bytes[256];
    // The bytes before `offset` are read and passed over, not sought past: no other call.
    size_t passed = 0;
    while (same) {
        ssize_t count = read_up_to(first, first_bytes, sizeof first_bytes);
        same = count >= 0 && read_up_to(second, second_bytes, sizeof second_bytes) == count;
        size_t read = same ? static_cast<size_t>(count) : 0;
        size_t skip = offset > passed ? offset - passed : 0;
        skip = skip < read ? skip : read;
        same = same && memcmp(first_bytes + skip, second_bytes + skip, read - skip) == 0;
        passed += read;
        // A read of less than the buffer is the end of both files.
        if (read < sizeof first_bytes)
            break;
    }
    if (first >= 0)
        (void)close(first);
    if (second >= 0)
        (void)close(second);
    return same;
}
