#include "regular_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

file_start read_file_start(const char *path, uint8_t *bytes, size_t size, int64_t &file_size) {
    struct stat info {};
    if (stat(path, &info) != 0)
        return errno == ENOENT ? file_start::missing : file_start::unreadable;
    if (!S_ISREG(info.st_mode))
        return file_start::not_regular;
    // Non-blocking, in case the path was swapped for a FIFO since: checked again below.
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? file_start::missing : file_start::unreadable;
    file_start result = file_start::unreadable;
    if (fstat(fd, &info) != 0) {
        (void)close(fd);
        return result;
    }
    if (!S_ISREG(info.st_mode)) {
        (void)close(fd);
        return file_start::not_regular;
    }
    file_size = static_cast<int64_t>(info.st_size);
    size_t got = 0;
    ssize_t count = 0;
    while (got < size &&
           ((count = read(fd, bytes + got, size - got)) > 0 || (count < 0 && errno == EINTR)))
        got += count > 0 ? static_cast<size_t>(count) : 0;
    if (got == size)
        result = file_start::whole;
    else if (count == 0)
        result = file_start::short_file;
    (void)close(fd);
    return result;
}
