#include "directory_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "replacement.h"

int lock_containing_directory(const char *path) {
    directory_path directory;
    if (!containing_directory(path, directory))
        return -1;
    int lock = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (lock < 0)
        return -1;
    int locked = 0;
    while ((locked = flock(lock, LOCK_EX)) != 0 && errno == EINTR) {
    }
    if (locked != 0) {
        (void)close(lock);
        return -1;
    }
    return lock;
}

void release_directory_lock(int lock) {
    if (lock >= 0)
        (void)close(lock);
}
