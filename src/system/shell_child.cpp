#include "shell_child.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/resource.h>
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

/// The capability sets' header versions: two sets of 32 bits (Linux 2.6.26), one (before).
constexpr uint32_t capability_version_3 = 0x20080522;
constexpr uint32_t capability_version_1 = 0x19980330;

/// keyctl's operation that gives the caller a new session keyring of its own.
constexpr long keyctl_join_session_keyring = 1;

/// Empties the effective, permitted and inheritable capability sets; an empty permitted set
/// leaves no ambient capability either.
bool drop_all_capabilities() {
    uint32_t header[2] = {capability_version_3, 0};
    uint32_t none[6] = {};
    if (syscall(SYS_capset, header, none) == 0)
        return true;
    header[0] = capability_version_1;
    header[1] = 0;
    return syscall(SYS_capset, header, none) == 0;
}

/// In the child: takes on `user` for good. The capabilities are kept across the change of user
/// (and dropped right after), so that from the change on the child holds capabilities its user
/// lacks: the kernel lets no one without them trace it, whatever `fs.suid_dumpable` says, until
/// it is made undumpable. It holds a copy of the run's memory until its exec, and stays
/// undumpable until then; its new program is the user's to trace, and holds nothing of root's.
bool become(const child_user &user) {
    if (user.as_self)
        return true;
    // No core dump, ever, and not by the user's choice either: the process still holds root's
    // memory until its exec.
    const unsigned long no_core[2] = {0, 0};
    if (syscall(SYS_setrlimit, RLIMIT_CORE, no_core) != 0 ||
        syscall(SYS_prctl, PR_SET_KEEPCAPS, 1, 0, 0, 0) != 0 ||
        syscall(setgroups_call, 0, nullptr) != 0 || syscall(setgid_call, user.gid) != 0 ||
        syscall(setuid_call, user.uid) != 0 ||
        syscall(SYS_prctl, PR_SET_DUMPABLE, 0, 0, 0, 0) != 0 || !drop_all_capabilities())
        return false;
    // Root's session keyring would otherwise come along, and its keys with it. A kernel built
    // without keys has no keyring to leave behind.
    if (syscall(SYS_keyctl, keyctl_join_session_keyring, nullptr) < 0 && errno != ENOSYS &&
        errno != EOPNOTSUPP)
        return false;
    return syscall(setuid_call, 0) != 0;
}

/// fork() as the kernel makes it, without the C library's handlers for threads this program
/// does not have (musl's bring 2.4 KB to the unit's build): the child only makes system calls,
/// then execs or exits.
pid_t copy_of_this_process() {
    return static_cast<pid_t>(syscall(SYS_clone, SIGCHLD, 0, 0, 0, 0));
}

/// In the child started for another user: standard input, output and error on /dev/null.
bool detach_standard_streams() {
    int null = open("/dev/null", O_RDWR | O_NOCTTY);
    if (null < 0)
        return false;
    bool detached = true;
    for (int stream = STDIN_FILENO; stream <= STDERR_FILENO; ++stream)
        detached = detached && (null == stream || dup2(null, stream) == stream);
    if (null > STDERR_FILENO)
        (void)close(null);
    return detached;
}

bool starts_with(const char *text, const char *prefix) {
    while (*prefix != '\0' && *text == *prefix) {
        ++text;
        ++prefix;
    }
    return *prefix == '\0';
}

/// What every child's environment is made of: the search path, and what `date` and the
/// utilities print by (the time zone and the locale).
bool is_passed_on(const char *variable) {
    constexpr const char *prefixes[] = {"TZ=", "LANG=", "LANGUAGE=", "LC_"};
    for (const char *prefix : prefixes) {
        if (starts_with(variable, prefix))
            return true;
    }
    return false;
}

/// The children's environment: made once a run, from the environment the run was started with.
constexpr size_t max_child_variables = 24;
char *child_environment[max_child_variables + 1];

void make_child_environment() {
    size_t count = 0;
    child_environment[count++] = const_cast<char *>(child_search_path);
    for (char **variable = environ; *variable != nullptr && count < max_child_variables;
         ++variable) {
        if (is_passed_on(*variable))
            child_environment[count++] = *variable;
    }
    child_environment[count] = nullptr;
}

/// Where /proc is not mounted, every descriptor number below this is taken to be open: the
/// limit on open files that a process of a unit's init, or of a shell, starts with is 1,024 or
/// 4,096.
constexpr int descriptors_tried_without_proc = 65536;

