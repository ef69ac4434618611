#include "shell_child.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace {

constexpr int could_not_become_user = 126;
constexpr int could_not_run_shell = 127;

// The credentials calls are made directly: the C library's wrappers synchronise every thread
// of a process, which a child between fork and exec has no need of.
#ifdef SYS_setgroups32
constexpr long setgroups_call = SYS_setgroups32, setgid_call = SYS_setgid32,
               setuid_call = SYS_setuid32;
#else
constexpr long setgroups_call = SYS_setgroups, setgid_call = SYS_setgid, setuid_call = SYS_setuid;
#endif

/// In the child: drops every group but `user`'s, then takes on its group and user.
bool become(const child_user &user) {
    return user.as_self ||
           (syscall(setgroups_call, 0, nullptr) == 0 && syscall(setgid_call, user.gid) == 0 &&
            syscall(setuid_call, user.uid) == 0);
}

sigset_t child_signal() {
    sigset_t set;
    (void)sigemptyset(&set);
    (void)sigaddset(&set, SIGCHLD);
    return set;
}

/// Milliseconds from now to `deadline`, as poll and the wait take them; 0 once it has passed.
int milliseconds_left(int64_t deadline) {
    int64_t left = deadline - monotonic_ms();
    if (left <= 0)
        return 0;
    return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

} // namespace

int64_t monotonic_ms() {
    struct timespec now {};
    (void)clock_gettime(CLOCK_MONOTONIC, &now);
    // Division by a constant, unsigned: a multiplication, not libgcc's division, on the unit.
    return static_cast<int64_t>(now.tv_sec) * 1000 + static_cast<uint32_t>(now.tv_nsec) / 1000000U;
}

bool start_shell(const char *command, const child_user &user, bool capture_output,
                 shell_child &child) {
    int pipe_ends[2] = {-1, -1};
    if (capture_output && pipe2(pipe_ends, O_CLOEXEC) != 0)
        return false;
    // SIGCHLD stays blocked in this process from the first child on, so that a child's end is
    // never missed between a look and the wait for it (see `finish_shell`).
    sigset_t chld = child_signal();
    (void)sigprocmask(SIG_BLOCK, &chld, nullptr);
    // The child shares this process's memory until its exec, as posix_spawn's does: it only
    // makes system calls, then execs or exits.
    pid_t pid = vfork();
    if (pid == 0) {
        (void)sigprocmask(SIG_UNBLOCK, &chld, nullptr);
        (void)setpgid(0, 0);
        if (capture_output && dup2(pipe_ends[1], STDOUT_FILENO) < 0)
            _exit(could_not_run_shell);
        if (!become(user))
            _exit(could_not_become_user);
        char shell_name[] = "sh";
        char option[] = "-c";
        char *const argv[] = {shell_name, option, const_cast<char *>(command), nullptr};
        (void)execve("/bin/sh", argv, environ);
        _exit(could_not_run_shell);
    }
    if (capture_output)
        (void)close(pipe_ends[1]);
    if (pid < 0) {
        if (capture_output)
            (void)close(pipe_ends[0]);
        return false;
    }
    // A vfork child has set its group before its exec; where vfork is a plain fork, whichever
    // side runs first sets it.
    (void)setpgid(pid, pid);
    child.pid = pid;
    child.output = capture_output ? pipe_ends[0] : -1;
    return true;
}

ssize_t read_child_output(const shell_child &child, char *bytes, size_t capacity,
                          int64_t deadline) {
    for (;;) {
        int left = milliseconds_left(deadline);
        if (left == 0)
            return -1;
        struct pollfd ready = {child.output, POLLIN, 0};
        int polled = poll(&ready, 1, left);
        if (polled == 0)
            return -1;
        if (polled < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        ssize_t count = read(child.output, bytes, capacity);
        if (count >= 0 || errno != EINTR)
            return count;
    }
}

int finish_shell(shell_child &child, int64_t deadline) {
    if (child.output >= 0) {
        (void)close(child.output);
        child.output = -1;
    }
    sigset_t chld = child_signal();
    int status = 0;
    for (;;) {
        pid_t ended = waitpid(child.pid, &status, WNOHANG);
        if (ended == child.pid)
            return status;
        if (ended < 0 && errno != EINTR)
            return -1;
        int left = milliseconds_left(deadline);
        if (left == 0)
            break;
        // At most a second at a time: the loop looks again, and no division is needed.
        struct timespec wait_for = {1, 0};
        if (left < 1000)
            wait_for = {0, static_cast<long>(left) * 1000000};
        (void)sigtimedwait(&chld, nullptr, &wait_for);
    }
    // Past the deadline: the shell and everything it started end now.
    (void)kill(-child.pid, SIGKILL);
    while (waitpid(child.pid, &status, 0) < 0 && errno == EINTR) {
    }
    return -1;
}

int run_shell(const char *command, const child_user &user, int64_t timeout_ms) {
    shell_child child{-1, -1};
    if (!start_shell(command, user, false, child))
        return -1;
    return finish_shell(child, monotonic_ms() + timeout_ms);
}
