#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "replacement.h"
#include "unit_config.h"

int take_run_lock(const unit_config_paths &paths) {
    directory_path directory;
    if (!containing_directory(paths.installed_file, directory))
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

void release_run_lock(int lock) {
    if (lock >= 0)
        (void)close(lock);
}
