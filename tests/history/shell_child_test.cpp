// What a history entry's child, started for another user, holds of the run, seen from /proc
// while it waits on a FIFO at the history, as that user could see it; and that no wait on it is
// unbounded, whatever happens to it.
#include <algorithm>
#include <chrono>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <string>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "history/history.h"
#include "support/test_files.h"

namespace {

// A user of its own: the processes of this user are looked for, and no other test runs as it.
constexpr uid_t app_uid = 3579;
constexpr gid_t app_gid = 5678;

/// A process as /proc shows it: the fields of its status, stat, environment, descriptors and
/// working directory that a child must not share with the run.
struct seen_process {
    pid_t pid = 0;
    std::string status;
    std::string stat_fields;
    std::string environment;
    std::vector<std::string> descriptors; ///< "fd -> target"
    std::string cwd;
};

std::string link_target(const std::string &path) {
    char target[4096];
    ssize_t length = readlink(path.c_str(), target, sizeof target);
    return length < 0 ? "<unreadable>" : std::string(target, static_cast<size_t>(length));
}

/// The value of a "Name:\tvalue" line of a status file.
std::string status_field(const std::string &status, const std::string &name) {
    std::size_t at = status.find("\n" + name + ":\t");
    if (at == std::string::npos)
        return "<none>";
    at += name.size() + 3;
    return status.substr(at, status.find('\n', at) - at);
}

/// Field `index` (1-based, as proc(5) counts) of a stat line.
std::string stat_field(const std::string &stat, int index) {
    std::size_t at = stat.rfind(") ");
    if (at == std::string::npos)
        return "<none>";
    at += 2;
    for (int field = 3; field < index; ++field)
        at = stat.find(' ', at) + 1;
    return stat.substr(at, stat.find(' ', at) - at);
}

/// The bytes of a /proc file, read with plain reads: a process may end while it is read, and
/// then its files answer ESRCH, which a stream would throw on. `gone` tells that it ended.
std::string read_proc_file(const std::string &path, bool &gone) {
    std::string bytes;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        gone = true;
        return bytes;
    }
    char buffer[4096];
    ssize_t got;
    while ((got = read(fd, buffer, sizeof buffer)) > 0)
        bytes.append(buffer, static_cast<size_t>(got));
    if (got < 0)
        gone = true;
    close(fd);
    return bytes;
}

/// Every process whose real user is `uid`; one that ends while it is looked at is left out.
std::vector<seen_process> processes_of(uid_t uid) {
    std::vector<seen_process> seen;
    DIR *proc = opendir("/proc");
    if (proc == nullptr)
        return seen;
    while (dirent *entry = readdir(proc)) {
        std::string name = entry->d_name;
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::string base = "/proc/" + name;
        seen_process process;
        bool gone = false;
        process.pid = std::stoi(name);
        process.status = "\n" + read_proc_file(base + "/status", gone);
        // A member that has ended and waits to be reaped holds nothing any more.
        if (status_field(process.status, "Uid").rfind(std::to_string(uid) + "\t", 0) != 0 ||
            status_field(process.status, "State").rfind("Z", 0) == 0)
            continue;
        process.stat_fields = read_proc_file(base + "/stat", gone);
        process.environment = read_proc_file(base + "/environ", gone);
        process.cwd = link_target(base + "/cwd");
        if (DIR *fds = opendir((base + "/fd").c_str())) {
            while (dirent *fd = readdir(fds)) {
                if (fd->d_name[0] != '.')
                    process.descriptors.push_back(std::string(fd->d_name) + " -> " +
                                                  link_target(base + "/fd/" + fd->d_name));
            }
            closedir(fds);
        }
        if (gone)
            continue;
        std::sort(process.descriptors.begin(), process.descriptors.end());
        seen.push_back(process);
    }
    closedir(proc);
    std::sort(seen.begin(), seen.end(),
              [](const seen_process &a, const seen_process &b) { return a.pid < b.pid; });
    return seen;
}