/// Marks `fd` close-on-exec. The call is made directly: the C library's wrapper handles every
/// command fcntl has, and a unit's small build carries them all for this one.
void close_on_exec(int fd) {
#ifdef SYS_fcntl64
    (void)syscall(SYS_fcntl64, fd, F_SETFD, FD_CLOEXEC);
#else
    (void)syscall(SYS_fcntl, fd, F_SETFD, FD_CLOEXEC);
#endif
}

/// What to do to a descriptor: mark it close-on-exec, or close it now.
enum class descriptor_action { close_on_exec, close_now };

void act_on(int fd, descriptor_action action) {
    if (action == descriptor_action::close_now)
        (void)close(fd);
    else
        close_on_exec(fd);
}

/// Does `action` to every descriptor this process holds beyond the standard three, as listed in
/// /proc/self/fd; where that cannot be read, to every number below
/// `descriptors_tried_without_proc`. The 2.6.16 floor has no close_range.
void for_each_other_descriptor(descriptor_action action) {
    int listing = open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listing < 0) {
        for (int fd = STDERR_FILENO + 1; fd < descriptors_tried_without_proc; ++fd)
            act_on(fd, action);
        return;
    }
    // Entries as getdents64 gives them: 8 bytes of inode, 8 of offset, 2 of length, 1 of type,
    // then the name.
    constexpr size_t name_offset = 19;
    alignas(8) char entries[512];
    long length = 0;
    while ((length = syscall(SYS_getdents64, listing, entries, sizeof entries)) > 0) {
        for (long at = 0; at < length;) {
            unsigned short entry_length = 0;
            memcpy(&entry_length, entries + at + 16, sizeof entry_length);
            const char *name = entries + at + name_offset;
            long fd = 0;
            bool numeric = *name != '\0';
            for (; *name != '\0' && numeric && fd < INT_MAX / 10; ++name) {
                numeric = *name >= '0' && *name <= '9';
                fd = fd * 10 + (*name - '0');
            }
            if (numeric && *name == '\0' && fd > STDERR_FILENO && fd != listing)
                act_on(static_cast<int>(fd), action);
            if (entry_length == 0)
                break;
            at += entry_length;
        }
    }
    (void)close(listing);
}

/// What a run does once, before its first child.
void prepare_for_children() {
    static bool prepared = false;
    if (prepared)
        return;
    prepared = true;
    // A parent that left SIGCHLD ignored would make every wait fail, and a good copy would be
    // logged as failed.
    (void)signal(SIGCHLD, SIG_DFL);
    // Every descriptor the run holds, or was started with (a terminal, a socket, a file of
    // root's), is closed at exec: none reaches a child.
    for_each_other_descriptor(descriptor_action::close_on_exec);
    make_child_environment();
}

/// In the child: its session, its streams (`output`, when not -1, as its standard output), "/",
/// the user, then the signal mask `mask` and the shell. Never returns.
[[noreturn]] void run_in_child(const char *command, const child_user &user, int output,
                               const sigset_t &mask) {
    if (setsid() < 0 || (!user.as_self && !detach_standard_streams()) ||
        (output >= 0 && dup2(output, STDOUT_FILENO) < 0) || chdir("/") != 0)
        _exit(could_not_run_shell);
    // A copy for another user closes what it holds beyond its three streams before it is that
    // user's: stopped by them before its exec, and left behind by a run that was killed, it must
    // not keep the run's lock or a file of root's open.
    if (!user.as_self)
        for_each_other_descriptor(descriptor_action::close_now);
    if (!become(user))
        _exit(could_not_become_user);
    (void)sigprocmask(SIG_SETMASK, &mask, nullptr);
    char shell_name[] = "sh";
    char option[] = "-c";
    char *const argv[] = {shell_name, option, const_cast<char *>(command), nullptr};
    (void)execve("/bin/sh", argv, child_environment);
    _exit(could_not_run_shell);
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

/// Waits for SIGCHLD (blocked in this process) until `deadline`, at most a second at a time (the
/// callers look again, and no division is needed). False once the deadline has passed.
bool wait_for_a_child(int64_t deadline) {
    int left = milliseconds_left(deadline);
    if (left == 0)
        return false;
    sigset_t chld = child_signal();
    struct timespec wait_for = {1, 0};
    if (left < 1000)
        wait_for = {0, static_cast<long>(left) * 1000000};
    (void)sigtimedwait(&chld, nullptr, &wait_for);
    return true;
}

/// Waits for the child's end, at most until `deadline`. With `reap`, collects it; without,
/// leaves it to be collected, so that its process and group IDs stay its own meanwhile. Returns
/// how it ended: `exited` or `killed`, `past_deadline` when the deadline passed first, or
/// `not_waited` when it cannot be waited for.
child_outcome wait_for_end(pid_t pid, int64_t deadline, bool reap) {
    for (;;) {
        siginfo_t info{};
        int options = WEXITED | WNOHANG | (reap ? 0 : WNOWAIT);
        if (waitid(P_PID, static_cast<id_t>(pid), &info, options) == 0) {
            if (info.si_pid == pid) {
                if (info.si_code == CLD_EXITED)
                    return {child_end::exited, static_cast<uint8_t>(info.si_status & 0xff)};
                return {child_end::killed, static_cast<uint8_t>(info.si_status & 0x7f)};
            }
        } else if (errno != EINTR) {
            return {child_end::not_waited, 0};
        }
        if (!wait_for_a_child(deadline))
            return {child_end::past_deadline, 0};
    }
}

} // namespace

