#include "directory_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <unistd.h>

#include "../system/clock.h"
#include "../system/trusted_path.h"

namespace {

/// How often a held lock is tried again: a second run follows a first one this soon.
constexpr int retry_interval_ms = 20;

} // namespace

int lock_containing_directory(const char *path, int64_t wait_ms) {
    directory_path directory;
    if (!containing_directory(path, directory))
        return -1;
    int lock = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (lock < 0)
        return -1;
    // The clock is read only once the lock is found held: a run alone pays one try.
    int64_t deadline = -1;
    while (flock(lock, LOCK_EX | LOCK_NB) != 0) {
        bool held = errno == EWOULDBLOCK || errno == EINTR;
        if (deadline < 0)
            deadline = monotonic_ms() + wait_ms;
        if (!held || monotonic_ms() >= deadline) {
            (void)close(lock);
            return -1;
        }
        (void)poll(nullptr, 0, retry_interval_ms);
    }
    return lock;
}

void release_directory_lock(int lock) {
    if (lock >= 0)
        (void)close(lock);
}