/// The processes of `uid` once the pipeline's members have started and wait (on the FIFO): the
/// same processes holding the same descriptors twice, 100 ms apart (2 s at most).
std::vector<seen_process> settled_processes_of(uid_t uid) {
    auto same = [](const std::vector<seen_process> &a, const std::vector<seen_process> &b) {
        if (a.size() != b.size())
            return false;
        for (std::size_t i = 0; i < a.size(); ++i) {
            if (a[i].pid != b[i].pid || a[i].descriptors != b[i].descriptors)
                return false;
        }
        return true;
    };
    std::vector<seen_process> seen = processes_of(uid);
    for (int tries = 0; tries < 20; ++tries) {
        usleep(100000);
        std::vector<seen_process> again = processes_of(uid);
        if (same(seen, again) && seen.size() >= 2)
            return again;
        seen = again;
    }
    return seen;
}

/// Waits up to `seconds` for a process of `uid` whose parent is this process: the entry's shell.
pid_t wait_for_shell_of(uid_t uid, int seconds) {
    for (int tries = 0; tries < seconds * 100; ++tries) {
        for (const seen_process &process : processes_of(uid)) {
            if (status_field(process.status, "PPid") == std::to_string(getpid()))
                return process.pid;
        }
        usleep(10000);
    }
    return -1;
}

class EntryChild : public ::testing::Test {
  protected:
    TempDir dir;
    std::string history = dir.file("History.txt");
    std::string accounts = dir.file("passwd");
    history_log log{};

    void SetUp() override {
        if (geteuid() != 0 || chown(dir.path().c_str(), app_uid, 0) != 0)
            GTEST_SKIP() << "needs root where other users are mapped";
        ASSERT_TRUE(processes_of(app_uid).empty()) << "another test's processes are still there";
        ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
        write_file(accounts, "app:x:3579:5678::/home/app:/bin/sh\n");
        // The entry's `cat >>` waits on the FIFO's open until its deadline.
        ASSERT_EQ(mkfifo(history.c_str(), 0644), 0);
        ASSERT_EQ(chown(history.c_str(), app_uid, app_gid), 0);
        log = open_history_log(history.c_str(), accounts.c_str());
        ASSERT_TRUE(log.appends);
        ASSERT_FALSE(log.writer.as_self);
        // The run blocks SIGCHLD from its first child on; the helper threads below inherit that.
        sigset_t chld;
        sigemptyset(&chld);
        sigaddset(&chld, SIGCHLD);
        pthread_sigmask(SIG_BLOCK, &chld, nullptr);
    }

    /// Appends an outcome entry and returns how long it took.
    std::chrono::milliseconds timed_entry() {
        auto started = std::chrono::steady_clock::now();
        append_outcome_entry(6170, true, log);
        return std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - started);
    }
};