bool start_shell(const char *command, const child_user &user, bool capture_output,
                 shell_child &child) {
    prepare_for_children();
    int pipe_ends[2] = {-1, -1};
    if (capture_output && pipe2(pipe_ends, O_CLOEXEC) != 0)
        return false;
    // Every signal is blocked while the child is made. The child takes the run's mask, SIGCHLD
    // unblocked, only right before its exec: until then a child for another user holds root's
    // memory, and no signal that user sends it may run a handler or dump a core meanwhile (it
    // is pending until then, and the child undumpable by then). SIGCHLD stays blocked in this
    // process from the first child on, so that a child's end is never missed between a look and
    // the wait for it (see `finish_shell`).
    sigset_t all;
    sigset_t before;
    (void)sigfillset(&all);
    (void)sigprocmask(SIG_BLOCK, &all, &before);
    sigset_t child_mask = before;
    (void)sigdelset(&child_mask, SIGCHLD);
    // A child of the run's own shares this process's memory until its exec, as posix_spawn's
    // does: it only makes system calls, then execs or exits. A child for another user is a copy
    // instead: once it is that user's, the user may stop it before its exec, and this process
    // would wait for that exec, with no deadline, had it lent its memory. Either child's
    // session is its own from its first step: it has no controlling terminal, and its group is
    // ended as one. (The parent sets no group for it: where vfork is a plain fork, that could
    // come first and make the session fail.)
    pid_t pid = user.as_self ? vfork() : copy_of_this_process();
    if (pid == 0)
        run_in_child(command, user, capture_output ? pipe_ends[1] : -1, child_mask);
    sigset_t parent_mask = before;
    (void)sigaddset(&parent_mask, SIGCHLD);
    (void)sigprocmask(SIG_SETMASK, &parent_mask, nullptr);
    if (capture_output)
        (void)close(pipe_ends[1]);
    if (pid < 0) {
        if (capture_output)
            (void)close(pipe_ends[0]);
        return false;
    }
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

child_outcome finish_shell(shell_child &child, int64_t deadline) {
    if (child.output >= 0) {
        (void)close(child.output);
        child.output = -1;
    }
    child_outcome outcome = wait_for_end(child.pid, deadline, false);
    // The shell and everything it started end now: a pipeline's last member still blocked on
    // a FIFO after the shell itself has gone, or a whole pipeline past its deadline. Where the
    // session could not be made yet (vfork as a plain fork, the child not yet run), the child
    // alone.
    if (kill(-child.pid, SIGKILL) != 0)
        (void)kill(child.pid, SIGKILL);
    child_outcome reaped = wait_for_end(child.pid, monotonic_ms() + reap_deadline_ms, true);
    if (outcome.end == child_end::past_deadline)
        return outcome;
    // An end that a tracer holds back past the reap's bound is init's to collect.
    if (reaped.end == child_end::past_deadline)
        return {child_end::not_waited, 0};
    return reaped;
}

child_outcome run_shell(const char *command, const child_user &user, int64_t timeout_ms) {
    shell_child child{-1, -1};
    if (!start_shell(command, user, false, child))
        return {child_end::not_started, 0};
    return finish_shell(child, monotonic_ms() + timeout_ms);
}
