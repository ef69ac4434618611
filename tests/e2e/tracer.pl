#!/usr/bin/perl
# The application user's tracer, for the end-to-end cases: waits for a history entry's shell of
# its own user and seizes it with ptrace; reports what each process of its user holds, as the
# user reads it in /proc; then keeps the trace for HOLD seconds and never waits for the shell
# again, so that its end is reported here first and not to the run.
# usage: tracer.pl REPORT HOLD
# Report lines: "seized PID", then for each process "process PID STATE", "fd N -> TARGET",
# "environ VARIABLE", "session own|SID tty TTY_NR" (own: the seized shell's session), "cwd DIR".
use strict;
use warnings;
use POSIX qw(WNOHANG WIFSTOPPED WSTOPSIG);
require 'syscall.ph';

my ($report, $hold) = @ARGV;
my ($ptrace_seize, $ptrace_cont) = (0x4206, 7);
open(my $out, '>', $report) or die "cannot write $report: $!";
$out->autoflush(1);

sub read_all {
    my ($path) = @_;
    open(my $in, '<', $path) or return undef;
    local $/;
    my $text = <$in>;
    close $in;
    return $text;
}

# The processes of this user but this one, ended ones left out.
sub processes_of_mine {
    my @pids;
    opendir(my $proc, '/proc') or return ();
    for my $pid (grep { /^\d+$/ } readdir $proc) {
        next if $pid == $$;
        my $status = read_all("/proc/$pid/status") // next;
        next unless $status =~ /^Uid:\t(\d+)/m && $1 == $<;
        next if $status =~ /^State:\tZ/m;
        push @pids, $pid;
    }
    closedir $proc;
    return sort { $a <=> $b } @pids;
}

my $shell;
for (1 .. 1500) {
    for my $pid (processes_of_mine()) {
        my $command = read_all("/proc/$pid/cmdline") // next;
        if ($command =~ m{(^|\0|/)sh\0-c\0(date|echo|printf) }) {
            $shell = $pid;
            last;
        }
    }
    last if defined $shell;
    select(undef, undef, undef, 0.02);
}
defined $shell or do { print $out "no entry's shell seen\n"; exit 1 };
if (syscall(&SYS_ptrace, $ptrace_seize, $shell + 0, 0, 0) != 0) {
    print $out "cannot seize $shell: $!\n";
    exit 1;
}
print $out "seized $shell\n";

# A signal the seized shell gets (SIGCHLD, as a member of its pipeline ends) stops it for this
# tracer; left so, it would keep what it held at that instant, between its forks its own pipes.
# Until its holdings are reported, each such stop is let go on, its signal delivered.
my $all_kinds = 0x40000000;    # __WALL: the shell is not this process's child
sub let_the_shell_go_on {
    while (waitpid($shell, WNOHANG | $all_kinds) == $shell && WIFSTOPPED($?)) {
        my $signal = ($? >> 16) ? 0 : WSTOPSIG($?);
        syscall(&SYS_ptrace, $ptrace_cont, $shell + 0, 0, $signal + 0);
    }
}

# What each process of this user holds, as report lines.
sub holdings {
    my $text = '';
    for my $pid (processes_of_mine()) {
        my $stat = read_all("/proc/$pid/stat") // '';
        my @fields = split / /, substr($stat, rindex($stat, ') ') + 2);
        $text .= "process $pid " . ($fields[0] // '?') . "\n";
        if (opendir(my $fds, "/proc/$pid/fd")) {
            for my $fd (sort { $a <=> $b } grep { /^\d+$/ } readdir $fds) {
                $text .= "fd $fd -> " . (readlink("/proc/$pid/fd/$fd") // '?') . "\n";
            }
            closedir $fds;
        } else {
            $text .= "fd unreadable\n";
        }
        my $environment = read_all("/proc/$pid/environ") // "unreadable";
        $text .= "environ $_\n" for grep { length } split /\0/, $environment;
        # After the command's name: state, ppid, pgrp, session, tty_nr.
        my ($session, $tty) = @fields[3, 4];
        $text .= sprintf "session %s tty %s\n", ($session == $shell ? 'own' : $session), $tty;
        $text .= 'cwd ' . (readlink("/proc/$pid/cwd") // '?') . "\n";
    }
    return $text;
}

# Once the pipeline's members have started and the last one waits on the FIFO: the same
# holdings twice, 100 ms apart, of more than the shell alone, none of its processes running or
# waiting for a CPU (3 s at most). A shell between its forks holds the pipes it is making, and
# on a loaded machine a child may wait longer than 100 ms for its first turn.
let_the_shell_go_on();
my $seen = holdings();
for (1 .. 30) {
    select(undef, undef, undef, 0.1);
    let_the_shell_go_on();
    my $again = holdings();
    my $processes = () = $again =~ /^process /mg;
    last if $again eq $seen && $processes > 1 && $again !~ /^process \d+ R$/m;
    $seen = $again;
}
print $out $seen;
sleep $hold;