// What the caller left open, its supplementary groups, its environment, its working directory,
// and its session and terminal: none of it reaches the user's processes.
TEST_F(EntryChild, HoldsNothingOfTheRunsForAnotherUser) {
    std::string leaked_file = dir.file("root-only");
    int leaked = open(leaked_file.c_str(), O_RDWR | O_CREAT, 0600); // not close-on-exec
    ASSERT_GE(leaked, 0);
    const gid_t root_groups[] = {4242};
    ASSERT_EQ(setgroups(1, root_groups), 0);
    ASSERT_EQ(setenv("UNITCFG_TEST_SECRET", "root's secret", 1), 0);
    ASSERT_EQ(setenv("TZ", "UTC0", 1), 0);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);

    log.entry_timeout_ms = 3000;
    std::vector<seen_process> seen;
    std::thread observer([&] {
        if (wait_for_shell_of(app_uid, 3) < 0)
            return;
        seen = settled_processes_of(app_uid);
        // Lets the entry end: the FIFO gets a reader.
        int reader = open(history.c_str(), O_RDONLY | O_NONBLOCK);
        usleep(300000);
        close(reader);
    });
    timed_entry();
    observer.join();
    close(leaked);
    unsetenv("UNITCFG_TEST_SECRET");

    ASSERT_FALSE(seen.empty()) << "no process of the user was seen";
    std::string session = std::to_string(getsid(0));
    for (const seen_process &process : seen) {
        SCOPED_TRACE("process " + std::to_string(process.pid) + ":" + process.status);
        EXPECT_EQ(status_field(process.status, "Groups").find_first_not_of(' '), std::string::npos)
            << "supplementary groups";
        EXPECT_EQ(status_field(process.status, "Gid").substr(0, 5), "5678\t");
        EXPECT_EQ(status_field(process.status, "CapPrm"), "0000000000000000");
        EXPECT_EQ(status_field(process.status, "CapInh"), "0000000000000000");
        EXPECT_EQ(status_field(process.status, "CapAmb"), "0000000000000000");
        EXPECT_NE(stat_field(process.stat_fields, 6), session) << "the run's session";
        EXPECT_EQ(stat_field(process.stat_fields, 7), "0") << "a controlling terminal";
        EXPECT_EQ(process.cwd, "/");
        EXPECT_EQ(process.environment.find("UNITCFG_TEST_SECRET"), std::string::npos);
        EXPECT_NE(process.environment.find("PATH=/usr/sbin:/usr/bin:/sbin:/bin"),
                  std::string::npos);
        EXPECT_NE(process.environment.find("TZ=UTC0"), std::string::npos);
        for (const std::string &descriptor : process.descriptors) {
            EXPECT_TRUE(descriptor.rfind("0 -> ", 0) == 0 || descriptor.rfind("1 -> ", 0) == 0 ||
                        descriptor.rfind("2 -> ", 0) == 0)
                << descriptor;
            EXPECT_EQ(descriptor.find(leaked_file), std::string::npos) << descriptor;
            EXPECT_EQ(descriptor.find("/dev/pts"), std::string::npos) << descriptor;
        }
    }
}

// The shell ends (its user kills it) while its `cat` still waits on the FIFO: the rest of its
// group ends before the run goes on, and nothing of the entry outlives it.
TEST_F(EntryChild, WhatTheShellStartedEndsWithIt) {
    log.entry_timeout_ms = 5000;
    std::thread killer([&] {
        pid_t shell = wait_for_shell_of(app_uid, 3);
        usleep(300000);
        if (shell > 0)
            kill(shell, SIGKILL);
    });
    std::chrono::milliseconds took = timed_entry();
    killer.join();
    EXPECT_LT(took.count(), 3000) << "the run waited past the shell's end";
    std::vector<seen_process> left;
    for (int tries = 0; tries < 50 && !(left = processes_of(app_uid)).empty(); ++tries)
        usleep(10000);
    EXPECT_TRUE(left.empty()) << left.size() << " process(es) of the entry outlived it";
}

// A tracer that never lets the child's end be reported: the run waits for the reap no longer
// than its bound, and goes on. (An emulator for another CPU cannot trace: under one, the
// end-to-end case traces the children, which are the host's, with the host's ptrace.)
#ifndef UNITCFG_TESTS_EMULATED
TEST_F(EntryChild, ATracerCannotHoldTheRunPastTheReapsBound) {
    log.entry_timeout_ms = 500;
    pid_t tracer = -1;
    char seized = 0;
    int seized_pipe[2];
    ASSERT_EQ(pipe(seized_pipe), 0);
    std::thread attacher([&] {
        pid_t shell = wait_for_shell_of(app_uid, 3);
        if (shell <= 0)
            return;
        tracer = fork();
        if (tracer == 0) {
            // Holds the trace and never waits; gone after 10 s, so a run that waits for it
            // without a bound still ends, and fails here.
            alarm(10);
            if (ptrace(PTRACE_SEIZE, shell, nullptr, nullptr) != 0)
                _exit(1);
            (void)!write(seized_pipe[1], "y", 1);
            for (;;)
                pause();
        }
        close(seized_pipe[1]);
        (void)!read(seized_pipe[0], &seized, 1);
    });
    std::chrono::milliseconds took = timed_entry();
    attacher.join();
    ASSERT_GT(tracer, 0);
    kill(tracer, SIGKILL);
    waitpid(tracer, nullptr, 0);
    EXPECT_EQ(seized, 'y') << "the tracer could not attach";
    EXPECT_LT(took.count(), 500 + reap_deadline_ms + 1500);
}
#endif

} // namespace
